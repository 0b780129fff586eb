// Loading a conversation's messages: tapbacks folded into reactions, duplicates of merged chats,
// system messages, edit and unsent dates, attachments, NULLs and older schemas.

#include "archivewriter.h"
#include "fixturebuilder.h"
#include "messages/appledate.h"
#include "messages/messagestore.h"
#include "testhelpers.h"

#include <QTemporaryDir>
#include <QTest>

using namespace trovane;

namespace {

// The columns the loader reads, as the platform declares them (a current schema, abridged).
const QString schema = QStringLiteral(R"(
    CREATE TABLE chat (ROWID INTEGER PRIMARY KEY, guid TEXT, chat_identifier TEXT, display_name TEXT, style INTEGER);
    CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT);
    CREATE TABLE chat_handle_join (chat_id INTEGER, handle_id INTEGER);
    CREATE TABLE message (ROWID INTEGER PRIMARY KEY, guid TEXT, text TEXT, attributedBody BLOB, handle_id INTEGER DEFAULT 0,
        date INTEGER, date_read INTEGER, date_edited INTEGER DEFAULT 0, date_retracted INTEGER DEFAULT 0,
        is_from_me INTEGER DEFAULT 0, item_type INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0,
        associated_message_type INTEGER DEFAULT 0, associated_message_guid TEXT);
    CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER);
    CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY, filename TEXT, mime_type TEXT, uti TEXT, transfer_name TEXT,
        total_bytes INTEGER);
    CREATE TABLE message_attachment_join (message_id INTEGER, attachment_id INTEGER);
    INSERT INTO handle VALUES (1, '+15551230001'), (2, '+15551230002');
    INSERT INTO chat VALUES (1, 'c1', '+15551230001', NULL, 45), (2, 'c2', '5551230001', NULL, 45);
)");

// A message row: id, guid, text, handle, raw date, from me, then optional extras.
QString row(int id,
            const QString& guid,
            const QString& text,
            int handle,
            qint64 date,
            int fromMe = 0,
            const QString& extraColumns = {},
            const QString& extraValues = {})
{
    return QStringLiteral("INSERT INTO message (ROWID, guid, text, handle_id, date, is_from_me%1) "
                          "VALUES (%2, '%3', %4, %5, %6, %7%8);\n")
        .arg(extraColumns.isEmpty() ? QString() : QStringLiteral(", ") + extraColumns)
        .arg(id)
        .arg(guid, text.isNull() ? QStringLiteral("NULL") : u'\'' + text + u'\'')
        .arg(handle)
        .arg(date)
        .arg(fromMe)
        .arg(extraValues.isEmpty() ? QString() : QStringLiteral(", ") + extraValues);
}

QString tapback(int id, int type, const QString& reference, int handle, qint64 date, int fromMe = 0)
{
    return row(id, QStringLiteral("t%1").arg(id), QString(), handle, date, fromMe,
               QStringLiteral("associated_message_type, associated_message_guid"),
               QStringLiteral("%1, '%2'").arg(type).arg(reference));
}

QStringList emojiOf(const Message& message)
{
    QStringList emoji;
    for (const Reaction& r : message.reactions)
        emoji.append(r.emoji + u'@' +
                     (r.fromMe ? QStringLiteral("me") : r.sender.value_or(QStringLiteral("?"))));
    emoji.sort();
    return emoji;
}

} // namespace

class TestMessages : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString database(const QString& rows, const QString& baseSchema = schema)
    {
        const QString path = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".db");
        testsupport::writeDatabase(path, baseSchema + rows);
        return path;
    }

    QList<Message> load(const QString& rows, const QList<std::int64_t>& chats = {1, 2})
    {
        return MessageStore(database(rows)).fetchMessages(chats);
    }

