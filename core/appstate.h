#pragma once
// AppState: the one observable application state every screen reads, and the coordinator through
// which the screens act: opening cases, selecting conversations and messages, importing,
// refreshing, indexing, searching and naming contacts.
//
// Threads: an AppState lives on the main thread. Every observable property is read and written
// there, every operation is called there, and each NOTIFY signal is emitted there, once per real
// change. Long work (listing, loading messages, importing, indexing, searching) runs on the global
// thread pool over values it captured, and hands its result back to the main thread, which alone
// applies it. Stale results are dropped, never cancelled: a message load applies only while its
// conversation is still selected, a search only while its generation is the latest.
//
// Errors: failures end in the one `errorMessage` (the window shows it in the "Import problem"
// alert), with a fixed prefix for opening, loading and indexing and the description alone for
// imports and refreshes. Searches and the writing of contact names fail silently.

#include "contactgroup.h"
#include "platformservices.h"

#include "cases/importmanager.h"
#include "cases/importrecord.h"
#include "messages/conversation.h"
#include "messages/messagestore.h"
#include "messages/records.h"
#include "search/messagefilter.h"
#include "search/searchindex.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace trovane {

class MainThreadQueue;

class AppState : public QObject
{
    Q_OBJECT

    // The import record of the open case; absent while none is open.
    Q_PROPERTY(std::optional<trovane::ImportRecord> record READ record NOTIFY recordChanged)
    // The open case's conversation list, in the reader's order (newest first).
    Q_PROPERTY(QList<trovane::Conversation> conversations READ conversations NOTIFY conversationsChanged)
    // The selected conversation's id; absent when none is selected.
    Q_PROPERTY(std::optional<qint64> selectedConversationID READ selectedConversationID NOTIFY
                   selectedConversationIDChanged)
    // Every message of the selected conversation in transcript order; empty while loading.
    Q_PROPERTY(QList<trovane::Message> messages READ messages NOTIFY messagesChanged)
    // `messages` grouped by calendar day (current time zone), days ascending.
    Q_PROPERTY(QList<trovane::DayGroup> messageDays READ messageDays NOTIFY messageDaysChanged)
    Q_PROPERTY(bool isImporting READ isImporting NOTIFY isImportingChanged)
    Q_PROPERTY(bool isLoadingMessages READ isLoadingMessages NOTIFY isLoadingMessagesChanged)
    // The one pending error text; absent when there is none. Dismissing the alert clears it.
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY
                   errorMessageChanged)
    Q_PROPERTY(bool isIndexing READ isIndexing NOTIFY isIndexingChanged)
    // Progress of the index build, 0 to 1.
    Q_PROPERTY(double indexProgress READ indexProgress NOTIFY indexProgressChanged)
    // The open case's search index exists and may be queried.
    Q_PROPERTY(bool searchReady READ searchReady NOTIFY searchReadyChanged)
    // The detail column shows the search screen instead of the transcript.
    Q_PROPERTY(bool isSearchMode READ isSearchMode WRITE setSearchMode NOTIFY isSearchModeChanged)
    // The criteria edited on the search screen.
    Q_PROPERTY(trovane::MessageFilter filter READ filter WRITE setFilter NOTIFY filterChanged)
    // Restrict searches to the selected conversation.
    Q_PROPERTY(bool searchScopeCurrent READ searchScopeCurrent WRITE setSearchScopeCurrent NOTIFY
                   searchScopeCurrentChanged)
    // The hits of the latest search, newest first.
    Q_PROPERTY(QList<trovane::SearchHit> searchResults READ searchResults NOTIFY searchResultsChanged)
    Q_PROPERTY(bool isSearching READ isSearching NOTIFY isSearchingChanged)
    // A message the transcript is to scroll to and mark; absent when none.
    Q_PROPERTY(
        std::optional<qint64> scrollTarget READ scrollTarget WRITE setScrollTarget NOTIFY scrollTargetChanged)
    // Words to highlight in the transcript.
    Q_PROPERTY(QStringList highlightTerms READ highlightTerms NOTIFY highlightTermsChanged)
    // Names the user gave, keyed by the handle exactly as the database spells it.
    Q_PROPERTY(QMap<QString, QString> contactNames READ contactNames WRITE setContactNames NOTIFY
                   contactNamesChanged)
    // The account holder's own name; empty when not given.
    Q_PROPERTY(QString ownerName READ ownerName WRITE setOwnerName NOTIFY ownerNameChanged)
    Q_PROPERTY(bool isExporting READ isExporting NOTIFY isExportingChanged)
    // The file the last export wrote; absent before the first.
    Q_PROPERTY(std::optional<QString> lastExportURL READ lastExportURL NOTIFY lastExportURLChanged)
    Q_PROPERTY(bool showExport READ showExport WRITE setShowExport NOTIFY showExportChanged)
    // Messages selected in the transcript.
    Q_PROPERTY(QSet<qint64> selectedMessageIDs READ selectedMessageIDs NOTIFY selectedMessageIDsChanged)

