// Selecting a conversation: its messages and day groups loaded in the background, stale loads
// dropped, the chat taken by row id when no conversation has the id, load failures; grouping by
// local calendar day; selecting single messages and ranges.

#include "corefixture.h"

#include "platform/sqlite.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QThreadPool>
#include <QTimeZone>

#include <cstdlib>

using namespace coretest;

namespace {

Instant local(int year, int month, int day, int hour, int minute)
{
    return Instant::fromDateTime(
        QDateTime(QDate(year, month, day), QTime(hour, minute), QTimeZone(testZone)));
}

Message message(qint64 id, std::optional<Instant> date)
{
    Message m;
    m.id = id;
    m.guid = QStringLiteral("G%1").arg(id);
    m.date = date;
    return m;
}

// Two one-to-one chats: chat 1 with five messages (ids 1…5), chat 2 with three (ids 6…8).
QString writeTwoChats(Library& library)
{
    return library.writeSource(QStringLiteral("two"), [](FixtureBuilder& b) {
        const qint64 alex = b.addHandle(handleRow(QStringLiteral("+15551234567")));
        const qint64 bea = b.addHandle(handleRow(QStringLiteral("bea@example.com")));
        ChatRow one;
        one.participants = {alex};
        const qint64 first = b.addChat(one);
        ChatRow two;
        two.participants = {bea};
        const qint64 second = b.addChat(two);
        const qint64 base = appleNanos(QDateTime(QDate(2024, 3, 4), QTime(12, 0), QTimeZone::utc()));
        for (int i = 0; i < 5; ++i) {
            MessageRow m;
            m.chats = {first};
            m.handle = i % 2 ? 0 : alex;
            m.fromMe = i % 2;
            m.date = base + i * 60 * nanosPerSecond;
            m.text = QStringLiteral("first chat %1").arg(i + 1);
            b.addMessage(m);
        }
        for (int i = 0; i < 3; ++i) {
            MessageRow m;
            m.chats = {second};
            m.handle = bea;
            m.date = base + (i + 86400) * nanosPerSecond;
            m.text = QStringLiteral("second chat %1").arg(i + 1);
            b.addMessage(m);
        }
    });
}

QList<qint64> ids(const QList<Message>& messages)
{
    QList<qint64> out;
    for (const Message& m : messages)
        out.append(m.id);
    return out;
}

} // namespace