private slots:
    void tapbacksSetReplaceAndRemove()
    {
        QString rows;
        rows += row(1, "A", "first", 1, 100);
        rows += row(2, "B", "second", 0, 110, 1);
        rows += tapback(3, 2001, "p:0/A", 1, 120);    // 👍 from handle 1 …
        rows += tapback(4, 2000, "bp:A", 1, 130);     // … replaced by ❤️
        rows += tapback(5, 2003, "p:0/A", 0, 140, 1); // 😂 from me
        rows += tapback(6, 2002, "p:0/A", 2, 150);    // 👎 from handle 2 …
        rows += tapback(7, 3002, "p:0/A", 2, 160);    // … removed again
        rows += tapback(8, 2004, "p:0/B", 1, 170);    // ‼️ on B
        rows += tapback(9, 3004, "p:0/B", 2, 175);    // a removal by someone else leaves it standing
        rows += tapback(10, 2006, "p:0/B", 1, 180);   // another kind of associated event: ignored
        rows += tapback(11, 3006, "p:0/B", 1, 190);   // ignored, and removes nothing
        rows += tapback(12, 2005, "p:0/ZZZ", 1, 200); // target not loaded: dropped
        rows += tapback(13, 2005, "/", 1, 210);
        rows += tapback(14, 2005, ":", 1, 220);
        rows += "INSERT INTO chat_message_join SELECT 1, ROWID FROM message;";
        const QList<Message> messages = load(rows);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(emojiOf(messages[0]), QStringList({"\u2764\uFE0F@+15551230001", "\U0001F602@me"}));
        QCOMPARE(emojiOf(messages[1]), QStringList({"\u203C\uFE0F@+15551230001"}));
        const Reaction mine = *std::find_if(messages[0].reactions.begin(), messages[0].reactions.end(),
                                            [](const Reaction& r) { return r.fromMe; });
        QVERIFY(!mine.sender);
    }

    void reactorsWithoutHandleShareOneKey()
    {
        QString rows = row(1, "A", "hi", 1, 100);
        rows += tapback(2, 2001, "p:0/A", 0, 110); // not from me, no handle
        rows += tapback(3, 2005, "p:0/A", 0, 120); // the same "__unknown__" reactor: replaces
        rows += "INSERT INTO chat_message_join SELECT 1, ROWID FROM message;";
        const QList<Message> messages = load(rows);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(emojiOf(messages[0]), QStringList({"\u2753@?"}));
    }

    void mergedChatsListEachMessageOnceInOrder()
    {
        QString rows = row(1, "A", "in both", 1, 300);
        rows += row(2, "B", "early", 1, 100);
        rows += row(3, "C", "undated", 1, 0);
        rows += row(4, "D", "null date", 1, 0);
        rows += "UPDATE message SET date = NULL WHERE ROWID = 4;";
        rows += row(5, "E", "same date, larger id", 1, 100);
        rows += row(6, "F", "other chat only", 2, 200);
        rows +=
            "INSERT INTO chat_message_join VALUES (1, 1), (2, 1), (1, 2), (1, 3), (1, 4), (1, 5), (2, 6);";
        rows += "INSERT INTO attachment VALUES (10, '~/a.jpg', 'image/jpeg', 'public.jpeg', 'a.jpg', 5), "
                "(11, NULL, NULL, NULL, NULL, NULL);";
        rows += "INSERT INTO message_attachment_join VALUES (1, 11), (1, 10);";
        const QList<Message> messages = load(rows);
        QList<std::int64_t> ids;
        for (const Message& m : messages)
            ids.append(m.id);
        QCOMPARE(ids, QList<std::int64_t>({4, 3, 2, 5, 6, 1}));
        QVERIFY(!messages[0].date && !messages[1].date);
        // The attachments of the message in both chats: each once, in database order.
        QCOMPARE(messages[5].attachments.size(), 2);
        QCOMPARE(messages[5].attachments[0].id, 11);
        QCOMPARE(messages[5].attachments[0].totalBytes, 0);
        QCOMPARE(messages[5].attachments[1],
                 (Attachment{10, "~/a.jpg", "image/jpeg", "public.jpeg", "a.jpg", 5}));
        QVERIFY(load(rows, {2}).size() == 2);
    }

    void kindsAndMarks()
    {
        QString rows = row(1, "A", "renamed the group", 0, 100, 0, "item_type", "2");
        rows += row(2, "B", "ordinary", 1, 110, 0, "item_type, associated_message_type", "NULL, 1000");
        rows += row(3, "C", "fixed typo", 0, 120, 1, "date_edited, date_read", "130, 125");
        rows += row(4, "D", "", 0, 140, 1, "date_retracted", "150");
        rows += row(5, "E", " ", 1, 160, 0, "cache_has_attachments", "1");
        rows += "INSERT INTO chat_message_join SELECT 1, ROWID FROM message;";
        const QList<Message> messages = load(rows);
        QCOMPARE(messages.size(), 5);
        QVERIFY(messages[0].isSystemMessage && !messages[0].sender);
        QVERIFY(!messages[1].isSystemMessage);
        QCOMPARE(messages[1].sender, QStringLiteral("+15551230001"));
        QVERIFY(messages[2].wasEdited() && !messages[2].wasUnsent() && messages[2].isFromMe);
        QCOMPARE(messages[2].dateEdited->unixSeconds, AppleDate::referenceUnixSeconds + 130);
        QCOMPARE(messages[2].dateRead->unixSeconds, AppleDate::referenceUnixSeconds + 125);
        QVERIFY(messages[3].wasUnsent() && !messages[3].text);
        QCOMPARE(messages[4].text, QStringLiteral(" ")); // a plain text is never trimmed
        QVERIFY(messages[4].hasAttachments);
    }

    void bodiesOnlyInTheArchive()
    {
        using testsupport::encodeAttributedString;
        const QString path = database(row(1, "A", QString(), 1, 100) + row(2, "B", "", 1, 110) +
                                      row(3, "C", "plain wins", 1, 120) + row(4, "D", QString(), 1, 130) +
                                      row(5, "E", QString(), 1, 140) +
                                      "INSERT INTO chat_message_join SELECT 1, ROWID FROM message;");
        {
            sql::Connection db(path, sql::OpenOptions{sql::Access::ReadWrite});
            auto update = db.prepare("UPDATE message SET attributedBody = ? WHERE ROWID = ?");
            const auto blob = [](const std::vector<std::uint8_t>& bytes) {
                return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<qsizetype>(bytes.size()));
            };
            const std::pair<int, QByteArray> bodies[] = {
                {1, blob(encodeAttributedString("Hello from the archive \xF0\x9F\x91\x8B"))},
                {2, blob(encodeAttributedString("\xEF\xBF\xBC\nHello"))},
                {3, blob(encodeAttributedString("not this"))},
                {4, blob(encodeAttributedString("\xEF\xBF\xBC"))},
                {5, QByteArray("random bytes, not an archive")},
            };
            for (const auto& [id, bytes] : bodies)
                update.bindAll({bytes, std::int64_t{id}}).run(), update.reset();
        }
        const QList<Message> messages = MessageStore(path).fetchMessages({1});
        QCOMPARE(messages.size(), 5);
        QCOMPARE(messages[0].text, QStringLiteral("Hello from the archive \U0001F44B"));
        QCOMPARE(messages[1].text, QStringLiteral("Hello"));
        QCOMPARE(messages[2].text, QStringLiteral("plain wins"));
        QCOMPARE(messages[3].text, QString("")); // an attachment-only body: present and empty
        QVERIFY(messages[3].text.has_value());
        QVERIFY(!messages[4].text); // damaged: no text, but the message stays
    }

    void nullsEverywhere()
    {
        const QList<Message> messages = load(QStringLiteral(R"(
            INSERT INTO message VALUES (1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
            INSERT INTO message VALUES (2, 'x', 7, x'00', 'h', 'soon', 'later', 'no', 'no', 'yes', 'sys', 'att', 'tap', 5);
            INSERT INTO chat_message_join VALUES (1, 1), (1, 2), (1, NULL), (NULL, 1);
            INSERT INTO message_attachment_join VALUES (1, 99), (NULL, NULL);
        )"));
        QCOMPARE(messages.size(), 2);
        const Message& empty = messages[0];
        QCOMPARE(empty.guid, QString());
        QVERIFY(!empty.text && !empty.date && !empty.sender && !empty.isFromMe && !empty.isSystemMessage);
        QVERIFY(empty.attachments.isEmpty()); // the join row points at no attachment
        const Message& odd = messages[1];
        QCOMPARE(odd.text, QStringLiteral("7"));
        QVERIFY(!odd.date && !odd.dateEdited && !odd.isFromMe);
        QVERIFY(!odd.isSystemMessage); // a text where a number belongs counts as absent
        QVERIFY(!odd.hasAttachments);
    }

    void noChatsNoQuery()
    {
        // A file without any Messages table would fail any statement: nothing is run.
        const QString path = m_dir.filePath(QStringLiteral("bare.db"));
        testsupport::writeDatabase(path, QStringLiteral("CREATE TABLE unrelated (x);"));
        QVERIFY(MessageStore(path).fetchMessages({}).isEmpty());
        QVERIFY_THROWS_EXCEPTION(sql::Error, MessageStore(path).fetchMessages({1}));
    }

    void realisticFixture_data()
    {
        QTest::addColumn<bool>("archived");
        QTest::addColumn<bool>("older");
        QTest::addRow("bodies in text") << false << false;
        QTest::addRow("bodies archived") << true << false;
        QTest::addRow("older phone schema, archived") << true << true;
    }

    void realisticFixture()
    {
        QFETCH(bool, archived);
        QFETCH(bool, older);
        using namespace testsupport;
        const QString path = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".db");
        const FixtureFacts facts =
            writeStandardFixture(path, QString(), archived ? archivedBodies() : BodyEncoder(),
                                 older ? Schema::Ios13 : Schema::Current);
        MessageStore store(path);
        QHash<std::int64_t, Message> byID;
        int listed = 0;
        for (const Conversation& c : store.fetchConversations()) {
            for (const Message& m : store.fetchMessages(c.chatIDs)) {
                QVERIFY2(!byID.contains(m.id) || byID[m.id] == m, "a message read differently in two places");
                byID.insert(m.id, m);
                ++listed;
            }
        }
        for (const qint64 tapback : facts.tapbacks)
            QVERIFY(!byID.contains(tapback));

        QCOMPARE(byID[facts.emojiMessage].text, facts.emojiText);
        QCOMPARE(byID[facts.accentMessage].text, facts.accentText);
        QCOMPARE(byID[facts.longMessage].text, facts.longText);
        // A blank plain text is kept as it is; an archived one is trimmed to present-but-empty.
        const auto blank = byID[facts.blankMessage].text;
        QVERIFY(blank.has_value());
        QVERIFY(archived ? (*blank == u" " || blank->isEmpty()) : *blank == u" ");
        QStringList reactions = emojiOf(byID[facts.reactedMessage]);
        QCOMPARE(reactions.size(), 2);
        QVERIFY(reactions.contains(QStringLiteral("\U0001F602@me")));
        QVERIFY(reactions.first().startsWith(QStringLiteral("\U0001F44D@")));
        for (const qint64 id : facts.systemMessages)
            QVERIFY(byID[id].isSystemMessage);
        if (!older) {
            QVERIFY(byID[facts.editedMessage].wasEdited());
            QVERIFY(byID[facts.unsentMessage].wasUnsent());
        }
        QVERIFY(!byID[facts.nullDateMessage].date);
        QCOMPARE(byID[facts.attachmentOnlyMessage].attachments.size(), 1);
        // Every message that holds words in either column shows them.
        sql::Connection db(path, sql::OpenOptions{sql::Access::ReadOnly});
        auto withWords =
            db.prepare("SELECT ROWID FROM message WHERE IFNULL(associated_message_type, 0) < 2000 "
                       "AND (length(text) > 0 OR length(attributedBody) > 0)");
        while (withWords.step()) {
            const std::int64_t id = withWords.row().int64(0);
            if (byID.contains(id) && id != facts.attachmentOnlyMessage)
                QVERIFY2(byID[id].text.has_value(), qPrintable(QString::number(id)));
        }
    }

    void olderSchemasReadMissingColumnsAsNull()
    {
        QString old = schema;
        old.replace("date_edited INTEGER DEFAULT 0, date_retracted INTEGER DEFAULT 0,", "");
        const QString path = database(
            row(1, "A", "from an older phone", 1, 100) + "INSERT INTO chat_message_join VALUES (1, 1);", old);
        const QList<Message> messages = MessageStore(path).fetchMessages({1});
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].text, QStringLiteral("from an older phone"));
        QVERIFY(!messages[0].wasEdited() && !messages[0].wasUnsent());
    }
};

QTEST_APPLESS_MAIN(TestMessages)
#include "tst_messages.moc"
