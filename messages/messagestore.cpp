#include "messagestore.h"

#include "appledate.h"
#include "messagetext.h"
#include "phonenumber.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace trovane {

namespace {

const char* const participantsSQL = R"(SELECT chj.chat_id AS chat_id, h.id AS handle
FROM chat_handle_join chj
JOIN handle h ON h.ROWID = chj.handle_id)";

const char* const chatsSQL = R"(SELECT c.ROWID            AS id,
       c.guid             AS guid,
       c.chat_identifier  AS chat_identifier,
       c.display_name     AS display_name,
       c.style            AS style,
       COUNT(m.ROWID)     AS msg_count,
       MIN(m.date)        AS min_date,
       MAX(m.date)        AS max_date
FROM chat c
JOIN chat_message_join cmj ON cmj.chat_id = c.ROWID
JOIN message m ON m.ROWID = cmj.message_id
GROUP BY c.ROWID
ORDER BY max_date DESC)";

constexpr std::int64_t groupStyle = 43;

// Followed by the placeholders, ")", a line break and the ORDER BY clause.
const char* const messagesSQL = R"(SELECT m.ROWID                   AS id,
       m.guid                    AS guid,
       m.text                    AS text,
       m.attributedBody          AS attributed_body,
       m.date                    AS date,
       m.date_read               AS date_read,
       m.date_edited             AS date_edited,
       m.date_retracted          AS date_retracted,
       m.is_from_me              AS is_from_me,
       m.item_type               AS item_type,
       m.cache_has_attachments   AS has_attachments,
       m.associated_message_type AS assoc_type,
       m.associated_message_guid AS assoc_guid,
       h.id                       AS sender
FROM message m
JOIN chat_message_join cmj ON cmj.message_id = m.ROWID
LEFT JOIN handle h ON h.ROWID = m.handle_id
WHERE cmj.chat_id IN ()";

// Followed by the placeholders and ")".
const char* const attachmentsSQL = R"(SELECT maj.message_id   AS mid,
       a.ROWID          AS id,
       a.filename       AS filename,
       a.mime_type      AS mime_type,
       a.uti            AS uti,
       a.transfer_name  AS transfer_name,
       a.total_bytes    AS total_bytes
FROM message_attachment_join maj
JOIN attachment a ON a.ROWID = maj.attachment_id
JOIN chat_message_join cmj ON cmj.message_id = maj.message_id
WHERE cmj.chat_id IN ()";

// The message statement with every column the file's message table lacks read as NULL. A table
// that does not exist at all is left to fail with SQLite's own message.
std::string messagesStatementFor(const QStringList& columns)
{
    std::string sql = messagesSQL;
    if (columns.isEmpty())
        return sql;
    for (const char* column : {"ROWID", "guid", "text", "attributedBody", "date", "date_read", "date_edited",
                               "date_retracted", "is_from_me", "item_type", "cache_has_attachments",
                               "associated_message_type", "associated_message_guid"}) {
        if (columns.contains(QLatin1StringView(column), Qt::CaseInsensitive))
            continue;
        const std::string from = std::string("m.") + column + ' ';
        const std::size_t at = sql.find(from);
        Q_ASSERT(at != std::string::npos);
        // Same width, so the AS column stays aligned.
        sql.replace(at, from.size(), std::string("NULL") + std::string(from.size() - 4, ' '));
    }
    return sql;
}

// associated_message_type 2000–2005 sets these; 3000–3005 removes whatever the reactor had.
const char* const tapbackEmoji[] = {"\u2764\uFE0F", "\U0001F44D",   "\U0001F44E",
                                    "\U0001F602",   "\u203C\uFE0F", "\u2753"};

// The target of a tapback: the text after the last "/" (p:0/GUID), else after the last ":"
// (bp:GUID), else the whole value.
QString tapbackTarget(const QString& reference)
{
    qsizetype cut = reference.lastIndexOf(u'/');
    if (cut < 0)
        cut = reference.lastIndexOf(u':');
    return cut < 0 ? reference : reference.mid(cut + 1);
}

} // namespace

MessageStore::MessageStore(const QString& path)
    : m_databaseURL(path)
    , m_dbQueue([&] {
        // Opening is lazy in SQLite; reading the schema now makes a missing or foreign file fail here.
        auto target = sql::untouchedReadOnly(path);
        return sql::Queue(target.uri, target.options);
    }())
{
    m_messagesSQL = m_dbQueue.read([](sql::Connection& db) {
        db.execute("SELECT count(*) FROM sqlite_master");
        return messagesStatementFor(db.columnsOf(QStringLiteral("message")));
    });
}