public:
    // Only sets the defaults: reads no file and starts no task. `manager` is the case library
    // (ImportManager::shared() unless a test gives its own); the state keeps a copy, which
    // background work shares, so nothing it uses can go away under a running task. The manager's
    // file system must outlive all background work (the platform's own does).
    explicit AppState(const ImportManager& manager = ImportManager::shared(), QObject* parent = nullptr);
    ~AppState() override;

    // ---- Observable properties
    const std::optional<ImportRecord>& record() const { return m_record; }
    const QList<Conversation>& conversations() const { return m_conversations; }
    std::optional<qint64> selectedConversationID() const { return m_selectedConversationID; }
    const QList<Message>& messages() const { return m_messages; }
    const QList<DayGroup>& messageDays() const { return m_messageDays; }
    bool isImporting() const { return m_isImporting; }
    bool isLoadingMessages() const { return m_isLoadingMessages; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    void setErrorMessage(const std::optional<QString>& message);
    bool isIndexing() const { return m_isIndexing; }
    double indexProgress() const { return m_indexProgress; }
    bool searchReady() const { return m_searchReady; }
    bool isSearchMode() const { return m_isSearchMode; }
    void setSearchMode(bool on);
    const MessageFilter& filter() const { return m_filter; }
    void setFilter(const MessageFilter& filter);
    bool searchScopeCurrent() const { return m_searchScopeCurrent; }
    void setSearchScopeCurrent(bool on);
    const QList<SearchHit>& searchResults() const { return m_searchResults; }
    bool isSearching() const { return m_isSearching; }
    std::optional<qint64> scrollTarget() const { return m_scrollTarget; }
    void setScrollTarget(std::optional<qint64> id);
    const QStringList& highlightTerms() const { return m_highlightTerms; }
    const QMap<QString, QString>& contactNames() const { return m_contactNames; }
    // Every change rebuilds canonicalNames().
    void setContactNames(const QMap<QString, QString>& names);
    const QString& ownerName() const { return m_ownerName; }
    void setOwnerName(const QString& name);
    bool isExporting() const { return m_isExporting; }
    const std::optional<QString>& lastExportURL() const { return m_lastExportURL; }
    bool showExport() const { return m_showExport; }
    void setShowExport(bool on);
    const QSet<qint64>& selectedMessageIDs() const { return m_selectedMessageIDs; }

    // ---- Plain members
    // contactNames re-keyed by canonical handle.
    const QHash<QString, QString>& canonicalNames() const { return m_canonicalNames; }
    // Present exactly while a case is open.
    const std::shared_ptr<MessageStore>& store() const { return m_store; }
    const std::shared_ptr<const SearchIndex>& searchIndex() const { return m_searchIndex; }
    const std::optional<QString>& caseDirectory() const { return m_caseDirectory; }
    const std::optional<QString>& attachmentsRoot() const { return m_attachmentsRoot; }
    // Moves on with every search started and every clearing of the hits; the latest owns them.
    int searchGeneration() const { return m_searchGeneration; }
    std::optional<qint64> pendingRestoreChatID() const { return m_pendingRestoreChatID; }
    std::optional<qint64> selectionAnchor() const { return m_selectionAnchor; }

    // ---- Derived
    // The entry of `conversations` whose id is selectedConversationID; absent when none matches.
    std::optional<Conversation> selectedConversation() const;
    // Every handle taking part in any conversation, grouped by canonical form, groups sorted by
    // their first handle.
    QList<ContactGroup> contactGroups() const;

    // ---- Case opening
    // Opens the newest case of the library when none is open; otherwise does nothing.
    void reopenMostRecent();
    // Makes this case the open one; failures land in errorMessage and leave the state as it was.
    void open(const ImportRecord& record, const QString& dbURL);
    void loadConversations();

    // ---- Selection
    // Selects a conversation (by its id, or any chat row id) and loads its messages.
    void selectConversation(std::optional<qint64> id);
    // A selection made by the user: leaves search mode, clears highlights and the scroll target.
    void userSelectedConversation(std::optional<qint64> id);
    // Extends the selection from the anchor when `extend` and both are loaded; otherwise selects
    // only `id` and makes it the anchor.
    void selectMessage(qint64 id, bool extend);
    void clearMessageSelection();
    // The conversation with this id; absent when none has it.
    std::optional<Conversation> conversationForID(qint64 id) const;
    // The first conversation (in list order) whose chatIDs hold this chat.
    std::optional<Conversation> conversationForChatID(qint64 chatID) const;
    // Messages grouped by calendar day of the current calendar and time zone, days ascending,
    // input order kept within a day; undated messages form a first group at the distant past.
    static QList<DayGroup> groupByDay(const QList<Message>& messages);

    // ---- Import, refresh, indexing
    void importLocalDatabase();
    // Asks the file chooser for a database file and imports it; nothing when cancelled or when no
    // chooser is set.
    void importFromFile();
    void setFileChooser(std::shared_ptr<FileChooser> chooser) { m_fileChooser = std::move(chooser); }
    static FileChooserSettings importFileChooserSettings(const QString& home);
    // Imports the open case's source again, opens the new case with the selection kept, and
    // deletes the old case. Ignored while an import or an index build runs.
    void refresh();
    void buildIndexIfNeeded();
    // Runs `operation` (an import) in the background and opens the case it returns.
    void runImport(std::function<ImportRecord()> operation);

    // ---- Contact names
    // "Unknown" for no or an empty handle; else the name given to it, in that spelling or in its
    // canonical form; else the handle itself.
    QString displayName(const std::optional<QString>& handle) const;
    QString title(const Conversation& conversation) const;
    QString name(const ContactGroup& group) const;
    // Gives the group this name (blank removes its names) and writes contacts.json.
    void setContactName(const QString& name, const ContactGroup& group);
    // Writes contacts.json of the open case through a temporary file and a rename, so a crash never
    // leaves a truncated file. Failures are ignored.
    void persistContacts();
    void rebuildCanonicalNames();

    // ---- Search
    void runSearch();
    void openHit(const SearchHit& hit);
    // The words of a query: runs of whole characters that are letters or numbers, in order.
    static QStringList terms(const QString& text);
    static constexpr int searchLimit = 500;

signals:
    void recordChanged();
    void conversationsChanged();
    void selectedConversationIDChanged();
    void messagesChanged();
    void messageDaysChanged();
    void isImportingChanged();
    void isLoadingMessagesChanged();
    void errorMessageChanged();
    void isIndexingChanged();
    void indexProgressChanged();
    void searchReadyChanged();
    void isSearchModeChanged();
    void filterChanged();
    void searchScopeCurrentChanged();
    void searchResultsChanged();
    void isSearchingChanged();
    void scrollTargetChanged();
    void highlightTermsChanged();
    void contactNamesChanged();
    void ownerNameChanged();
    void isExportingChanged();
    void lastExportURLChanged();
    void showExportChanged();
    void selectedMessageIDsChanged();

private:
    // Runs `work` on the thread pool; `apply(state, result)` then runs on the main thread, unless
    // the state is gone by then.
    template <class Work, class Apply> void inBackground(Work work, Apply apply);

    void setRecord(const std::optional<ImportRecord>& record);
    void setConversations(const QList<Conversation>& conversations);
    void setSelectedConversationID(std::optional<qint64> id);
    void setMessages(const QList<Message>& messages);
    void setMessageDays(const QList<DayGroup>& days);
    void setImporting(bool on);
    void setLoadingMessages(bool on);
    void setIndexing(bool on);
    void setIndexProgress(double progress);
    void setSearchReady(bool ready);
    void setSearchResults(const QList<SearchHit>& hits);
    void setSearching(bool on);
    void setHighlightTerms(const QStringList& terms);
    void setExporting(bool on);
    void setLastExportURL(const std::optional<QString>& url);
    void setSelectedMessageIDs(const QSet<qint64>& ids);

    std::shared_ptr<const ImportManager> m_manager;
    std::shared_ptr<MainThreadQueue> m_mainQueue;
    std::shared_ptr<FileChooser> m_fileChooser;

    std::optional<ImportRecord> m_record;
    QList<Conversation> m_conversations;
    std::optional<qint64> m_selectedConversationID;
    QList<Message> m_messages;
    QList<DayGroup> m_messageDays;
    bool m_isImporting = false;
    bool m_isLoadingMessages = false;
    std::optional<QString> m_errorMessage;
    bool m_isIndexing = false;
    double m_indexProgress = 0;
    bool m_searchReady = false;
    bool m_isSearchMode = false;
    MessageFilter m_filter;
    bool m_searchScopeCurrent = false;
    QList<SearchHit> m_searchResults;
    bool m_isSearching = false;
    std::optional<qint64> m_scrollTarget;
    QStringList m_highlightTerms;
    QMap<QString, QString> m_contactNames;
    QString m_ownerName;
    bool m_isExporting = false;
    std::optional<QString> m_lastExportURL;
    bool m_showExport = false;
    QSet<qint64> m_selectedMessageIDs;

    QHash<QString, QString> m_canonicalNames;
    std::shared_ptr<MessageStore> m_store;
    std::shared_ptr<const SearchIndex> m_searchIndex;
    std::optional<QString> m_caseDirectory;
    std::optional<QString> m_attachmentsRoot;
    int m_searchGeneration = 0;
    std::optional<qint64> m_pendingRestoreChatID;
    std::optional<qint64> m_selectionAnchor;
};

} // namespace trovane
