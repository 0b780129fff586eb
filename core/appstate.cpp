#include "appstate.h"

#include "cases/isojson.h"
#include "messages/phonenumber.h"
#include "messages/unicodetext.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QPointer>
#include <QSaveFile>
#include <QThreadPool>

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace trovane {

// Carries results from the thread pool to the main thread. Tasks hold it by shared pointer, so it
// outlives every task that may still post; it forgets the state when the state is destroyed, and
// posted work then does nothing.
class MainThreadQueue : public QObject
{
public:
    explicit MainThreadQueue(AppState* state) : m_state(state) {}
    QPointer<AppState> m_state; // read and cleared on the main thread only
};

namespace {

// deleteLater may be called from any thread; the queue is deleted on the main thread.
std::shared_ptr<MainThreadQueue> makeQueue(AppState* state)
{
    return std::shared_ptr<MainThreadQueue>(new MainThreadQueue(state),
                                            [](MainThreadQueue* q) { q->deleteLater(); });
}

// Runs `fn` on the main thread, unless the state is gone by then. Any thread may call.
void post(const std::shared_ptr<MainThreadQueue>& queue, std::function<void(AppState&)> fn)
{
    QMetaObject::invokeMethod(
        queue.get(),
        [queue, fn = std::move(fn)] {
            if (queue->m_state)
                fn(*queue->m_state);
        },
        Qt::QueuedConnection);
}

template <class T> bool assign(T& member, const T& value)
{
    if (member == value)
        return false;
    member = value;
    return true;
}

QString describe(const std::exception& error)
{
    return QString::fromUtf8(error.what());
}

} // namespace

AppState::AppState(const ImportManager& manager, QObject* parent)
    : QObject(parent)
    , m_manager(std::make_shared<const ImportManager>(manager))
    , m_mainQueue(makeQueue(this))
{
}

AppState::~AppState()
{
    m_mainQueue->m_state.clear();
}

template <class Work, class Apply> void AppState::inBackground(Work work, Apply apply)
{
    auto queue = m_mainQueue;
    QThreadPool::globalInstance()->start([queue, work = std::move(work), apply = std::move(apply)]() mutable {
        auto result = work();
        post(queue, [apply = std::move(apply), result = std::move(result)](AppState& state) mutable {
            apply(state, std::move(result));
        });
    });
}

// A background result: a value, or the description of what failed.
template <class T> struct Outcome
{
    std::optional<T> value;
    QString error;
};

template <class T, class Fn> Outcome<T> attempt(Fn&& fn)
{
    try {
        return Outcome<T>{fn(), {}};
    } catch (const std::exception& e) {
        return Outcome<T>{std::nullopt, describe(e)};
    }
}

// ---- Setters: each emits only on a real change ------------------------------------------------

#define TROVANE_SETTER(Name, member, Type, signal)                                                           \
    void AppState::Name(Type value)                                                                          \
    {                                                                                                        \
        if (assign(member, value))                                                                           \
            emit signal();                                                                                   \
    }

TROVANE_SETTER(setRecord, m_record, const std::optional<ImportRecord>&, recordChanged)
TROVANE_SETTER(setConversations, m_conversations, const QList<Conversation>&, conversationsChanged)
TROVANE_SETTER(setSelectedConversationID,
               m_selectedConversationID,
               std::optional<qint64>,
               selectedConversationIDChanged)
TROVANE_SETTER(setMessages, m_messages, const QList<Message>&, messagesChanged)
TROVANE_SETTER(setMessageDays, m_messageDays, const QList<DayGroup>&, messageDaysChanged)
TROVANE_SETTER(setImporting, m_isImporting, bool, isImportingChanged)
TROVANE_SETTER(setLoadingMessages, m_isLoadingMessages, bool, isLoadingMessagesChanged)
TROVANE_SETTER(setErrorMessage, m_errorMessage, const std::optional<QString>&, errorMessageChanged)
TROVANE_SETTER(setIndexing, m_isIndexing, bool, isIndexingChanged)
TROVANE_SETTER(setIndexProgress, m_indexProgress, double, indexProgressChanged)
TROVANE_SETTER(setSearchReady, m_searchReady, bool, searchReadyChanged)
TROVANE_SETTER(setSearchMode, m_isSearchMode, bool, isSearchModeChanged)
TROVANE_SETTER(setFilter, m_filter, const MessageFilter&, filterChanged)
TROVANE_SETTER(setSearchScopeCurrent, m_searchScopeCurrent, bool, searchScopeCurrentChanged)
TROVANE_SETTER(setSearchResults, m_searchResults, const QList<SearchHit>&, searchResultsChanged)
TROVANE_SETTER(setSearching, m_isSearching, bool, isSearchingChanged)
TROVANE_SETTER(setScrollTarget, m_scrollTarget, std::optional<qint64>, scrollTargetChanged)
TROVANE_SETTER(setHighlightTerms, m_highlightTerms, const QStringList&, highlightTermsChanged)
TROVANE_SETTER(setOwnerName, m_ownerName, const QString&, ownerNameChanged)
TROVANE_SETTER(setExporting, m_isExporting, bool, isExportingChanged)
TROVANE_SETTER(setLastExportURL, m_lastExportURL, const std::optional<QString>&, lastExportURLChanged)
TROVANE_SETTER(setShowExport, m_showExport, bool, showExportChanged)
TROVANE_SETTER(setSelectedMessageIDs, m_selectedMessageIDs, const QSet<qint64>&, selectedMessageIDsChanged)

#undef TROVANE_SETTER

void AppState::setContactNames(const QMap<QString, QString>& names)
{
    if (!assign(m_contactNames, names))
        return;
    rebuildCanonicalNames();
    emit contactNamesChanged();
}

// ---- Derived ----------------------------------------------------------------------------------

std::optional<Conversation> AppState::selectedConversation() const
{
    if (!m_selectedConversationID)
        return std::nullopt;
    return conversationForID(*m_selectedConversationID);
}

std::optional<Conversation> AppState::conversationForID(qint64 id) const
{
    for (const Conversation& c : m_conversations) {
        if (c.id == id)
            return c;
    }
    return std::nullopt;
}

std::optional<Conversation> AppState::conversationForChatID(qint64 chatID) const
{
    for (const Conversation& c : m_conversations) {
        if (c.chatIDs.contains(chatID))
            return c;
    }
    return std::nullopt;
}

// ---- Case opening -----------------------------------------------------------------------------

void AppState::reopenMostRecent()
{
    if (m_store)
        return;
    if (const auto found = m_manager->loadMostRecentRecord())
        open(found->record, found->dbURL);
}

void AppState::open(const ImportRecord& record, const QString& dbURL)
{
    std::shared_ptr<MessageStore> store;
    try {
        store = std::make_shared<MessageStore>(dbURL);
    } catch (const std::exception& e) {
        setErrorMessage(QStringLiteral("Couldn't open the database: ") + describe(e));
        return;
    }
    const QString caseFolder = QFileInfo(dbURL).absolutePath();

    setSearchReady(false);
    setSearchResults({});
    m_store = std::move(store);
    setRecord(record);
    m_caseDirectory = caseFolder;
    m_attachmentsRoot = record.attachmentsRoot;

    QMap<QString, QString> names;
    QFile file(caseFolder + QStringLiteral("/contacts.json"));
    if (file.open(QIODevice::ReadOnly)) {
        // Only an object whose every member is a string counts as names; anything else is none.
        if (const auto object = iso::decodeObject(file.readAll())) {
            for (auto it = object->begin(); it != object->end(); ++it) {
                if (!it.value().isString()) {
                    names.clear();
                    break;
                }
                names.insert(it.key(), it.value().toString());
            }
        }
    }
    setOwnerName(names.take(QStringLiteral("$owner")));
    setContactNames(names);

    m_searchIndex = std::make_shared<const SearchIndex>(caseFolder + QStringLiteral("/index.db"), dbURL);
    loadConversations();
    buildIndexIfNeeded();
}

void AppState::loadConversations()
{
    if (!m_store)
        return;
    inBackground(
        [store = m_store] {
            return attempt<QList<Conversation>>([&] { return store->fetchConversations(); });
        },
        [](AppState& state, Outcome<QList<Conversation>> outcome) {
            if (!outcome.value) {
                state.setErrorMessage(QStringLiteral("Couldn't load conversations: ") + outcome.error);
                return;
            }
            state.setConversations(*outcome.value);
            if (!state.m_pendingRestoreChatID)
                return;
            const qint64 chat = *std::exchange(state.m_pendingRestoreChatID, std::nullopt);
            if (const auto found = state.conversationForChatID(chat))
                state.selectConversation(found->id);
        });
}

// ---- Selection --------------------------------------------------------------------------------

void AppState::selectConversation(std::optional<qint64> id)
{
    setSelectedConversationID(id);
    setMessages({});
    setMessageDays({});
    clearMessageSelection();
    if (!id || !m_store)
        return;

    // The conversation's chats, or the id itself taken as a chat's row id.
    const auto found = conversationForID(*id);
    const QList<std::int64_t> chats = found ? found->chatIDs : QList<std::int64_t>{*id};
    setLoadingMessages(true);

    struct Loaded
    {
        QList<Message> messages;
        QList<DayGroup> days;
    };
    const qint64 requested = *id;
    inBackground(
        [store = m_store, chats] {
            return attempt<Loaded>([&] {
                QList<Message> messages = store->fetchMessages(chats);
                QList<DayGroup> days = groupByDay(messages);
                return Loaded{std::move(messages), std::move(days)};
            });
        },
        [requested](AppState& state, Outcome<Loaded> outcome) {
            if (state.m_selectedConversationID != requested)
                return; // the user has moved on; this load is stale
            if (!outcome.value) {
                state.setLoadingMessages(false);
                state.setErrorMessage(QStringLiteral("Couldn't load messages: ") + outcome.error);
                return;
            }
            state.setMessages(outcome.value->messages);
            state.setMessageDays(outcome.value->days);
            state.setLoadingMessages(false);
        });
}

void AppState::userSelectedConversation(std::optional<qint64> id)
{
    setSearchMode(false);
    setHighlightTerms({});
    setScrollTarget(std::nullopt);
    selectConversation(id);
}

QList<DayGroup> AppState::groupByDay(const QList<Message>& messages)
{
    // Days of the zone current now: Qt's local time reads the TZ environment variable on every
    // call (as the search's end-of-day does), where ICU's default zone is fixed at its first use.
    // startOfDay gives the first moment that exists when a clock change skips midnight.

    // Messages mostly arrive in date order, so the day found last usually holds the next one too:
    // the zone is asked only when a message falls outside [dayStart, dayEnd).
    double dayStart = 1, dayEnd = 0; // empty
    const auto startOfDay = [&](Instant instant) {
        const double ms = std::floor(instant.unixSeconds * 1000.0);
        if (ms >= dayStart && ms < dayEnd)
            return Instant{dayStart / 1000.0};
        if (!std::isfinite(ms) || std::abs(ms) > 9.0e15)
            return instant;
        const QDate date = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms), Qt::LocalTime).date();
        const QDateTime start = date.startOfDay(Qt::LocalTime);
        const QDateTime end = date.addDays(1).startOfDay(Qt::LocalTime);
        if (!start.isValid() || !end.isValid())
            return instant;
        dayStart = static_cast<double>(start.toMSecsSinceEpoch());
        dayEnd = static_cast<double>(end.toMSecsSinceEpoch());
        return Instant{dayStart / 1000.0};
    };

    QMap<Instant, QList<Message>> byDay; // keys ascending
    for (const Message& message : messages) {
        const Instant day = message.date ? startOfDay(*message.date) : Instant::distantPast();
        byDay[day].append(message);
    }
    QList<DayGroup> groups;
    groups.reserve(byDay.size());
    for (auto it = byDay.begin(); it != byDay.end(); ++it)
        groups.append(DayGroup{it.key(), std::move(it.value())});
    return groups;
}

