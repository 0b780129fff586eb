// The conversation list: merging one person's chats, order, defaults for NULLs, damaged files, and
// every real sample database.

#include "fixturebuilder.h"
#include "messages/appledate.h"
#include "messages/messagestore.h"
#include "testhelpers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace trovane;
using testsupport::writeDatabase;

namespace {

// Only the tables and columns the listing reads; each test adds its rows.
const QString schema = QStringLiteral(R"(
    CREATE TABLE chat (ROWID INTEGER PRIMARY KEY, guid TEXT, chat_identifier TEXT, display_name TEXT, style INTEGER);
    CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT);
    CREATE TABLE chat_handle_join (chat_id INTEGER, handle_id INTEGER);
    CREATE TABLE message (ROWID INTEGER PRIMARY KEY, date INTEGER);
    CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER);
)");

// Seconds-valued raw dates keep the expectations readable: raw N is 2001-01-01 plus N seconds.
double at(std::int64_t raw)
{
    return AppleDate::referenceUnixSeconds + static_cast<double>(raw);
}

} // namespace

class TestConversations : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QList<Conversation> list(const QString& rows)
    {
        const QString path = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".db");
        writeDatabase(path, schema + rows);
        return MessageStore(path).fetchConversations();
    }

private slots:
    void mergesOnePersonsChats()
    {
        const auto conversations = list(QStringLiteral(R"(
            INSERT INTO handle VALUES (1, '+1 (555) 123-4567'), (2, '5551234567'), (3, 'Ann.Lee@Example.com'),
                                      (4, 'ann.lee@example.com'), (5, '+15550000000');
            INSERT INTO chat VALUES (7, 'g7', '+15551234567', NULL, 45), (3, 'g3', '5551234567', '', 45),
                                    (4, 'g4', 'Ann.Lee@Example.com', NULL, 45), (5, 'g5', 'ann.lee@example.com', 'Ann', 45),
                                    (6, 'g6', '+15550000000', NULL, 45);
            INSERT INTO chat_handle_join VALUES (7, 1), (3, 2), (4, 3), (5, 4), (6, 5);
            INSERT INTO message VALUES (1, 100), (2, 200), (3, 300), (4, 400), (5, 500), (6, 50), (7, 600);
            INSERT INTO chat_message_join VALUES (7, 1), (7, 3), (3, 2), (3, 4), (4, 5), (5, 6), (6, 7);
        )"));
        QCOMPARE(conversations.size(), 3);

        const Conversation& phone = conversations[2];
        QCOMPARE(phone.id, 3);
        QCOMPARE(phone.chatIDs, QList<std::int64_t>({3, 7}));
        QCOMPARE(phone.guid, QStringLiteral("g3"));
        QCOMPARE(phone.chatIdentifier, QStringLiteral("5551234567"));
        QCOMPARE(phone.messageCount, 4);
        QCOMPARE(phone.firstDate->unixSeconds, at(100));
        QCOMPARE(phone.lastDate->unixSeconds, at(400));
        // Members in the order the listing met them: chat 3 has the later message.
        QCOMPARE(phone.participants, QStringList({"5551234567", "+1 (555) 123-4567"}));
        QVERIFY(!phone.displayName); // absent and empty give no name

        const Conversation& email = conversations[1];
        QCOMPARE(email.chatIDs, QList<std::int64_t>({4, 5}));
        QCOMPARE(email.displayName, QStringLiteral("Ann"));
        QCOMPARE(email.lastDate->unixSeconds, at(500));

        QCOMPARE(conversations[0].chatIDs,
                 QList<std::int64_t>({6})); // newest first; a phone never joins e-mail
    }

    void groupsNeverMergeAndChatsWithoutParticipantsUseTheirIdentifier()
    {
        const auto conversations = list(QStringLiteral(R"(
            INSERT INTO handle VALUES (1, '+15551112222'), (2, '+15553334444');
            INSERT INTO chat VALUES (1, 'a', 'chat1', 'Family', 43), (2, 'b', 'chat2', 'Family', 43),
                                    (3, 'c', '555-111-2222', NULL, 45), (4, 'd', '+15551112222', NULL, 45),
                                    (5, 'e', 'lonely', NULL, 45);
            INSERT INTO chat_handle_join VALUES (1, 1), (1, 2), (2, 1), (2, 2), (4, 1);
            INSERT INTO message VALUES (1, 10), (2, 20), (3, 30), (4, 40);
            INSERT INTO chat_message_join VALUES (1, 1), (2, 2), (3, 3), (4, 4);
        )"));
        QCOMPARE(conversations.size(), 3); // chat 5 has no messages and is not listed
        QCOMPARE(conversations[0].chatIDs, QList<std::int64_t>({3, 4}));
        QCOMPARE(conversations[0].participants, QStringList({"+15551112222"}));
        QVERIFY(!conversations[0].isGroup);
        QCOMPARE(conversations[1].chatIDs, QList<std::int64_t>({2}));
        QCOMPARE(conversations[2].chatIDs, QList<std::int64_t>({1}));
        QVERIFY(conversations[1].isGroup && conversations[2].isGroup);
        QCOMPARE(conversations[2].participants, QStringList({"+15551112222", "+15553334444"}));
    }

    void mergedNameIsTheFirstNonEmptyInGroupOrder()
    {
        Conversation a, b, c;
        a.id = 3;
        b.id = 1;
        b.displayName = QString();
        c.id = 2;
        c.displayName = QStringLiteral("Family");
        const Conversation merged = MessageStore::combine({a, b, c});
        QCOMPARE(merged.displayName, QStringLiteral("Family"));
        QCOMPARE(merged.id, 1);
        QCOMPARE(merged.chatIDs, QList<std::int64_t>({1, 2, 3}));
        QVERIFY(!merged.firstDate && !merged.lastDate);
    }

    void undatedConversationsSortLastAndTiesKeepOrder()
    {
        const auto conversations = list(QStringLiteral(R"(
            INSERT INTO chat VALUES (1, 'a', 'x1', NULL, 45), (2, 'b', 'x2', NULL, 45), (3, 'c', 'x3', NULL, 45);
            INSERT INTO message VALUES (1, 0), (2, 0), (3, 700000000000000000), (4, 700000000000000000);
            INSERT INTO chat_message_join VALUES (1, 1), (1, 2), (2, 3), (3, 4);
        )"));
        QCOMPARE(conversations.size(), 3);
        QCOMPARE(conversations[2].id, 1);
        QVERIFY(!conversations[2].firstDate && !conversations[2].lastDate);
        QCOMPARE(conversations[2].messageCount, 2);
        QCOMPARE(conversations[0].lastDate, conversations[1].lastDate);
        QCOMPARE(conversations[0].lastDate->unixSeconds, at(700'000'000));
    }

    void nullsAndWrongTypesGiveDefaults()
    {
        const auto conversations = list(QStringLiteral(R"(
            INSERT INTO handle VALUES (1, NULL), (2, ''), (3, '   '), (4, '***');
            INSERT INTO chat VALUES (1, NULL, NULL, NULL, NULL), (2, 'b', 'x', 'Group', '43'),
                                    (3, 'c', 'y', NULL, 'group'), (4, 'd', '***', NULL, 45);
            INSERT INTO chat_handle_join VALUES (1, 1), (3, 2), (3, 3), (4, 4), (NULL, 1);
            INSERT INTO message VALUES (1, NULL), (2, 'yesterday'), (3, 5), (4, 6);
            INSERT INTO chat_message_join VALUES (1, 1), (2, 2), (3, 3), (4, 4);
        )"));
        QCOMPARE(conversations.size(), 3);
        // Chat 2's style '43' is stored as the integer 43 by column affinity: a group.
        const auto byID = [&](std::int64_t id) {
            return *std::find_if(conversations.begin(), conversations.end(),
                                 [id](const Conversation& c) { return c.id == id; });
        };
        QVERIFY(byID(2).isGroup);
        QVERIFY(!byID(2).lastDate); // a text date is no date
        // Chats 1 and 3 have an empty first handle (NULL reads as empty): one key, so they merge.
        const Conversation blank = byID(1);
        QCOMPARE(blank.chatIDs, QList<std::int64_t>({1, 3}));
        QCOMPARE(blank.guid, QString());
        QCOMPARE(blank.chatIdentifier, QString());
        QCOMPARE(blank.participants, QStringList({"", "   "}));
        QVERIFY(!blank.isGroup);
        QCOMPARE(byID(4).participants, QStringList({"***"}));
    }

    void emptyDatabaseHasNoConversations() { QVERIFY(list(QString()).isEmpty()); }

    void damagedFilesFailClearly_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("message");
        QTest::addRow("not SQLite") << QByteArray("just some text, not a database\n").repeated(200)
                                    << QString() << "file is not a database";
        QTest::addRow("no Messages tables") << QByteArray() << "CREATE TABLE notes (body TEXT);"
                                            << "no such table: chat_handle_join";
        QTest::addRow("a table missing")
            << QByteArray() << QString(schema).replace("CREATE TABLE message ", "CREATE TABLE msg ")
            << "no such table: message";
    }

    void damagedFilesFailClearly()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, sql);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
        if (sql.isEmpty())
            testsupport::writeFile(path, content);
        else
            writeDatabase(path, sql);
        try {
            MessageStore(path).fetchConversations();
            QFAIL("no error");
        } catch (const sql::Error& e) {
            QCOMPARE(e.description(), message);
        }
    }

    void missingFileFailsToOpen()
    {
        QVERIFY_THROWS_EXCEPTION(sql::Error, MessageStore(m_dir.filePath(QStringLiteral("nothing-here.db"))));
    }

    void readingTouchesNothing()
    {
        // A file in write-ahead-log mode would get -wal and -shm companions from a plain read-only open.
        const QString folder = m_dir.filePath(QStringLiteral("wal"));
        QDir().mkpath(folder);
        const QString path = folder + QStringLiteral("/chat.db");
        writeDatabase(path, schema + QStringLiteral("PRAGMA journal_mode=WAL;"
                                                    "INSERT INTO chat VALUES (1, 'a', 'x', NULL, 45);"
                                                    "INSERT INTO message VALUES (1, 5);"
                                                    "INSERT INTO chat_message_join VALUES (1, 1);"));
        QVERIFY(!QFileInfo::exists(path + "-wal")); // the writer closed cleanly
        const QByteArray before = testsupport::readFile(path);
        const QDateTime modified = QFileInfo(path).lastModified();
        QCOMPARE(MessageStore(path).fetchConversations().size(), 1);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"chat.db"}));
        QCOMPARE(testsupport::readFile(path), before);
        QCOMPARE(QFileInfo(path).lastModified(), modified);

        // With a log beside it, reading the file alone would leave the log's messages out.
        testsupport::writeFile(path + "-wal", QByteArray(32, '\0'));
        try {
            MessageStore store(path);
            QFAIL("opened a database whose log would be ignored");
        } catch (const sql::Error& e) {
            QVERIFY(e.description().contains(QStringLiteral("write-ahead log")));
        }
    }

    void realisticFixture()
    {
        const QString path = m_dir.filePath(QStringLiteral("standard.db"));
        const testsupport::FixtureFacts facts = testsupport::writeStandardFixture(path, QString());
        const auto conversations = MessageStore(path).fetchConversations();
        const auto holding = [&](qint64 chat) {
            const auto found =
                std::find_if(conversations.begin(), conversations.end(),
                             [chat](const Conversation& c) { return c.chatIDs.contains(chat); });
            return found == conversations.end() ? Conversation{} : *found;
        };
        const Conversation phone = holding(facts.phoneFormattedChat);
        QCOMPARE(phone.chatIDs,
                 (QList<std::int64_t>{std::min(facts.phoneFormattedChat, facts.phoneDigitsChat),
                                      std::max(facts.phoneFormattedChat, facts.phoneDigitsChat)}));
        QCOMPARE(holding(facts.emailMixedCaseChat).chatIDs.size(), 2);
        QVERIFY(holding(facts.emailMixedCaseChat).chatIDs.contains(facts.emailLowerCaseChat));
        QCOMPARE(holding(facts.namedGroup).displayName, facts.namedGroupTitle);
        QCOMPARE(holding(facts.emptyNameGroup).chatIDs, QList<std::int64_t>{facts.emptyNameGroup});
        QCOMPARE(holding(facts.nullNameGroup).chatIDs, QList<std::int64_t>{facts.nullNameGroup});
        QVERIFY(holding(facts.participantlessChat).participants.isEmpty());
        QCOMPARE(holding(facts.participantlessChat).chatIdentifier, facts.participantlessIdentifier);
        QVERIFY(holding(facts.emptyChat).chatIDs.isEmpty()); // no messages: not listed
        QVERIFY(!conversations.last().lastDate);             // the all-zero-dates chat sorts last
        QVERIFY(conversations.last().chatIDs.contains(facts.zeroDateChat));

        std::int64_t total = 0;
        for (const Conversation& c : conversations)
            total += c.messageCount;
        QCOMPARE(total, facts.chatMessageJoins);
    }

    void sampleDatabases()
    {
        const auto corpus = testsupport::corpusDir();
        if (!corpus)
            QSKIP(qPrintable(testsupport::corpusMissingReason()));
        const QDir folder(*corpus + QStringLiteral("/databases"));
        const QStringList files = folder.entryList(QDir::Files);
        QVERIFY(!files.isEmpty());
        for (const QString& name : files) {
            const QString path = folder.filePath(name);
            const QByteArray before =
                QCryptographicHash::hash(testsupport::readFile(path), QCryptographicHash::Sha256);
            const auto conversations = MessageStore(path).fetchConversations();

            // Every chat with a message appears exactly once; counts add up to the join rows.
            sql::Connection db(QStringLiteral("file:%1?immutable=1").arg(path),
                               sql::OpenOptions{sql::Access::ReadOnly, true});
            auto chats =
                db.prepare("SELECT DISTINCT cmj.chat_id FROM chat_message_join cmj "
                           "JOIN message m ON m.ROWID = cmj.message_id JOIN chat c ON c.ROWID = cmj.chat_id");
            QSet<std::int64_t> expected;
            while (chats.step())
                expected.insert(chats.row().int64(0));
            auto joins = db.prepare(
                "SELECT count(*) FROM chat_message_join cmj JOIN message m ON m.ROWID = cmj.message_id "
                "JOIN chat c ON c.ROWID = cmj.chat_id");
            joins.step();

            QSet<std::int64_t> listed;
            std::int64_t total = 0;
            for (int i = 0; i < conversations.size(); ++i) {
                const Conversation& c = conversations[i];
                for (const std::int64_t id : c.chatIDs) {
                    QVERIFY2(!listed.contains(id), qPrintable(name));
                    listed.insert(id);
                }
                QCOMPARE(c.id, c.chatIDs.first());
                QVERIFY(std::is_sorted(c.chatIDs.begin(), c.chatIDs.end()));
                QVERIFY(!c.isGroup || c.chatIDs.size() == 1);
                total += c.messageCount;
                if (i > 0) {
                    QVERIFY2(conversations[i - 1].lastDate.value_or(Instant::distantPast()) >=
                                 c.lastDate.value_or(Instant::distantPast()),
                             qPrintable(name));
                }
            }
            QCOMPARE(listed, expected);
            QCOMPARE(total, joins.row().int64(0));
            QCOMPARE(QCryptographicHash::hash(testsupport::readFile(path), QCryptographicHash::Sha256),
                     before);
        }
    }
};

QTEST_APPLESS_MAIN(TestConversations)
#include "tst_conversations.moc"