class TestSelection : public QObject
{
    Q_OBJECT

private slots:
    void selectingLoadsMessagesAndDays_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addRow("merged conversation by its id") << "merged";
        QTest::addRow("chat row id that is no conversation's id") << "digits";
        QTest::addRow("group") << "group";
    }

    void selectingLoadsMessagesAndDays()
    {
        QFETCH(QString, which);
        Library library;
        FixtureFacts facts;
        library.importCase(library.writeStandardSource(QStringLiteral("source"), &facts));
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        QVERIFY(!state.conversationForID(facts.phoneDigitsChat));

        const qint64 id = which == "merged"   ? facts.phoneFormattedChat
                          : which == "digits" ? facts.phoneDigitsChat
                                              : facts.namedGroup;
        const QList<std::int64_t> chats =
            which == "merged" ? QList<std::int64_t>{facts.phoneFormattedChat, facts.phoneDigitsChat}
                              : QList<std::int64_t>{id};
        state.selectConversation(id);
        QCOMPARE(state.selectedConversationID(), id);
        QVERIFY(state.isLoadingMessages());
        QVERIFY(state.messages().isEmpty());
        QVERIFY(state.messageDays().isEmpty());
        if (which == "digits")
            QVERIFY(!state.selectedConversation());
        else
            QCOMPARE(state.selectedConversation()->chatIDs, chats);
        QTRY_VERIFY_WITH_TIMEOUT(!state.isLoadingMessages(), waitMs);
        const QList<Message> expected = MessageStore(state.store()->databaseURL()).fetchMessages(chats);
        QVERIFY(!expected.isEmpty());
        QCOMPARE(state.messages(), expected);
        QCOMPARE(state.messageDays(), AppState::groupByDay(expected));
        QVERIFY(!state.errorMessage());
    }

    void selectingWithoutACase()
    {
        Library library;
        AppState state(library.manager());
        QSignalSpy loading(&state, &AppState::isLoadingMessagesChanged);
        state.selectConversation(5);
        QCOMPARE(state.selectedConversationID(), 5);
        QVERIFY(state.messages().isEmpty());
        QVERIFY(state.messageDays().isEmpty());
        QVERIFY(!state.isLoadingMessages());
        QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
        drain();
        QCOMPARE(loading.count(), 0);
        QVERIFY(!state.errorMessage());
    }

    void loadFailure()
    {
        Library library;
        FixtureFacts facts;
        const CaseLocation opened =
            library.importCase(library.writeStandardSource(QStringLiteral("source"), &facts));
        {
            sql::Connection db(opened.dbURL, sql::OpenOptions{sql::Access::ReadWrite});
            db.execute("DROP TABLE attachment;");
        }
        writeFile(QFileInfo(opened.dbURL).absolutePath() + "/index.db", "not empty"); // no build
        QString expected;
        try {
            MessageStore(opened.dbURL).fetchMessages({facts.namedGroup});
        } catch (const std::exception& e) {
            expected = QString::fromUtf8(e.what());
        }
        QVERIFY(!expected.isEmpty());
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        state.selectConversation(facts.namedGroup);
        QTRY_VERIFY_WITH_TIMEOUT(!state.isLoadingMessages(), waitMs);
        QCOMPARE(state.errorMessage(), "Couldn't load messages: " + expected);
        QVERIFY(state.messages().isEmpty());
        QVERIFY(state.messageDays().isEmpty());
    }

    // Loads are applied only while their conversation is still selected.
    void staleLoadsAreDropped_data()
    {
        QTest::addColumn<QList<int>>("sequence"); // chat 1 or 2, selected in one event-loop turn
        QTest::addRow("A then B") << QList<int>{1, 2};
        QTest::addRow("A, B, A") << QList<int>{1, 2, 1};
        QTest::addRow("B, A, B, A, B") << QList<int>{2, 1, 2, 1, 2};
    }

    void staleLoadsAreDropped()
    {
        QFETCH(QList<int>, sequence);
        Library library;
        library.importCase(writeTwoChats(library));
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        const QList<qint64> first{1, 2, 3, 4, 5}, second{6, 7, 8};
        QList<QList<qint64>> shown;
        connect(&state, &AppState::messagesChanged, this, [&] { shown.append(ids(state.messages())); });
        for (int chat : sequence)
            state.selectConversation(chat);
        QTRY_VERIFY_WITH_TIMEOUT(!state.isLoadingMessages(), waitMs);
        drain(300);
        const QList<qint64> wanted = sequence.last() == 1 ? first : second;
        const QList<qint64> other = sequence.last() == 1 ? second : first;
        QCOMPARE(ids(state.messages()), wanted);
        QCOMPARE(state.messageDays(), AppState::groupByDay(state.messages()));
        QVERIFY(!shown.contains(other));
        QVERIFY(!state.isLoadingMessages());
    }

    void groupByDay_data()
    {
        QTest::addColumn<QList<Message>>("input");
        QTest::addColumn<QList<Instant>>("days");
        QTest::addColumn<QList<QList<qint64>>>("groups");
        const Instant distantPast =
            Instant::fromDateTime(QDateTime(QDate(1, 1, 1), QTime(0, 0), QTimeZone::utc()));
        QTest::addRow("no messages") << QList<Message>{} << QList<Instant>{} << QList<QList<qint64>>{};
        QTest::addRow("00:10 and 23:50 of one local day")
            << QList<Message>{message(1, local(2024, 3, 4, 0, 10)), message(2, local(2024, 3, 4, 23, 50))}
            << QList<Instant>{local(2024, 3, 4, 0, 0)} << QList<QList<qint64>>{{1, 2}};
        QTest::addRow("00:10 of the next day starts a group")
            << QList<Message>{message(1, local(2024, 3, 4, 0, 10)), message(2, local(2024, 3, 4, 23, 50)),
                              message(3, local(2024, 3, 5, 0, 10))}
            << QList<Instant>{local(2024, 3, 4, 0, 0), local(2024, 3, 5, 0, 0)}
            << QList<QList<qint64>>{{1, 2}, {3}};
        QTest::addRow("input order kept within a day, days ascending")
            << QList<Message>{message(1, local(2024, 3, 5, 9, 0)), message(2, local(2024, 3, 4, 23, 50)),
                              message(3, local(2024, 3, 4, 0, 10))}
            << QList<Instant>{local(2024, 3, 4, 0, 0), local(2024, 3, 5, 0, 0)}
            << QList<QList<qint64>>{{2, 3}, {1}};
        QTest::addRow("undated messages first, at the distant past")
            << QList<Message>{message(1, local(2024, 3, 4, 8, 0)), message(2, std::nullopt),
                              message(3, std::nullopt)}
            << QList<Instant>{distantPast, local(2024, 3, 4, 0, 0)} << QList<QList<qint64>>{{2, 3}, {1}};
        QTest::addRow("day of 25 hours (clocks back)")
            << QList<Message>{message(1, local(2024, 11, 3, 0, 10)), message(2, local(2024, 11, 3, 23, 50))}
            << QList<Instant>{local(2024, 11, 3, 0, 0)} << QList<QList<qint64>>{{1, 2}};
        QTest::addRow("day of 23 hours (clocks forward)")
            << QList<Message>{message(1, local(2024, 3, 10, 0, 10)), message(2, local(2024, 3, 10, 23, 50)),
                              message(3, local(2024, 3, 11, 0, 5))}
            << QList<Instant>{local(2024, 3, 10, 0, 0), local(2024, 3, 11, 0, 0)}
            << QList<QList<qint64>>{{1, 2}, {3}};
    }

    void groupByDay()
    {
        QFETCH(QList<Message>, input);
        QFETCH(QList<Instant>, days);
        QFETCH(QList<QList<qint64>>, groups);
        const QList<DayGroup> grouped = AppState::groupByDay(input);
        QList<Instant> gotDays;
        QList<QList<qint64>> gotGroups;
        for (const DayGroup& g : grouped) {
            gotDays.append(g.day);
            gotGroups.append(ids(g.messages));
        }
        QCOMPARE(gotGroups, groups);
        QCOMPARE(gotDays.size(), days.size());
        // 0001-01-01 00:00:00 UTC in the proleptic Gregorian calendar (ISO 8601, Qt), or the same
        // date in the Julian calendar, two days earlier, as Apple's Date.distantPast counts it.
        const Instant gregorianStart =
            Instant::fromDateTime(QDateTime(QDate(1, 1, 1), QTime(0, 0), QTimeZone::utc()));
        const Instant julianStart{gregorianStart.unixSeconds - 2 * 86400};
        for (qsizetype i = 0; i < days.size(); ++i)
            QVERIFY2(gotDays[i] == days[i] || (days[i] == gregorianStart && gotDays[i] == julianStart),
                     qPrintable(QStringLiteral("day %1: %2, expected %3")
                                    .arg(i)
                                    .arg(gotDays[i].unixSeconds, 0, 'f', 0)
                                    .arg(days[i].unixSeconds, 0, 'f', 0)));
    }

    // The zone is the one current when the grouping runs.
    void groupByDayFollowsTheCurrentZone()
    {
        const Instant evening =
            Instant::fromDateTime(QDateTime(QDate(2024, 3, 4), QTime(16, 0), QTimeZone::utc()));
        QCOMPARE(AppState::groupByDay({message(1, evening)}).first().day, local(2024, 3, 4, 0, 0));
        setZone("Asia/Tokyo");
        const auto restore = qScopeGuard([] { setZone(testZone); });
        const Instant tokyoDay =
            Instant::fromDateTime(QDateTime(QDate(2024, 3, 5), QTime(0, 0), QTimeZone("Asia/Tokyo")));
        QCOMPARE(AppState::groupByDay({message(1, evening)}).first().day.unixSeconds, tokyoDay.unixSeconds);
    }

    void messageSelection_data()
    {
        QTest::addColumn<QList<qint64>>("clicks");   // message ids; negative: with extend
        QTest::addColumn<QList<qint64>>("selected"); // after the last click
        QTest::addColumn<qint64>("anchor");
        QTest::addRow("one message") << QList<qint64>{2} << QList<qint64>{2} << qint64(2);
        QTest::addRow("range forwards") << QList<qint64>{2, -4} << QList<qint64>{2, 3, 4} << qint64(2);
        QTest::addRow("range then backwards from the same anchor")
            << QList<qint64>{2, -4, -1} << QList<qint64>{1, 2} << qint64(2);
        QTest::addRow("range to itself") << QList<qint64>{3, -3} << QList<qint64>{3} << qint64(3);
        QTest::addRow("extend without anchor") << QList<qint64>{-4} << QList<qint64>{4} << qint64(4);
        QTest::addRow("plain click replaces the range")
            << QList<qint64>{2, -4, 5} << QList<qint64>{5} << qint64(5);
        QTest::addRow("extend to a message not shown")
            << QList<qint64>{2, -7} << QList<qint64>{7} << qint64(7);
        QTest::addRow("extend from an anchor not shown")
            << QList<qint64>{7, -3} << QList<qint64>{3} << qint64(3);
    }

    void messageSelection()
    {
        QFETCH(QList<qint64>, clicks);
        QFETCH(QList<qint64>, selected);
        QFETCH(qint64, anchor);
        Library library;
        library.importCase(writeTwoChats(library));
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        state.selectConversation(1);
        QTRY_VERIFY_WITH_TIMEOUT(state.messages().size() == 5, waitMs);
        QCOMPARE(ids(state.messages()), (QList<qint64>{1, 2, 3, 4, 5}));
        for (qint64 click : clicks)
            state.selectMessage(std::abs(click), click < 0);
        QCOMPARE(state.selectedMessageIDs(), QSet<qint64>(selected.begin(), selected.end()));
        QCOMPARE(state.selectionAnchor(), anchor);

        state.clearMessageSelection();
        QVERIFY(state.selectedMessageIDs().isEmpty());
        QVERIFY(!state.selectionAnchor());
    }

    void selectingAConversationClearsTheMessageSelection_data()
    {
        QTest::addColumn<bool>("byUser");
        QTest::addRow("selectConversation") << false;
        QTest::addRow("userSelectedConversation") << true;
    }

    void selectingAConversationClearsTheMessageSelection()
    {
        QFETCH(bool, byUser);
        Library library;
        library.importCase(writeTwoChats(library));
        AppState state(library.manager());
        state.reopenMostRecent();
        QVERIFY(waitOpened(state));
        state.selectConversation(1);
        QTRY_VERIFY_WITH_TIMEOUT(state.messages().size() == 5, waitMs);
        state.selectMessage(2, false);
        state.selectMessage(4, true);
        state.setSearchMode(true);
        state.setScrollTarget(3);
        if (byUser)
            state.userSelectedConversation(2);
        else
            state.selectConversation(2);
        QVERIFY(state.selectedMessageIDs().isEmpty());
        QVERIFY(!state.selectionAnchor());
        QVERIFY(state.messages().isEmpty());
        QCOMPARE(state.isSearchMode(), !byUser);
        QCOMPARE(state.scrollTarget(), byUser ? std::nullopt : std::optional<qint64>(3));
        QTRY_VERIFY_WITH_TIMEOUT(state.messages().size() == 3, waitMs);
        state.selectMessage(4, true); // the anchor is gone: a single selection
        QCOMPARE(state.selectedMessageIDs(), QSet<qint64>{4});
    }
};

int main(int argc, char** argv)
{
    setZone(testZone);
    QCoreApplication app(argc, argv);
    TestSelection test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appstate_selection.moc"