void AppState::selectMessage(qint64 id, bool extend)
{
    const auto positionOf = [&](qint64 wanted) -> qsizetype {
        for (qsizetype i = 0; i < m_messages.size(); ++i) {
            if (m_messages[i].id == wanted)
                return i;
        }
        return -1;
    };
    if (extend && m_selectionAnchor) {
        const qsizetype anchor = positionOf(*m_selectionAnchor);
        const qsizetype target = anchor >= 0 ? positionOf(id) : -1;
        if (anchor >= 0 && target >= 0) {
            QSet<qint64> range;
            for (qsizetype i = std::min(anchor, target); i <= std::max(anchor, target); ++i)
                range.insert(m_messages[i].id);
            setSelectedMessageIDs(range);
            return;
        }
    }
    m_selectionAnchor = id;
    setSelectedMessageIDs({id});
}

void AppState::clearMessageSelection()
{
    setSelectedMessageIDs({});
    m_selectionAnchor.reset();
}

// ---- Import, refresh, indexing ----------------------------------------------------------------

void AppState::runImport(std::function<ImportRecord()> operation)
{
    setImporting(true);
    setErrorMessage(std::nullopt);
    const std::shared_ptr<const ImportManager> manager = m_manager;
    inBackground(
        [manager, operation = std::move(operation)] {
            return attempt<CaseLocation>([&] {
                ImportRecord record = operation();
                return CaseLocation{record, manager->caseFolder(record) + u'/' + record.storedFilename};
            });
        },
        [](AppState& state, Outcome<CaseLocation> outcome) {
            state.setImporting(false);
            if (!outcome.value) {
                state.setErrorMessage(outcome.error);
                return;
            }
            state.open(outcome.value->record, outcome.value->dbURL);
        });
}

