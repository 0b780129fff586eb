#include "messagestore.h"

#include "appledate.h"
#include "phonenumber.h"

#include <QFile>
#include <QHash>

#include <algorithm>

namespace trovane {

namespace {

struct ReadOnlyTarget
{
    QString uri;
    sql::OpenOptions options;
};

// A file in write-ahead-log mode (header bytes 18 and 19 are 2) makes even a read-only connection
// create -wal and -shm companions. Such a file is opened immutable instead, which touches nothing;
// with a log beside it that would silently leave the log's transactions out, so that is refused.
ReadOnlyTarget readOnlyTarget(const QString& path)
{
    QFile file(path);
    bool walMode = false;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray header = file.read(20);
        walMode = header.size() == 20 && header.startsWith("SQLite format 3") && header[18] == 2 && header[19] == 2;
    }
    if (walMode && QFile::exists(path + QStringLiteral("-wal"))) {
        throw sql::Error(14 /* SQLITE_CANTOPEN */,
                         "the database has an unmerged write-ahead log beside it; import it as a case first");
    }
    return ReadOnlyTarget{
        QStringLiteral("file:") + sql::uriPath(path) + (walMode ? QStringLiteral("?immutable=1") : QStringLiteral("?mode=ro")),
        sql::OpenOptions{sql::Access::ReadOnly, true, {QStringLiteral("PRAGMA query_only = 1")}},
    };
}

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

} // namespace

MessageStore::MessageStore(const QString& path)
    : m_databaseURL(path)
    , m_dbQueue([&] {
        // Opening is lazy in SQLite; reading the schema now makes a missing or foreign file fail here.
        auto target = readOnlyTarget(path);
        return sql::Queue(target.uri, target.options);
    }())
{
    m_dbQueue.read([](sql::Connection& db) { db.execute("SELECT count(*) FROM sqlite_master"); });
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
        const QString key = c.isGroup
            ? QStringLiteral("group:") + QString::number(c.id)
            : QStringLiteral("1:1:")
                + PhoneNumber::canonical(c.participants.isEmpty() ? c.chatIdentifier : c.participants.first());
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
