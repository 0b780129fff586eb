// The application state: its defaults, its change notifications (once per real change, on the main
// thread), opening cases at launch with their contact names, and the import, refresh and index build
// that replace or complete the open case.

#include "corefixture.h"

#include "platform/sqlite.h"

#include <QJsonDocument>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>

using namespace coretest;

namespace {

// Records every notification of a state: which, on which thread, and whether the property's value
// differed from the one it had at the previous notification.
class Recorder : public QObject
{
    Q_OBJECT
public:
    struct Emission
    {
        QString property;
        QThread* thread = nullptr;
        bool changed = true;
    };

    explicit Recorder(AppState& state) : m_state(state)
    {
        const QMetaObject* meta = state.metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("notified()"));
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() != QMetaMethod::Signal)
                continue;
            QObject::connect(&state, meta->method(i), this, slot, Qt::DirectConnection);
            ++signalCount;
        }
        for (int p = meta->propertyOffset(); p < meta->propertyCount(); ++p) {
            const QMetaProperty property = meta->property(p);
            m_properties.insert(property.notifySignalIndex(), property);
            m_last.insert(property.notifySignalIndex(), property.read(&state));
        }
    }

    QList<Emission> emissions;
    int signalCount = 0;

    QStringList names() const
    {
        QStringList out;
        for (const Emission& e : emissions)
            out.append(e.property);
        return out;
    }

public slots:
    void notified()
    {
        const int index = senderSignalIndex();
        const QMetaProperty property = m_properties.value(index);
        const QVariant now = property.read(&m_state);
        const bool changed = !(now == m_last.value(index));
        m_last.insert(index, now);
        emissions.append(Emission{QString::fromLatin1(property.name()), QThread::currentThread(), changed});
    }

private:
    AppState& m_state;
    QHash<int, QMetaProperty> m_properties;
    QHash<int, QVariant> m_last;
};

// A file chooser that answers what it is told and remembers what it was asked.
class FakeChooser : public FileChooser
{
public:
    std::optional<QString> answer;
    QList<FileChooserSettings> asked;
    std::optional<QString> chooseFile(const FileChooserSettings& settings) override
    {
        asked.append(settings);
        return answer;
    }
};

void execute(const QString& db, const QString& sqlText)
{
    sql::Connection connection(db, sql::OpenOptions{sql::Access::ReadWrite});
    connection.execute(sqlText.toStdString());
}

} // namespace

class TestAppState : public QObject
{
    Q_OBJECT

private slots:
    void constructionOnlySetsDefaults()
    {
        Library library;
        const CaseLocation opened = library.importCase(library.writeStandardSource());
        const QStringList before = QDir(QFileInfo(opened.dbURL).absolutePath()).entryList(QDir::Files);
        QThreadPool::globalInstance()->waitForDone();

        AppState state(library.manager());
        QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
        drain();
        QCOMPARE(QDir(QFileInfo(opened.dbURL).absolutePath()).entryList(QDir::Files), before); // no index.db

        QVERIFY(!state.record());
        QVERIFY(state.conversations().isEmpty());
        QVERIFY(!state.selectedConversationID());
        QVERIFY(state.messages().isEmpty());
        QVERIFY(state.messageDays().isEmpty());
        QVERIFY(!state.isImporting());
        QVERIFY(!state.isLoadingMessages());
        QVERIFY(!state.errorMessage());
        QVERIFY(!state.isIndexing());
        QCOMPARE(state.indexProgress(), 0.0);
        QVERIFY(!state.searchReady());
        QVERIFY(!state.isSearchMode());
        QCOMPARE(state.filter(), MessageFilter());
        QVERIFY(state.filter().query.isEmpty() && !state.filter().startDate && !state.filter().endDate);
        QCOMPARE(state.filter().sender, SenderScope::all);
        QVERIFY(!state.filter().attachmentsOnly && !state.filter().chatIDs);
        QVERIFY(!state.searchScopeCurrent());
        QVERIFY(state.searchResults().isEmpty());
        QVERIFY(!state.isSearching());
        QVERIFY(!state.scrollTarget());
        QVERIFY(state.highlightTerms().isEmpty());
        QVERIFY(state.contactNames().isEmpty());
        QVERIFY(state.ownerName().isEmpty());
        QVERIFY(!state.isExporting());
        QVERIFY(!state.lastExportURL());
        QVERIFY(!state.showExport());
        QVERIFY(state.selectedMessageIDs().isEmpty());
        QVERIFY(state.canonicalNames().isEmpty());
        QVERIFY(!state.store());
        QVERIFY(!state.searchIndex());
        QVERIFY(!state.caseDirectory());
        QVERIFY(!state.attachmentsRoot());
        QCOMPARE(state.searchGeneration(), 0);
        QVERIFY(!state.pendingRestoreChatID());
        QVERIFY(!state.selectionAnchor());
        QVERIFY(!state.selectedConversation());
        QVERIFY(state.contactGroups().isEmpty());
    }

