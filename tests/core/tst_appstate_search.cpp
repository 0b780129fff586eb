// Searching from the application state: the words of a query, searches over the open case's index
// (empty filters, the current-conversation scope, overlapping searches, failures, an index not yet
// ready) and opening a hit in its conversation.

#include "corefixture.h"

#include <QScopeGuard>
#include <QSignalSpy>

using namespace coretest;

namespace {

MessageFilter query(const QString& text)
{
    MessageFilter filter;
    filter.query = text;
    return filter;
}

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

    Library* m_library = nullptr;
    FixtureFacts m_facts;
    std::unique_ptr<AppState> m_state;

    // A state over a case of the standard fixture, list loaded and index built.
    bool openCase()
    {
        m_state = std::make_unique<AppState>(m_library->manager());
        m_state->reopenMostRecent();
        return waitOpened(*m_state) && m_state->searchReady();
    }

    QList<SearchHit> directly(const MessageFilter& filter) const
    {
        return m_state->searchIndex()->search(filter, AppState::searchLimit);
    }

private slots:
    void initTestCase()
    {
        m_library = new Library;
        m_library->importCase(m_library->writeStandardSource(QStringLiteral("source"), &m_facts));
        AppState builder(m_library->manager()); // builds the index once for every test
        builder.reopenMostRecent();
        QVERIFY(waitOpened(builder));
        QVERIFY(builder.searchReady());
    }

    void init() { QVERIFY(openCase()); }
    void cleanup() { m_state.reset(); }
    void cleanupTestCase() { delete m_library; }