void AppState::importLocalDatabase()
{
    const std::shared_ptr<const ImportManager> manager = m_manager;
    runImport([manager] { return manager->importLocalDatabase(); });
}

FileChooserSettings AppState::importFileChooserSettings(const QString& home)
{
    FileChooserSettings settings;
    settings.title = QStringLiteral("Choose a Messages database");
    settings.message = QStringLiteral("Select a chat.db file to import (it will be copied, not modified).");
    settings.initialFolder = home + QStringLiteral("/Library/Messages");
    return settings;
}

void AppState::importFromFile()
{
    if (!m_fileChooser)
        return;
    const auto chosen = m_fileChooser->chooseFile(importFileChooserSettings(m_manager->homeFolder()));
    if (!chosen || chosen->isEmpty())
        return;
    const std::shared_ptr<const ImportManager> manager = m_manager;
    const QString source = *chosen;
    runImport([manager, source] { return manager->importDatabase(source); });
}

void AppState::refresh()
{
    if (!m_record || m_isImporting || m_isIndexing)
        return;
    const std::optional<qint64> remembered = m_selectedConversationID;
    setImporting(true);
    setSearchMode(false);
    setErrorMessage(std::nullopt);

    const std::shared_ptr<const ImportManager> manager = m_manager;
    const ImportRecord old = *m_record;
    auto queue = m_mainQueue;
    QThreadPool::globalInstance()->start([manager, old, remembered, queue] {
        auto outcome = attempt<CaseLocation>([&] {
            ImportRecord fresh = manager->reimport(old);
            return CaseLocation{fresh, manager->caseFolder(fresh) + u'/' + fresh.storedFilename};
        });
        QMetaObject::invokeMethod(
            queue.get(),
            [queue, manager, old, outcome, remembered] {
                if (queue->m_state) {
                    AppState& state = *queue->m_state;
                    state.setImporting(false);
                    if (!outcome.value) {
                        state.setErrorMessage(outcome.error);
                        return;
                    }
                    state.m_pendingRestoreChatID = remembered;
                    state.open(outcome.value->record, outcome.value->dbURL);
                    // A new case that failed to open leaves the old one open, and so on disk.
                    if (state.record() != outcome.value->record)
                        return;
                }
                // The new case is open (or nobody is left to show the old one): the old one may go,
                // in the background.
                if (outcome.value)
                    QThreadPool::globalInstance()->start([manager, old] { manager->removeCase(old); });
            },
            Qt::QueuedConnection);
    });
}