    void writableNotifiesOncePerChange_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        MessageFilter filter;
        filter.query = QStringLiteral("lease");
        QTest::addRow("errorMessage") << QByteArray("errorMessage")
                                      << QVariant::fromValue(std::optional<QString>(QStringLiteral("Oops")));
        QTest::addRow("isSearchMode") << QByteArray("isSearchMode") << QVariant(true);
        QTest::addRow("filter") << QByteArray("filter") << QVariant::fromValue(filter);
        QTest::addRow("searchScopeCurrent") << QByteArray("searchScopeCurrent") << QVariant(true);
        QTest::addRow("scrollTarget")
            << QByteArray("scrollTarget") << QVariant::fromValue(std::optional<qint64>(42));
        QTest::addRow("contactNames")
            << QByteArray("contactNames")
            << QVariant::fromValue(QMap<QString, QString>{{"+15551234567", "Alex"}});
        QTest::addRow("ownerName") << QByteArray("ownerName") << QVariant(QStringLiteral("Dana"));
        QTest::addRow("showExport") << QByteArray("showExport") << QVariant(true);
    }

    void writableNotifiesOncePerChange()
    {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        Library library;
        AppState state(library.manager());
        const QMetaProperty meta =
            state.metaObject()->property(state.metaObject()->indexOfProperty(property));
        QVERIFY(meta.isWritable());
        QSignalSpy spy(&state, meta.notifySignal());
        const QVariant initial = meta.read(&state);
        QVERIFY(meta.write(&state, value));
        QVERIFY(meta.write(&state, value));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(meta.read(&state), value);
        QVERIFY(meta.write(&state, initial));
        QVERIFY(meta.write(&state, initial));
        QCOMPARE(spy.count(), 2);
    }

    // A whole session: launch, index build, selection, search, opening a hit, refresh.
    void notificationsComeOnTheMainThreadOnlyOnChange()
    {
        Library library;
        FixtureFacts facts;
        library.importCase(library.writeStandardSource(QStringLiteral("source"), &facts));
        AppState state(library.manager());
        Recorder recorder(state);
        QCOMPARE(recorder.signalCount, 24);

        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        QVERIFY(state.searchReady());
        state.userSelectedConversation(facts.phoneFormattedChat);
        QTRY_VERIFY_WITH_TIMEOUT(!state.messages().isEmpty() && !state.isLoadingMessages(), waitMs);
        state.selectMessage(state.messages().first().id, false);
        state.selectMessage(state.messages().last().id, true);
        state.setSearchMode(true);
        MessageFilter filter;
        filter.query = QStringLiteral("pizza");
        state.setFilter(filter);
        state.runSearch();
        QTRY_VERIFY_WITH_TIMEOUT(!state.isSearching(), waitMs);
        QVERIFY(!state.searchResults().isEmpty());
        state.openHit(state.searchResults().first());
        state.setContactNames({{QStringLiteral("+1 (555) 123-4567"), QStringLiteral("Sam")}});
        state.persistContacts();
        const QUuid old = state.record()->id;
        state.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(state.record()->id != old && idle(state) && state.searchReady() &&
                                     !state.messages().isEmpty(),
                                 waitMs);
        drain();

        const QStringList names = recorder.names();
        for (const char* expected : {"record", "conversations", "messages", "messageDays", "isIndexing",
                                     "indexProgress", "searchReady", "searchResults", "isSearching",
                                     "scrollTarget", "highlightTerms", "selectedMessageIDs", "isImporting"})
            QVERIFY2(names.contains(QLatin1StringView(expected)), expected);
        for (const Recorder::Emission& e : recorder.emissions) {
            QVERIFY2(e.thread == QCoreApplication::instance()->thread(), qPrintable(e.property));
            QVERIFY2(e.changed, qPrintable(e.property + QStringLiteral(" notified without a change")));
        }
    }

    // ---- Launch and case opening

    void launchWithoutACase_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addRow("no application data folder") << "missing";
        QTest::addRow("empty cases folder") << "empty";
        QTest::addRow("only a folder without import.json") << "broken";
    }

    void launchWithoutACase()
    {
        QFETCH(QString, library);
        Library lib;
        if (library != "missing")
            QDir().mkpath(lib.manager().casesRoot());
        if (library == "broken")
            QDir().mkpath(lib.manager().casesRoot() + "/" +
                          QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
        AppState state(lib.manager());
        Recorder recorder(state);
        state.reopenMostRecent();
        drain();
        QVERIFY(!state.store());
        QVERIFY(!state.errorMessage());
        QVERIFY(recorder.emissions.isEmpty());
    }

    void newestCaseWithoutItsDatabase()
    {
        Library library;
        const CaseLocation opened = library.importCase(library.writeStandardSource());
        QVERIFY(QFile::remove(opened.dbURL));
        AppState state(library.manager());
        state.reopenMostRecent();
        drain();
        QCOMPARE(state.errorMessage(), "Couldn't open the database: " + openFailure(opened.dbURL));
        QVERIFY(!openFailure(opened.dbURL).isEmpty());
        QVERIFY(!state.store());
        QVERIFY(!state.record());
        QVERIFY(!state.searchIndex());
        QVERIFY(!state.caseDirectory());
    }

    void failedOpenKeepsTheOpenCase()
    {
        Library library;
        const CaseLocation first = library.importCase(library.writeStandardSource());
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        const auto store = state.store();
        const auto index = state.searchIndex();
        const QList<Conversation> conversations = state.conversations();
        ImportRecord other = first.record;
        other.id = QUuid::createUuid();
        const QString missing = library.path(QStringLiteral("nowhere/chat.db"));
        state.open(other, missing);
        QCOMPARE(state.errorMessage(), "Couldn't open the database: " + openFailure(missing));
        QCOMPARE(state.store(), store);
        QCOMPARE(state.searchIndex(), index);
        QCOMPARE(state.record(), first.record);
        QCOMPARE(state.caseDirectory(), QFileInfo(first.dbURL).absolutePath());
        QVERIFY(state.searchReady());
        drain();
        QCOMPARE(state.conversations(), conversations);
    }

    void reopeningTwiceChangesNothing()
    {
        Library library;
        const CaseLocation first = library.importCase(library.writeStandardSource());
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        const auto store = state.store();
        QTest::qSleep(1100); // a newer import time
        library.importCase(library.writeStandardSource(QStringLiteral("newer")));
        Recorder recorder(state);
        state.reopenMostRecent();
        drain();
        QVERIFY(recorder.emissions.isEmpty());
        QCOMPARE(state.store(), store);
        QCOMPARE(state.record(), first.record);
    }

    void contactsFileAtOpening_data()
    {
        QTest::addColumn<QByteArray>("file"); // "-": no file
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QStringList>("names"); // handle, name, handle, name…
        QTest::addRow("owner and one handle")
            << QByteArray(R"({"$owner": "Dana", "+1 (555) 123-4567": "Alex"})") << "Dana"
            << QStringList{"+1 (555) 123-4567", "Alex"};
        QTest::addRow("names without owner")
            << QByteArray(R"({"5551234567": "Sam", "dave@example.org": "Dave"})") << ""
            << QStringList{"5551234567", "Sam", "dave@example.org", "Dave"};
        QTest::addRow("no file") << QByteArray("-") << "" << QStringList{};
        QTest::addRow("not JSON") << QByteArray("{\"$owner\": \"Dana\",") << "" << QStringList{};
        QTest::addRow("an array") << QByteArray(R"(["Dana", "Alex"])") << "" << QStringList{};
        QTest::addRow("names are numbers")
            << QByteArray(R"({"+15551234567": 1, "$owner": 2})") << "" << QStringList{};
        QTest::addRow("one name is a number")
            << QByteArray(R"({"$owner": "Dana", "+15551234567": "Alex", "+15550001111": 7})") << ""
            << QStringList{};
        QTest::addRow("empty file") << QByteArray("") << "" << QStringList{};
    }

    void contactsFileAtOpening()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, owner);
        QFETCH(QStringList, names);
        Library library;
        const CaseLocation opened = library.importCase(library.writeStandardSource());
        if (file != "-")
            writeFile(QFileInfo(opened.dbURL).absolutePath() + "/contacts.json", file);
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(state.store());
        QMap<QString, QString> expected;
        QHash<QString, QString> canonical;
        for (qsizetype i = 0; i + 1 < names.size(); i += 2) {
            expected.insert(names[i], names[i + 1]);
            canonical.insert(PhoneNumber::canonical(names[i]), names[i + 1]);
        }
        QCOMPARE(state.ownerName(), owner);
        QCOMPARE(state.contactNames(), expected);
        QCOMPARE(state.canonicalNames(), canonical);
        QVERIFY(!state.contactNames().contains(QStringLiteral("$owner")));
        QVERIFY(waitOpened(state));
        QVERIFY(!state.errorMessage());
    }

    void openingSetsTheCaseMembers_data()
    {
        QTest::addColumn<std::optional<QString>>("attachmentsRoot");
        QTest::addRow("with attachments folder")
            << std::optional<QString>(QStringLiteral("/Volumes/Evidence/Attachments"));
        QTest::addRow("without attachments folder") << std::optional<QString>();
    }

    void openingSetsTheCaseMembers()
    {
        QFETCH(std::optional<QString>, attachmentsRoot);
        Library library;
        CaseLocation opened = library.importCase(library.writeStandardSource());
        opened.record.attachmentsRoot = attachmentsRoot;
        AppState state(library.manager());
        state.open(opened.record, opened.dbURL);
        const QString folder = QFileInfo(opened.dbURL).absolutePath();
        QCOMPARE(state.record(), opened.record);
        QCOMPARE(state.attachmentsRoot(), attachmentsRoot);
        QCOMPARE(state.caseDirectory(), folder);
        QVERIFY(state.store());
        QCOMPARE(state.store()->databaseURL(), opened.dbURL);
        QVERIFY(state.searchIndex());
        QCOMPARE(state.searchIndex()->indexURL(), folder + "/index.db");
        QCOMPARE(state.searchIndex()->sourceURL(), opened.dbURL);
        QVERIFY(waitOpened(state));
        QCOMPARE(state.conversations(), MessageStore(opened.dbURL).fetchConversations());
    }

    void conversationListFailure()
    {
        Library library;
        const CaseLocation good = library.importCase(library.writeStandardSource());
        const CaseLocation bad = library.importCase(library.writeStandardSource(QStringLiteral("bad")));
        execute(bad.dbURL, "DROP TABLE chat_handle_join;");
        writeFile(QFileInfo(bad.dbURL).absolutePath() + "/index.db", "not empty"); // no build to fail
        QString expected;
        try {
            MessageStore(bad.dbURL).fetchConversations();
        } catch (const std::exception& e) {
            expected = QString::fromUtf8(e.what());
        }
        QVERIFY(!expected.isEmpty());

        AppState state(library.manager());
        state.open(good.record, good.dbURL);
        QVERIFY(waitOpened(state));
        const QList<Conversation> before = state.conversations();
        state.open(bad.record, bad.dbURL);
        QTRY_COMPARE_WITH_TIMEOUT(state.errorMessage(), "Couldn't load conversations: " + expected, waitMs);
        drain();
        QCOMPARE(state.conversations(), before);
        QCOMPARE(state.record(), bad.record);
    }

    // ---- Import

    void importOpensTheCaseAndBuildsItsIndex()
    {
        Library library;
        const QString source = library.path(QStringLiteral("big/chat.db"));
        QDir().mkpath(library.path(QStringLiteral("big")));
        writeScaleFixture(source, 12000, 7);
        AppState state(library.manager());
        state.setErrorMessage(QStringLiteral("an old problem"));
        QList<double> progress;
        QList<bool> indexingWhenProgress;
        connect(&state, &AppState::indexProgressChanged, this, [&] {
            progress.append(state.indexProgress());
            indexingWhenProgress.append(state.isIndexing());
        });
        QSignalSpy ready(&state, &AppState::searchReadyChanged);
        const ImportManager* manager = &library.manager();
        state.runImport([manager, source] { return manager->importDatabase(source); });
        QVERIFY(state.isImporting());
        QVERIFY(!state.errorMessage());
        QVERIFY(!state.store());
        QTRY_VERIFY_WITH_TIMEOUT(state.store(), waitMs);
        QVERIFY(!state.isImporting());
        QCOMPARE(state.record()->sourcePath, source);
        QCOMPARE(state.store()->databaseURL(),
                 library.manager().caseFolder(*state.record()) + "/" + state.record()->storedFilename);
        QVERIFY(state.isIndexing());
        QVERIFY(!state.searchReady());
        QTRY_VERIFY_WITH_TIMEOUT(state.searchReady(), waitMs);
        QVERIFY(!state.isIndexing());
        drain();
        QCOMPARE(ready.count(), 1);
        QVERIFY2(progress.size() >= 3, qPrintable(QString::number(progress.size())));
        for (qsizetype i = 1; i < progress.size(); ++i)
            QVERIFY(progress[i] > progress[i - 1]);
        QCOMPARE(progress.last(), 1.0);
        QCOMPARE(state.indexProgress(), 1.0);
        QVERIFY(!state.isIndexing());
        QVERIFY(state.searchReady());
        QVERIFY(!state.errorMessage());
        QVERIFY(state.searchIndex()->isBuilt());
    }

    void importFailures_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("says"); // "=" prefix: exact text
        QTest::addRow("a file that is not a database") << "junk"
                                                       << "file is not a database";
        QTest::addRow("no local database") << "local"
                                           << "=";
    }

    void importFailures()
    {
        QFETCH(QString, how);
        QFETCH(QString, says);
        Library library;
        AppState state(library.manager());
        if (how == "junk") {
            const QString junk = library.path(QStringLiteral("junk.db"));
            writeFile(junk, QByteArray("hello\n").repeated(2000));
            auto chooser = std::make_shared<FakeChooser>();
            chooser->answer = junk;
            state.setFileChooser(chooser);
            state.importFromFile();
        } else {
            says = "=No Messages database found at " + library.home() + "/Library/Messages/chat.db.";
            state.importLocalDatabase();
        }
        QVERIFY(state.isImporting());
        QTRY_VERIFY_WITH_TIMEOUT(!state.isImporting(), waitMs);
        QVERIFY(state.errorMessage());
        if (says.startsWith(u'='))
            QCOMPARE(*state.errorMessage(), says.mid(1));
        else
            QVERIFY2(state.errorMessage()->startsWith(says), qPrintable(*state.errorMessage()));
        drain();
        QVERIFY(!state.store());
        QVERIFY(!state.record());
        QVERIFY(!library.manager().loadMostRecentRecord());
    }

    void importFromFileAsksTheChooser_data()
    {
        QTest::addColumn<QString>("answer"); // "-": cancelled; "source": the fixture
        QTest::addRow("cancelled") << "-";
        QTest::addRow("confirmed without a file") << "";
        QTest::addRow("a database") << "source";
    }

    void importFromFileAsksTheChooser()
    {
        QFETCH(QString, answer);
        Library library;
        const QString source = library.writeStandardSource();
        AppState state(library.manager());
        auto chooser = std::make_shared<FakeChooser>();
        if (answer == "source")
            chooser->answer = source;
        else if (answer != "-")
            chooser->answer = answer;
        state.setFileChooser(chooser);
        state.setErrorMessage(QStringLiteral("kept"));
        Recorder recorder(state);
        state.importFromFile();

        QCOMPARE(chooser->asked.size(), 1);
        const FileChooserSettings& asked = chooser->asked.first();
        QCOMPARE(asked.title, "Choose a Messages database");
        QCOMPARE(asked.message, "Select a chat.db file to import (it will be copied, not modified).");
        QCOMPARE(asked.initialFolder, library.home() + "/Library/Messages");
        QVERIFY(!asked.multipleSelection);
        QVERIFY(!asked.foldersSelectable);
        QVERIFY(asked.filesSelectable);
        if (answer != "source") {
            drain();
            QVERIFY(recorder.emissions.isEmpty());
            QCOMPARE(state.errorMessage(), "kept");
            QVERIFY(library.caseFolders().isEmpty());
            return;
        }
        QVERIFY(state.isImporting());
        QVERIFY(!state.errorMessage());
        QVERIFY(waitOpened(state));
        QCOMPARE(state.record()->sourcePath, source);
        QCOMPARE(state.attachmentsRoot(),
                 QFileInfo(source).absolutePath() + "/Attachments"); // found beside it
    }

    // ---- Refresh

    void refreshReplacesTheCase_data()
    {
        QTest::addColumn<bool>("withSelection");
        QTest::addRow("a conversation selected") << true;
        QTest::addRow("nothing selected") << false;
    }

    void refreshReplacesTheCase()
    {
        QFETCH(bool, withSelection);
        Library library;
        FixtureFacts facts;
        const CaseLocation old =
            library.importCase(library.writeStandardSource(QStringLiteral("source"), &facts));
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        if (withSelection) {
            state.selectConversation(facts.namedGroup);
            QTRY_VERIFY_WITH_TIMEOUT(!state.messages().isEmpty(), waitMs);
        }
        state.setContactNames({{QStringLiteral("+15557654321"), QStringLiteral("Bob")}});
        state.setOwnerName(QStringLiteral("Dana"));
        state.persistContacts();
        const QString oldFolder = QFileInfo(old.dbURL).absolutePath();
        const QByteArray contacts = readFile(oldFolder + "/contacts.json");
        const QList<Message> messages = state.messages();
        MessageFilter filter;
        filter.query = QStringLiteral("pizza");
        state.setFilter(filter);
        state.runSearch();
        QTRY_VERIFY_WITH_TIMEOUT(!state.isSearching() && !state.searchResults().isEmpty(), waitMs);
        state.setSearchMode(true);
        state.setErrorMessage(QStringLiteral("an old problem"));
        bool resultsClearedAtOpen = false, readyClearedAtOpen = false;
        connect(&state, &AppState::recordChanged, this, [&] {
            resultsClearedAtOpen = state.searchResults().isEmpty();
            readyClearedAtOpen = !state.searchReady();
        });

        QSignalSpy indexing(&state, &AppState::isIndexingChanged);
        state.refresh();
        QVERIFY(state.isImporting());
        QVERIFY(!state.isSearchMode());
        QVERIFY(!state.errorMessage());
        QTRY_VERIFY_WITH_TIMEOUT(state.record()->id != old.record.id, waitMs);
        QVERIFY(!state.isImporting());
        QTRY_VERIFY_WITH_TIMEOUT(idle(state) && state.searchReady(), waitMs);
        QCOMPARE(indexing.count(), 2); // the new case had no index: built anew
        QVERIFY(resultsClearedAtOpen);
        QVERIFY(readyClearedAtOpen);
        QCOMPARE(state.filter(), filter);
        QVERIFY(QFileInfo(*state.caseDirectory() + "/index.db").size() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(oldFolder), waitMs);
        QCOMPARE(library.caseFolders(), QStringList{state.record()->idText()});
        QCOMPARE(state.caseDirectory(), library.manager().caseFolder(*state.record()));
        QCOMPARE(readFile(*state.caseDirectory() + "/contacts.json"), contacts);
        QCOMPARE(state.contactNames(), (QMap<QString, QString>{{"+15557654321", "Bob"}}));
        QCOMPARE(state.ownerName(), "Dana");
        QVERIFY(!state.pendingRestoreChatID());
        if (withSelection) {
            QCOMPARE(state.selectedConversationID(), facts.namedGroup);
            QCOMPARE(state.messages(), messages);
        } else {
            QVERIFY(!state.selectedConversationID());
            QVERIFY(state.messages().isEmpty());
        }
        QVERIFY(!state.errorMessage());
    }

    // The old case goes only once the new one is open: until then the open case's folder stays whole.
    void refreshDeletesTheOldCaseAfterOpeningTheNew()
    {
        Library library;
        const CaseLocation old = library.importCase(library.writeStandardSource());
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        const QString oldFolder = QFileInfo(old.dbURL).absolutePath();
        state.refresh();
        // The background work runs to its end while the main thread has not yet opened the new case.
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(state.record(), old.record);
        const bool keptWhileOpen = QFileInfo::exists(oldFolder + "/index.db");
        QTRY_VERIFY_WITH_TIMEOUT(state.record()->id != old.record.id && idle(state), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(oldFolder), waitMs);
        QVERIFY2(keptWhileOpen, "the open case's folder was deleted before the new case was opened");
    }

    // Destroying the state stops nothing: work already started runs to its end.
    void destroyingTheStateStopsNothing()
    {
        Library library;
        const CaseLocation opened = library.importCase(library.writeStandardSource());
        {
            AppState state(library.manager());
            state.reopenMostRecent();
            QVERIFY(state.isIndexing());
            state.selectConversation(1);
        }
        QThreadPool::globalInstance()->waitForDone();
        drain();
        QVERIFY(QFileInfo(QFileInfo(opened.dbURL).absolutePath() + "/index.db").size() > 0);
    }

    void refreshIgnored_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addRow("no case open") << "none";
        QTest::addRow("while the index builds") << "indexing";
        QTest::addRow("while a refresh runs") << "importing";
    }

    void refreshIgnored()
    {
        QFETCH(QString, when);
        Library library;
        library.importCase(library.writeStandardSource());
        AppState state(library.manager());
        if (when == "indexing") {
            state.reopenMostRecent();
            QVERIFY(state.isIndexing());
        } else if (when == "importing") {
            state.reopenMostRecent();
            QVERIFY(waitOpened(state));
            state.refresh();
            QVERIFY(state.isImporting());
        }
        const QUuid before = state.record() ? state.record()->id : QUuid();
        state.setSearchMode(true);
        Recorder recorder(state);
        state.refresh();
        QVERIFY(recorder.emissions.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(idle(state), waitMs);
        drain();
        QCOMPARE(library.caseFolders().size(), 1);
        QVERIFY(!state.errorMessage());
        if (when != "importing") {
            QCOMPARE(state.record() ? state.record()->id : QUuid(), before);
            QVERIFY(state.isSearchMode());
        }
    }

    void refreshOfAMovedSource()
    {
        Library library;
        const QString source = library.writeStandardSource();
        const CaseLocation old = library.importCase(source);
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        const auto store = state.store();
        QVERIFY(QFile::rename(source, source + ".moved"));
        state.refresh();
        QVERIFY(state.isImporting());
        QTRY_VERIFY_WITH_TIMEOUT(!state.isImporting(), waitMs);
        QCOMPARE(state.errorMessage(), "No Messages database found at " + source + ".");
        drain();
        QCOMPARE(state.record(), old.record);
        QCOMPARE(state.store(), store);
        QVERIFY(QFileInfo::exists(old.dbURL));
        QCOMPARE(library.caseFolders().size(), 1);
    }

    // The refresh remembers a chat id; the new list selects the conversation that holds it.
    void refreshRestoresTheSelection_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addRow("second chat of a merged conversation") << "digits";
        QTest::addRow("a chat that is gone") << "gone";
    }

    void refreshRestoresTheSelection()
    {
        QFETCH(QString, selected);
        Library library;
        FixtureFacts facts;
        const QString source = library.writeStandardSource(QStringLiteral("source"), &facts);
        library.importCase(source);
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        QVERIFY(facts.phoneDigitsChat > facts.phoneFormattedChat);
        const Conversation merged = *state.conversationForChatID(facts.phoneDigitsChat);
        QCOMPARE(merged.id, facts.phoneFormattedChat);
        QCOMPARE(merged.chatIDs, (QList<std::int64_t>{facts.phoneFormattedChat, facts.phoneDigitsChat}));

        const qint64 chosen = selected == "digits" ? facts.phoneDigitsChat : facts.zeroDateChat;
        state.selectConversation(chosen);
        QTRY_VERIFY_WITH_TIMEOUT(!state.isLoadingMessages(), waitMs);
        const QList<Message> before = state.messages();
        if (selected == "gone")
            execute(source, QStringLiteral("DELETE FROM chat_message_join WHERE chat_id = %1; "
                                           "DELETE FROM chat_handle_join WHERE chat_id = %1; "
                                           "DELETE FROM chat WHERE ROWID = %1;")
                                .arg(chosen));
        const QUuid old = state.record()->id;
        std::optional<qint64> pendingAtOpen;
        connect(&state, &AppState::recordChanged, this,
                [&] { pendingAtOpen = state.pendingRestoreChatID(); });
        state.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(state.record()->id != old, waitMs);
        QCOMPARE(pendingAtOpen, chosen);
        QTRY_VERIFY_WITH_TIMEOUT(!state.pendingRestoreChatID() && idle(state), waitMs);
        drain();
        if (selected == "digits") {
            QCOMPARE(state.selectedConversationID(), facts.phoneFormattedChat);
            QCOMPARE(state.messages(), state.store()->fetchMessages(merged.chatIDs));
        } else {
            QVERIFY(!state.conversationForChatID(chosen));
            QCOMPARE(state.selectedConversationID(), chosen);
            QCOMPARE(state.messages(), before);
        }
    }

    // ---- Index

    void builtIndexIsReadyAtOnce()
    {
        Library library;
        library.importCase(library.writeStandardSource());
        {
            AppState first(library.manager());
            first.reopenMostRecent();
            QVERIFY(waitOpened(first));
            QVERIFY(first.searchReady());
        }
        AppState state(library.manager());
        QSignalSpy indexing(&state, &AppState::isIndexingChanged);
        QSignalSpy progress(&state, &AppState::indexProgressChanged);
        state.reopenMostRecent();
        QVERIFY(state.searchReady());
        QVERIFY(waitOpened(state));
        drain();
        QCOMPARE(indexing.count(), 0);
        QCOMPARE(progress.count(), 0);
        QVERIFY(!state.errorMessage());
    }

    void caseFolderDisappearsWhileOpen()
    {
        // Someone deletes the case folder under the running program: what is open keeps working
        // from the files already open, what needs the folder fails quietly, nothing crashes.
        Library library;
        FixtureFacts facts;
        const CaseLocation opened =
            library.importCase(library.writeStandardSource(QStringLiteral("source"), &facts));
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        QVERIFY(state.searchReady());
        QVERIFY(QDir(QFileInfo(opened.dbURL).absolutePath()).removeRecursively());

        state.selectConversation(facts.namedGroup);
        QTRY_VERIFY_WITH_TIMEOUT(!state.isLoadingMessages(), waitMs);
        QVERIFY(!state.messages().isEmpty());

        MessageFilter filter;
        filter.query = QStringLiteral("pizza");
        state.setFilter(filter);
        state.runSearch();
        QTRY_VERIFY_WITH_TIMEOUT(!state.isSearching(), waitMs);
        QVERIFY(state.searchResults().isEmpty());

        state.setContactName(QStringLiteral("Ann"), state.contactGroups().first());
        QCOMPARE(state.name(state.contactGroups().first()), QStringLiteral("Ann"));
        QVERIFY(!state.errorMessage());

        // A refresh makes a new case from the source, which is still there.
        state.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(state.record() && state.record()->id != opened.record.id, waitMs);
        QVERIFY(waitOpened(state));
        QVERIFY(!state.errorMessage());
    }

    void failedIndexBuild()
    {
        Library library;
        FixtureFacts facts;
        const CaseLocation opened =
            library.importCase(library.writeStandardSource(QStringLiteral("source"), &facts));
        const QString building = QFileInfo(opened.dbURL).absolutePath() + "/index.db.building";
        QVERIFY(QDir().mkpath(building + "/inside"));
        writeFile(building + "/inside/file", "x");
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(state.isIndexing());
        QTRY_VERIFY_WITH_TIMEOUT(!state.isIndexing(), waitMs);
        QVERIFY(state.errorMessage());
        QVERIFY2(state.errorMessage()->startsWith("Couldn't build the search index: "),
                 qPrintable(*state.errorMessage()));
        QVERIFY(state.errorMessage()->size() > QStringLiteral("Couldn't build the search index: ").size());
        QVERIFY(!state.searchReady());
        drain();
        QVERIFY(!state.searchReady());
        MessageFilter filter;
        filter.query = QStringLiteral("pizza");
        state.setFilter(filter);
        const int generation = state.searchGeneration();
        state.runSearch();
        QCOMPARE(state.searchGeneration(), generation);
        // The case stays usable.
        QTRY_VERIFY_WITH_TIMEOUT(!state.conversations().isEmpty(), waitMs);
        state.setErrorMessage(std::nullopt);
        state.selectConversation(facts.namedGroup);
        QTRY_VERIFY_WITH_TIMEOUT(!state.messages().isEmpty(), waitMs);
        QVERIFY(!state.errorMessage());
    }
};

int main(int argc, char** argv)
{
    setZone(testZone);
    QCoreApplication app(argc, argv);
    TestAppState test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appstate.moc"