QList<Message> MessageStore::fetchMessages(const QList<std::int64_t>& chatIDs)
{
    if (chatIDs.isEmpty())
        return {};
    std::vector<sql::Value> arguments(chatIDs.begin(), chatIDs.end());
    const std::string marks = sql::placeholders(chatIDs.size());

    return m_dbQueue.read([&](sql::Connection& db) {
        // Attachments first, so each message can take its list as it is built.
        QHash<std::int64_t, QList<Attachment>> attachmentsByMessage;
        {
            sql::Statement statement = db.prepare(attachmentsSQL + marks + ")");
            statement.bindAll(arguments);
            const int mid = statement.columnIndex("mid");
            const int id = statement.columnIndex("id");
            const int filename = statement.columnIndex("filename");
            const int mimeType = statement.columnIndex("mime_type");
            const int uti = statement.columnIndex("uti");
            const int transferName = statement.columnIndex("transfer_name");
            const int totalBytes = statement.columnIndex("total_bytes");
            while (statement.step()) {
                const sql::Row row = statement.row();
                QList<Attachment>& list = attachmentsByMessage[row.int64(mid)];
                const std::int64_t attachmentID = row.int64(id);
                // A message in two of the merged chats returns its attachment rows twice; a court
                // record shows each file once.
                if (std::any_of(list.cbegin(), list.cend(),
                                [&](const Attachment& a) { return a.id == attachmentID; }))
                    continue;
                list.append(Attachment{attachmentID, row.optText(filename), row.optText(mimeType),
                                       row.optText(uti), row.optText(transferName), row.int64(totalBytes)});
            }
        }

        sql::Statement statement = db.prepare(m_messagesSQL + marks + ")\nORDER BY m.date ASC, m.ROWID ASC");
        statement.bindAll(arguments);
        const int id = statement.columnIndex("id");
        const int guid = statement.columnIndex("guid");
        const int text = statement.columnIndex("text");
        const int body = statement.columnIndex("attributed_body");
        const int date = statement.columnIndex("date");
        const int dateRead = statement.columnIndex("date_read");
        const int dateEdited = statement.columnIndex("date_edited");
        const int dateRetracted = statement.columnIndex("date_retracted");
        const int isFromMe = statement.columnIndex("is_from_me");
        const int itemType = statement.columnIndex("item_type");
        const int hasAttachments = statement.columnIndex("has_attachments");
        const int assocType = statement.columnIndex("assoc_type");
        const int assocGuid = statement.columnIndex("assoc_guid");
        const int sender = statement.columnIndex("sender");

        // One pass over the rows in date order does both jobs: tapbacks update the reactions of
        // their target (a reactor's latest action wins), other rows become messages. Reactions are
        // attached at the end, so a tapback that arrives before its target still counts.
        QHash<QString, QHash<QString, Reaction>> reactionsByTarget;
        QList<Message> messages;
        QSet<std::int64_t> seen;
        while (statement.step()) {
            const sql::Row row = statement.row();
            const auto type = row.optInt64(assocType);
            if (type && *type >= 2000) {
                const auto reference = row.optText(assocGuid);
                const bool setting = *type >= 2000 && *type <= 2005;
                const bool removing = *type >= 3000 && *type <= 3005;
                if (!reference || !(setting || removing))
                    continue;
                const bool fromMe = row.int64(isFromMe) == 1;
                const auto reactor = row.optText(sender);
                const QString key =
                    fromMe ? QStringLiteral("__me__") : reactor.value_or(QStringLiteral("__unknown__"));
                const QString target = tapbackTarget(*reference);
                if (removing) {
                    const auto found = reactionsByTarget.find(target);
                    if (found != reactionsByTarget.end())
                        found->remove(key);
                } else {
                    reactionsByTarget[target].insert(
                        key, Reaction{QString::fromUtf8(tapbackEmoji[*type - 2000]), fromMe, reactor});
                }
                continue;
            }

            const std::int64_t messageID = row.int64(id);
            if (seen.contains(messageID))
                continue;
            seen.insert(messageID);

            Message m;
            m.id = messageID;
            m.guid = row.text(guid);
            m.text = MessageText::resolve(row.optText(text), row.optBlobView(body));
            m.date = AppleDate::date(row.optInt64(date));
            m.dateRead = AppleDate::date(row.optInt64(dateRead));
            m.dateEdited = AppleDate::date(row.optInt64(dateEdited));
            m.dateRetracted = AppleDate::date(row.optInt64(dateRetracted));
            m.isFromMe = row.int64(isFromMe) == 1;
            m.sender = row.optText(sender);
            m.hasAttachments = row.int64(hasAttachments) == 1;
            const auto item = row.optInt64(itemType);
            m.isSystemMessage = item && *item != 0;
            m.attachments = attachmentsByMessage.value(messageID);
            messages.append(std::move(m));
        }

        for (Message& m : messages) {
            const auto found = reactionsByTarget.constFind(m.guid);
            if (found != reactionsByTarget.cend())
                m.reactions = found->values();
        }
        return messages;
    });
}