void AppState::buildIndexIfNeeded()
{
    if (!m_searchIndex || m_isIndexing)
        return;
    if (m_searchIndex->isBuilt()) {
        setSearchReady(true);
        return;
    }
    setIndexing(true);
    setIndexProgress(0);

    auto queue = m_mainQueue;
    QThreadPool::globalInstance()->start([index = m_searchIndex, queue] {
        // Held by the completion below, so it ends once the main thread has applied the result.
        std::shared_ptr<UserActivity> activity =
            UserActivity::begin(QStringLiteral("Building message search index"));
        // Each fraction is its own queued update; they may arrive after the completion below.
        QString error;
        try {
            index->build([&queue](double fraction) {
                post(queue, [fraction](AppState& s) { s.setIndexProgress(fraction); });
            });
        } catch (const std::exception& e) {
            error = describe(e);
        }
        post(queue, [error, activity = std::move(activity)](AppState& state) {
            state.setIndexing(false);
            if (error.isEmpty())
                state.setSearchReady(true);
            else
                state.setErrorMessage(QStringLiteral("Couldn't build the search index: ") + error);
        });
    });
}

// ---- Contact names ----------------------------------------------------------------------------

void AppState::rebuildCanonicalNames()
{
    QHash<QString, QString> canonical;
    for (auto it = m_contactNames.begin(); it != m_contactNames.end(); ++it) {
        if (!it.value().isEmpty())
            canonical.insert(PhoneNumber::canonical(it.key()), it.value());
    }
    m_canonicalNames = std::move(canonical);
}

QString AppState::displayName(const std::optional<QString>& handle) const
{
    if (!handle || handle->isEmpty())
        return QStringLiteral("Unknown");
    const QString exact = m_contactNames.value(*handle);
    if (!exact.isEmpty())
        return exact;
    const QString canonical = m_canonicalNames.value(PhoneNumber::canonical(*handle));
    if (!canonical.isEmpty())
        return canonical;
    return *handle;
}