    void terms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("words");
        QTest::addRow("apostrophe, em dash, exclamation")
            << QStringLiteral("Can't wait\u2014see you at 5pm!")
            << QStringList{"Can", "t", "wait", "see", "you", "at", "5pm"};
        QTest::addRow("empty") << QString() << QStringList{};
        QTest::addRow("punctuation only") << QStringLiteral("?!… — \"'” ,.;") << QStringList{};
        QTest::addRow("case and repetitions kept")
            << QStringLiteral("Lease lease LEASE") << QStringList{"Lease", "lease", "LEASE"};
        QTest::addRow("symbols and hyphens separate")
            << QStringLiteral("e-mail+café=naïve$5") << QStringList{"e", "mail", "café", "naïve", "5"};
        QTest::addRow("combining marks stay in their word")
            << QStringLiteral("cafe\u0301 Zu\u0308rich") << QStringList{"cafe\u0301", "Zu\u0308rich"};
        QTest::addRow("other scripts and digits")
            << QStringLiteral("東京 ٣٤ Привет!") << QStringList{"東京", "٣٤", "Привет"};
        QTest::addRow("emoji separate") << QStringLiteral("pizza🍕night") << QStringList{"pizza", "night"};
    }

    void terms()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, words);
        QCOMPARE(AppState::terms(text), words);
    }

    void emptyFilterClearsAndStartsNothing()
    {
        AppState& state = *m_state;
        state.setFilter(query(QStringLiteral("pizza")));
        state.runSearch();
        QTRY_VERIFY_WITH_TIMEOUT(!state.isSearching(), waitMs);
        QVERIFY(!state.searchResults().isEmpty());
        const int generation = state.searchGeneration();
        QSignalSpy searching(&state, &AppState::isSearchingChanged);
        state.setFilter(query(QStringLiteral("  ")));
        state.runSearch();
        QVERIFY(state.searchResults().isEmpty());
        QVERIFY(state.searchGeneration() > generation); // a search still running would be dropped
        QVERIFY(state.highlightTerms().isEmpty());
        drain();
        QCOMPARE(searching.count(), 0);
        QVERIFY(state.searchResults().isEmpty());
    }

    void clearingWhileASearchRunsDropsItsHits()
    {
        // Typing a word and deleting it at once: the hits of the word must not appear afterwards
        // under the empty field, and the busy flag must not stay on.
        AppState& state = *m_state;
        state.setFilter(query(QStringLiteral("pizza")));
        state.runSearch();
        QVERIFY(state.isSearching());
        state.setFilter(query(QString()));
        state.runSearch();
        QVERIFY(!state.isSearching());
        drain(500);
        QVERIFY(state.searchResults().isEmpty());
        QVERIFY(!state.isSearching());
    }

    void scope_data()
    {
        QTest::addColumn<bool>("scope");
        QTest::addColumn<bool>("select");
        QTest::addColumn<QString>("words");
        QTest::addRow("scope on, conversation selected, no words") << true << true << "";
        QTest::addRow("scope on, conversation selected, words") << true << true << "you";
        QTest::addRow("scope on, nothing selected") << true << false << "you";
        QTest::addRow("scope off, conversation selected") << false << true << "you";
    }

    void scope()
    {
        QFETCH(bool, scope);
        QFETCH(bool, select);
        QFETCH(QString, words);
        AppState& state = *m_state;
        if (select) {
            state.selectConversation(m_facts.phoneFormattedChat);
            QTRY_VERIFY_WITH_TIMEOUT(!state.isLoadingMessages(), waitMs);
        }
        state.setSearchScopeCurrent(scope);
        const MessageFilter filter = query(words);
        state.setFilter(filter);
        const int generation = state.searchGeneration();
        state.runSearch();
        QCOMPARE(state.searchGeneration(), generation + 1);
        QVERIFY(state.isSearching());
        QCOMPARE(state.filter(), filter); // the copy is restricted, not the filter
        QTRY_VERIFY_WITH_TIMEOUT(!state.isSearching(), waitMs);

        MessageFilter expected = filter;
        if (scope && select)
            expected.chatIDs = QList<std::int64_t>{m_facts.phoneFormattedChat, m_facts.phoneDigitsChat};
        QCOMPARE(state.searchResults(), directly(expected));
        QVERIFY(!state.searchResults().isEmpty());
        bool outside = false;
        for (const SearchHit& hit : state.searchResults())
            outside |= hit.chatID != m_facts.phoneFormattedChat && hit.chatID != m_facts.phoneDigitsChat;
        QCOMPARE(outside, !(scope && select));
    }

    void overlappingSearches_data()
    {
        QTest::addColumn<QStringList>("queries");
        QTest::addRow("two") << QStringList{"pizza", "lease"};
        QTest::addRow("three, middle one with no hits") << QStringList{"Saturday", "zzzzzz", "chapter"};
        QTest::addRow("many words first") << QStringList{"the", "Café"};
    }

    void overlappingSearches()
    {
        QFETCH(QStringList, queries);
        AppState& state = *m_state;
        const QList<SearchHit> last = directly(query(queries.last()));
        QVERIFY(!last.isEmpty());
        QList<QList<SearchHit>> whenDone;
        connect(&state, &AppState::isSearchingChanged, this, [&] {
            if (!state.isSearching())
                whenDone.append(state.searchResults());
        });
        for (int round = 0; round < 3; ++round) {
            whenDone.clear();
            const int generation = state.searchGeneration();
            for (const QString& q : queries) {
                state.setFilter(query(q));
                state.runSearch();
            }
            QCOMPARE(state.searchGeneration(), generation + queries.size());
            QVERIFY(state.isSearching());
            QTRY_VERIFY_WITH_TIMEOUT(!state.isSearching(), waitMs);
            drain();
            QCOMPARE(state.searchResults(), last);
            QCOMPARE(whenDone.size(), 1);
            QCOMPARE(whenDone.first(), last);
            QCOMPARE(state.highlightTerms(), AppState::terms(queries.last()));
        }
    }

    void failingSearchClearsHitsSilently()
    {
        AppState& state = *m_state;
        state.setFilter(query(QStringLiteral("pizza")));
        state.runSearch();
        QTRY_VERIFY_WITH_TIMEOUT(!state.isSearching(), waitMs);
        QVERIFY(!state.searchResults().isEmpty());
        const QString index = state.searchIndex()->indexURL();
        const QByteArray kept = readFile(index);
        QVERIFY(QFile::remove(index));
        const auto restore = qScopeGuard([&] { writeFile(index, kept); });
        state.setFilter(query(QStringLiteral("lease")));
        state.runSearch();
        QVERIFY(state.isSearching());
        QTRY_VERIFY_WITH_TIMEOUT(!state.isSearching(), waitMs);
        QVERIFY(state.searchResults().isEmpty());
        QVERIFY(!state.errorMessage());
    }

    void searchBeforeTheIndexIsReady()
    {
        m_state.reset();
        Library library;
        library.importCase(library.writeStandardSource());
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(!state.searchReady());
        QSignalSpy searching(&state, &AppState::isSearchingChanged);
        QSignalSpy highlights(&state, &AppState::highlightTermsChanged);
        state.setFilter(query(QStringLiteral("pizza")));
        state.runSearch();
        QCOMPARE(state.searchGeneration(), 0);
        QVERIFY(!state.isSearching());
        QCOMPARE(searching.count(), 0);
        QCOMPARE(highlights.count(), 0);
        QVERIFY(waitOpened(state));
        QVERIFY(state.searchResults().isEmpty());

        AppState closed(library.manager()); // no case: no index
        closed.setFilter(query(QStringLiteral("pizza")));
        closed.runSearch();
        QCOMPARE(closed.searchGeneration(), 0);
    }

    void openHit_data()
    {
        QTest::addColumn<QString>("shown");   // conversation selected first: "merged", "group", "none"
        QTest::addColumn<QString>("hitChat"); // chat of the hit: "formatted", "digits", "group", "gone"
        QTest::addColumn<QString>("target");  // the conversation selected after
        QTest::addRow("hit in the shown conversation") << "merged"
                                                       << "formatted"
                                                       << "merged";
        QTest::addRow("hit in the shown merged conversation's second chat") << "merged"
                                                                            << "digits"
                                                                            << "merged";
        QTest::addRow("hit in another conversation") << "group"
                                                     << "formatted"
                                                     << "merged";
        QTest::addRow("hit in a merged conversation's second chat, nothing shown") << "none"
                                                                                   << "digits"
                                                                                   << "merged";
        QTest::addRow("hit in no conversation") << "group"
                                                << "gone"
                                                << "gone";
    }

    void openHit()
    {
        QFETCH(QString, shown);
        QFETCH(QString, hitChat);
        QFETCH(QString, target);
        AppState& state = *m_state;
        const auto idOf = [&](const QString& name) -> qint64 {
            if (name == "merged" || name == "formatted")
                return m_facts.phoneFormattedChat;
            if (name == "digits")
                return m_facts.phoneDigitsChat;
            if (name == "group")
                return m_facts.namedGroup;
            return 9999;
        };
        if (shown != "none") {
            state.selectConversation(idOf(shown));
            QTRY_VERIFY_WITH_TIMEOUT(!state.isLoadingMessages() && !state.messages().isEmpty(), waitMs);
        }
        state.setFilter(query(QStringLiteral("Saturday?")));
        state.setSearchMode(true);
        const QList<Message> before = state.messages();
        QSignalSpy reloaded(&state, &AppState::messagesChanged);

        SearchHit hit;
        hit.chatID = idOf(hitChat);
        hit.id = hitChat == "digits" ? m_facts.secondsDateMessages[2] : m_facts.twoChatMessage;
        state.openHit(hit);

        QVERIFY(!state.isSearchMode());
        QCOMPARE(state.highlightTerms(), QStringList{"Saturday"});
        QCOMPARE(state.scrollTarget(), hit.id);
        QCOMPARE(state.selectedConversationID(), idOf(target));
        const bool same = shown == target;
        if (same) {
            QCOMPARE(reloaded.count(), 0);
            QCOMPARE(state.messages(), before);
            QVERIFY(!state.isLoadingMessages());
        } else {
            QVERIFY(state.messages().isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(!state.isLoadingMessages(), waitMs);
            if (target != "gone")
                QVERIFY(!state.messages().isEmpty());
            QCOMPARE(state.scrollTarget(), hit.id);
        }
    }
};

int main(int argc, char** argv)
{
    setZone(testZone);
    QCoreApplication app(argc, argv);
    TestSearch test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appstate_search.moc"