const char* MessageStore::participantsStatement()
{
    return participantsSQL;
}

const char* MessageStore::chatsStatement()
{
    return chatsSQL;
}

QList<Conversation> MessageStore::fetchConversations()
{
    QList<Conversation> conversations = m_dbQueue.read([](sql::Connection& db) {
        QHash<std::int64_t, QStringList> participants;
        {
            sql::Statement statement = db.prepare(participantsSQL);
            const int chatColumn = statement.columnIndex("chat_id");
            const int handleColumn = statement.columnIndex("handle");
            while (statement.step()) {
                const sql::Row row = statement.row();
                const auto chatID = row.optInt64(chatColumn);
                if (!chatID)
                    continue; // a join row without a chat belongs to nothing that is listed
                participants[*chatID].append(row.text(handleColumn));
            }
        }

        sql::Statement statement = db.prepare(chatsSQL);
        const int id = statement.columnIndex("id");
        const int guid = statement.columnIndex("guid");
        const int chatIdentifier = statement.columnIndex("chat_identifier");
        const int displayName = statement.columnIndex("display_name");
        const int style = statement.columnIndex("style");
        const int count = statement.columnIndex("msg_count");
        const int minDate = statement.columnIndex("min_date");
        const int maxDate = statement.columnIndex("max_date");

        QList<Conversation> list;
        while (statement.step()) {
            const sql::Row row = statement.row();
            Conversation c;
            c.id = row.int64(id);
            c.chatIDs = {c.id};
            c.guid = row.text(guid);
            c.chatIdentifier = row.text(chatIdentifier);
            c.displayName = row.optText(displayName);
            c.isGroup = row.optInt64(style) == groupStyle;
            c.participants = participants.value(c.id);
            c.messageCount = row.int64(count);
            c.firstDate = AppleDate::date(row.optInt64(minDate));
            c.lastDate = AppleDate::date(row.optInt64(maxDate));
            list.append(std::move(c));
        }
        return list;
    });
    return merged(conversations);
}

QList<Conversation> MessageStore::merged(const QList<Conversation>& conversations)
{
    QStringList keys; // in the order each was first met
    QHash<QString, QList<Conversation>> groups;
    for (const Conversation& c : conversations) {
        const QString key =
            c.isGroup ? QStringLiteral("group:") + QString::number(c.id)
                      : QStringLiteral("1:1:") + PhoneNumber::canonical(c.participants.isEmpty()
                                                                            ? c.chatIdentifier
                                                                            : c.participants.first());
        auto it = groups.find(key);
        if (it == groups.end()) {
            keys.append(key);
            it = groups.insert(key, {});
        }
        it->append(c);
    }

    QList<Conversation> result;
    result.reserve(keys.size());
    for (const QString& key : keys) {
        const QList<Conversation>& group = groups[key];
        result.append(group.size() == 1 ? group.first() : combine(group));
    }
    std::stable_sort(result.begin(), result.end(), [](const Conversation& a, const Conversation& b) {
        return a.lastDate.value_or(Instant::distantPast()) > b.lastDate.value_or(Instant::distantPast());
    });
    return result;
}

Conversation MessageStore::combine(const QList<Conversation>& group)
{
    Q_ASSERT(!group.isEmpty());
    const Conversation& base = *std::min_element(
        group.begin(), group.end(), [](const Conversation& a, const Conversation& b) { return a.id < b.id; });

    Conversation result;
    result.id = base.id;
    result.guid = base.guid;
    result.chatIdentifier = base.chatIdentifier;
    result.isGroup = false;
    for (const Conversation& member : group) {
        result.chatIDs.append(member.id);
        if (!result.displayName && member.displayName && !member.displayName->isEmpty())
            result.displayName = member.displayName;
        for (const QString& handle : member.participants) {
            if (!result.participants.contains(handle))
                result.participants.append(handle);
        }
        result.messageCount += member.messageCount;
        if (member.firstDate && (!result.firstDate || *member.firstDate < *result.firstDate))
            result.firstDate = member.firstDate;
        if (member.lastDate && (!result.lastDate || *member.lastDate > *result.lastDate))
            result.lastDate = member.lastDate;
    }
    std::sort(result.chatIDs.begin(), result.chatIDs.end());
    return result;
}

} // namespace trovane