QString AppState::title(const Conversation& conversation) const
{
    if (conversation.displayName && !conversation.displayName->isEmpty())
        return *conversation.displayName;
    if (conversation.participants.isEmpty())
        return conversation.chatIdentifier;
    QStringList names;
    for (const QString& participant : conversation.participants) {
        const QString name = displayName(participant);
        if (!names.contains(name))
            names.append(name);
    }
    return names.join(QStringLiteral(", "));
}

QList<ContactGroup> AppState::contactGroups() const
{
    QSet<QString> handles;
    for (const Conversation& c : m_conversations) {
        for (const QString& participant : c.participants)
            handles.insert(participant);
    }
    QHash<QString, QStringList> byCanonical;
    for (const QString& handle : handles)
        byCanonical[PhoneNumber::canonical(handle)].append(handle);

    QList<ContactGroup> groups;
    groups.reserve(byCanonical.size());
    for (auto it = byCanonical.begin(); it != byCanonical.end(); ++it) {
        QStringList sorted = it.value();
        std::sort(sorted.begin(), sorted.end()); // UTF-16 order: case-sensitive, locale-independent
        groups.append(ContactGroup{it.key(), sorted});
    }
    std::stable_sort(groups.begin(), groups.end(), [](const ContactGroup& a, const ContactGroup& b) {
        return a.handles.first() < b.handles.first();
    });
    return groups;
}

QString AppState::name(const ContactGroup& group) const
{
    for (const QString& handle : group.handles) {
        const QString given = m_contactNames.value(handle);
        if (!given.isEmpty())
            return given;
    }
    return {};
}

void AppState::setContactName(const QString& name, const ContactGroup& group)
{
    QMap<QString, QString> names = m_contactNames;
    for (const QString& handle : group.handles)
        names.remove(handle);
    if (!unicode::trimmed(name).isEmpty() && !group.handles.isEmpty())
        names.insert(group.handles.first(), name);
    setContactNames(names);
    persistContacts();
}

void AppState::persistContacts()
{
    if (!m_caseDirectory)
        return;
    QJsonObject object;
    for (auto it = m_contactNames.begin(); it != m_contactNames.end(); ++it) {
        const QString trimmed = unicode::trimmed(it.value());
        if (!trimmed.isEmpty())
            object.insert(it.key(), trimmed);
    }
    const QString owner = unicode::trimmed(m_ownerName);
    if (!owner.isEmpty())
        object.insert(QStringLiteral("$owner"), owner);

    // The names are the user's work: the old file stays whole until the new one is complete.
    QSaveFile file(*m_caseDirectory + QStringLiteral("/contacts.json"));
    const QByteArray bytes = iso::encode(object);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        file.commit();
}

// ---- Search -----------------------------------------------------------------------------------

QStringList AppState::terms(const QString& text)
{
    QStringList words;
    QString word;
    unicode::forEachCharacter(text, [&](QStringView character) {
        if (unicode::isLetter(character) || unicode::isNumber(character)) {
            word += character;
        } else if (!word.isEmpty()) {
            words.append(word);
            word.clear();
        }
    });
    if (!word.isEmpty())
        words.append(word);
    return words;
}

void AppState::runSearch()
{
    if (!m_searchIndex || !m_searchReady)
        return;
    MessageFilter copy = m_filter;
    const auto selected = selectedConversation();
    copy.chatIDs = m_searchScopeCurrent && selected ? std::optional<QList<std::int64_t>>(selected->chatIDs)
                                                    : std::nullopt;
    setHighlightTerms(terms(copy.query));
    if (copy.isEmpty() && !copy.chatIDs) {
        // Nothing to search for. A search still running belongs to words the user has just
        // cleared: moving the generation on drops its hits, which would otherwise appear under
        // the empty field, and it can no longer clear the busy flag itself.
        ++m_searchGeneration;
        setSearchResults({});
        setSearching(false);
        return;
    }

    const int generation = ++m_searchGeneration;
    setSearching(true);
    inBackground(
        [index = m_searchIndex, copy] {
            return attempt<QList<SearchHit>>([&] { return index->search(copy, searchLimit); });
        },
        [generation](AppState& state, Outcome<QList<SearchHit>> outcome) {
            if (state.m_searchGeneration != generation)
                return; // a newer search owns the results
            state.setSearchResults(outcome.value.value_or(QList<SearchHit>()));
            state.setSearching(false);
        });
}

void AppState::openHit(const SearchHit& hit)
{
    setHighlightTerms(terms(m_filter.query));
    setSearchMode(false);
    const auto found = conversationForChatID(hit.chatID);
    const qint64 target = found ? found->id : hit.chatID;
    if (m_selectedConversationID != target)
        selectConversation(target);
    setScrollTarget(hit.id);
}

} // namespace trovane
