#include "searchindex.h"

#include "messages/appledate.h"
#include "messages/messagetext.h"
#include "messages/unicodetext.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace trovane {

namespace {

// ---- the index's statements -------------------------------------------------------------------

// Run first on every connection of the temporary file: it is disposable until moved into place.
const QStringList buildingPragmas = {
    QStringLiteral("PRAGMA journal_mode = OFF"),
    QStringLiteral("PRAGMA synchronous = OFF"),
    QStringLiteral("PRAGMA temp_store = MEMORY"),
};

const char* const createFtsSQL = R"(CREATE VIRTUAL TABLE messages_fts USING fts5(
    body,
    tokenize = 'unicode61 remove_diacritics 2'
))";

const char* const createMetaSQL = R"(CREATE TABLE msg_meta(
    message_rowid   INTEGER PRIMARY KEY,
    chat_id         INTEGER,
    date            INTEGER,
    is_from_me      INTEGER,
    sender          TEXT,
    has_attachments INTEGER
))";

const char* const countSQL = "SELECT COUNT(*) FROM message WHERE IFNULL(associated_message_type,0) < 2000";

const char* const rowsSQL = R"(SELECT m.ROWID                 AS id,
       m.text                  AS text,
       m.attributedBody        AS ab,
       m.date                  AS date,
       IFNULL(m.is_from_me, 0) AS fromme,
       h.id                    AS sender,
       IFNULL(m.cache_has_attachments, 0) AS hasatt,
       cmj.chat_id             AS chat_id
FROM message m
JOIN chat_message_join cmj ON cmj.message_id = m.ROWID
LEFT JOIN handle h ON h.ROWID = m.handle_id
WHERE IFNULL(m.associated_message_type, 0) < 2000
ORDER BY m.ROWID)";

const char* const insertMetaSQL = R"(INSERT INTO msg_meta
(message_rowid, chat_id, date, is_from_me, sender, has_attachments)
VALUES (?, ?, ?, ?, ?, ?))";

const char* const insertFtsSQL = "INSERT INTO messages_fts(rowid, body) VALUES (?, ?)";

// The snippet's markers are U+0002 and U+0003, its ellipsis U+2026, at most 12 tokens.
const char* const headWithWords =
    "SELECT meta.message_rowid AS id, meta.chat_id AS chat_id, meta.date AS date,\n"
    "       meta.is_from_me AS fromme, meta.sender AS sender,\n"
    "       meta.has_attachments AS hasatt,\n"
    "       snippet(messages_fts, 0, '\x02', '\x03', '\u2026', 12) AS snip\n"
    "FROM messages_fts\n"
    "JOIN msg_meta meta ON meta.message_rowid = messages_fts.rowid\n"
    "WHERE ";

const char* const headWithoutWords =
    "SELECT meta.message_rowid AS id, meta.chat_id AS chat_id, meta.date AS date,\n"
    "       meta.is_from_me AS fromme, meta.sender AS sender,\n"
    "       meta.has_attachments AS hasatt, '' AS snip\n"
    "FROM msg_meta meta\n"
    "WHERE ";

// ---- building ---------------------------------------------------------------------------------

// One message on its way into the index; held only in memory.
struct IndexedRow
{
    std::int64_t id = 0;
    std::int64_t chatID = 0;
    std::optional<std::int64_t> date; // raw, as stored in the source
    std::int64_t isFromMe = 0;
    std::optional<QString> sender;
    std::int64_t hasAttachments = 0;
    std::optional<QString> body; // absent: the message gets no messages_fts row
};

sql::Value valueOf(const std::optional<std::int64_t>& value)
{
    return value ? sql::Value(*value) : sql::Value(sql::Null{});
}

sql::Value valueOf(const std::optional<QString>& value)
{
    return value ? sql::Value(*value) : sql::Value(sql::Null{});
}

// Writes the batch in one transaction with both statements prepared once, then empties it (keeping
// its capacity). A throw leaves the batch as it was.
void flush(sql::Connection& index, std::vector<IndexedRow>& batch)
{
    if (batch.empty())
        return;
    index.inTransaction([&](sql::Connection& db) {
        sql::Statement meta = db.prepare(insertMetaSQL);
        sql::Statement fts = db.prepare(insertFtsSQL);
        for (const IndexedRow& row : batch) {
            meta.reset();
            meta.bind(1, row.id);
            meta.bind(2, row.chatID);
            meta.bind(3, valueOf(row.date));
            meta.bind(4, row.isFromMe);
            meta.bind(5, valueOf(row.sender));
            meta.bind(6, row.hasAttachments);
            meta.run();
            if (row.body) {
                fts.reset();
                fts.bind(1, row.id);
                fts.bind(2, *row.body);
                fts.run();
            }
        }
    });
    batch.clear();
}

// ---- dates ------------------------------------------------------------------------------------

// The start of the calendar day after `instant`'s day, in the current time zone; absent when that
// day cannot be formed (not a finite date, or beyond the calendar's range).
std::optional<Instant> startOfNextDay(Instant instant)
{
    const double msecs = std::floor(instant.unixSeconds * 1000.0);
    // Well inside the 64-bit range, and far beyond any real date (about ±285,000 years).
    constexpr double limit = 9.0e15;
    if (!std::isfinite(msecs) || msecs > limit || msecs < -limit)
        return std::nullopt;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(msecs), Qt::LocalTime);
    if (!local.isValid())
        return std::nullopt;
    const QDate next = local.date().addDays(1);
    if (!next.isValid())
        return std::nullopt;
    // startOfDay gives the first moment of the day that exists, so a day whose midnight a clock
    // change skips still starts.
    const QDateTime start = next.startOfDay(Qt::LocalTime);
    if (!start.isValid())
        return std::nullopt;
    return Instant::fromDateTime(start);
}

} // namespace

SearchIndex::SearchIndex(QString indexURL, QString sourceURL)
    : m_indexURL(std::move(indexURL))
    , m_sourceURL(std::move(sourceURL))
{
}

QStringList SearchIndex::tableStatements()
{
    return {QString::fromUtf8(createFtsSQL), QString::fromUtf8(createMetaSQL)};
}

bool SearchIndex::isBuilt() const
{
    const QFileInfo info(m_indexURL);
    return info.isFile() && info.size() > 0;
}

void SearchIndex::build(const std::function<void(double)>& progress) const
{
    const QString building = buildingURL();
    // Left-overs of an interrupted build; failures to remove them are ignored (opening fails later
    // if one is really in the way).
    QFile::remove(building);
    QFile::remove(building + QStringLiteral("-wal"));
    QFile::remove(building + QStringLiteral("-shm"));

    {
        sql::Connection index(building, sql::OpenOptions{sql::Access::Create, false, buildingPragmas});
        index.inTransaction([](sql::Connection& db) {
            db.execute(createFtsSQL);
            db.execute(createMetaSQL);
        });

        const sql::ReadOnlyTarget target = sql::untouchedReadOnly(m_sourceURL);
        sql::Connection source(target.uri, target.options);

        std::int64_t total = 0;
        {
            sql::Statement count = source.prepare(countSQL);
            if (count.step())
                total = count.row().int64(0);
        }

        std::vector<IndexedRow> batch;
        batch.reserve(batchSize);
        std::int64_t done = 0;

        sql::Statement rows = source.prepare(rowsSQL);
        const int idColumn = rows.columnIndex("id");
        const int textColumn = rows.columnIndex("text");
        const int abColumn = rows.columnIndex("ab");
        const int dateColumn = rows.columnIndex("date");
        const int fromMeColumn = rows.columnIndex("fromme");
        const int senderColumn = rows.columnIndex("sender");
        const int hasAttColumn = rows.columnIndex("hasatt");
        const int chatColumn = rows.columnIndex("chat_id");
        // Rows come in ROWID order, so the rows of a message joined to several chats are adjacent:
        // comparing with the previous id finds every repeat without keeping a set of all ids.
        std::optional<std::int64_t> previousID;
        while (rows.step()) {
            const sql::Row row = rows.row();
            const std::int64_t id = row.int64(idColumn);
            if (previousID == id)
                continue; // the first row of a message decides its chat
            previousID = id;

            std::optional<QString> body =
                MessageText::resolve(row.optText(textColumn), row.optBlobView(abColumn));
            if (body && body->isEmpty())
                body.reset();
            batch.push_back(IndexedRow{id, row.int64(chatColumn), row.optInt64(dateColumn),
                                       row.int64(fromMeColumn), row.optText(senderColumn),
                                       row.int64(hasAttColumn), std::move(body)});
            ++done;
            if (batch.size() == static_cast<std::size_t>(batchSize)) {
                flush(index, batch);
                if (total > 0 && progress)
                    progress(static_cast<double>(done) / static_cast<double>(total));
            }
        }
        flush(index, batch);
    } // both connections close here, before the file moves

    if (progress)
        progress(1.0);

    // rename(2) replaces the old index in one step: a crash at any moment leaves either the old
    // complete index or the new one, never neither.
    if (::rename(QFile::encodeName(building).constData(), QFile::encodeName(m_indexURL).constData()) != 0) {
        const int code = errno;
        throw IndexFileError(QStringLiteral("The new search index %1 could not be moved to %2: %3")
                                 .arg(building, m_indexURL, QString::fromLocal8Bit(std::strerror(code)))
                                 .toStdString());
    }
}

std::optional<QString> SearchIndex::ftsQuery(QStringView from)
{
    QStringList terms;
    QString current;
    unicode::forEachCharacter(from, [&](QStringView character) {
        if (unicode::isLetter(character) || unicode::isNumber(character)) {
            current += character;
        } else if (!current.isEmpty()) {
            terms.append(current + u'*');
            current.clear();
        }
    });
    if (!current.isEmpty())
        terms.append(current + u'*');
    if (terms.isEmpty())
        return std::nullopt;
    // FTS5 reads the upper-case words AND, OR and NOT as operators, and with the "*" after them the
    // whole query is a syntax error: a search for a word typed in capitals would find nothing. The
    // tokenizer ignores case, so the lower-case term finds exactly the same words.
    for (QString& term : terms) {
        if (term == u"AND*" || term == u"OR*" || term == u"NOT*")
            term = term.toLower();
    }
    return terms.join(u' ');
}

SearchStatement SearchIndex::statement(const MessageFilter& filter, int limit)
{
    std::vector<std::string> conditions;
    std::vector<sql::Value> arguments;

    const std::optional<QString> query = ftsQuery(filter.query);
    if (query) {
        conditions.emplace_back("messages_fts MATCH ?");
        arguments.emplace_back(*query);
    }
    if (filter.chatIDs && !filter.chatIDs->isEmpty()) {
        conditions.push_back("meta.chat_id IN (" + sql::placeholders(filter.chatIDs->size()) + ")");
        for (const std::int64_t chatID : *filter.chatIDs)
            arguments.emplace_back(chatID);
    }
    // Raw dates of up to 1e11 are whole seconds (older systems), larger ones nanoseconds; the
    // bounds are nanoseconds, so seconds are scaled before comparing or such messages would all
    // fall outside every range.
    const std::string dateNanos =
        "(CASE WHEN meta.date <= 100000000000 THEN meta.date * 1000000000 ELSE meta.date END)";
    if (filter.startDate) {
        conditions.push_back(dateNanos + " >= ?");
        arguments.emplace_back(AppleDate::rawNanos(*filter.startDate));
    }
    if (filter.endDate) {
        conditions.push_back(dateNanos + " < ?");
        arguments.emplace_back(
            AppleDate::rawNanos(startOfNextDay(*filter.endDate).value_or(*filter.endDate)));
    }
    switch (filter.sender) {
    case SenderScope::me:
        conditions.emplace_back("meta.is_from_me = 1");
        break;
    case SenderScope::them:
        conditions.emplace_back("meta.is_from_me = 0");
        break;
    case SenderScope::all:
        break;
    }
    if (filter.attachmentsOnly)
        conditions.emplace_back("meta.has_attachments = 1");

    std::string where;
    for (const std::string& condition : conditions) {
        if (!where.empty())
            where += " AND ";
        where += condition;
    }
    if (where.empty())
        where = "1=1";

    SearchStatement out;
    out.sql =
        std::string(query ? headWithWords : headWithoutWords) + where + "\nORDER BY meta.date DESC\nLIMIT ?";
    arguments.emplace_back(static_cast<std::int64_t>(limit));
    out.arguments = std::move(arguments);
    return out;
}

QList<SearchHit> SearchIndex::search(const MessageFilter& filter, int limit) const
{
    const SearchStatement search = statement(filter, limit);
    sql::Connection db(m_indexURL, sql::OpenOptions{sql::Access::ReadOnly});
    sql::Statement rows = db.prepare(search.sql);
    rows.bindAll(search.arguments);
    const int id = rows.columnIndex("id");
    const int chatID = rows.columnIndex("chat_id");
    const int date = rows.columnIndex("date");
    const int fromMe = rows.columnIndex("fromme");
    const int sender = rows.columnIndex("sender");
    const int hasAtt = rows.columnIndex("hasatt");
    const int snip = rows.columnIndex("snip");
    QList<SearchHit> hits;
    while (rows.step()) {
        const sql::Row row = rows.row();
        hits.append(SearchHit{row.int64(id), row.int64(chatID), AppleDate::date(row.optInt64(date)),
                              row.int64(fromMe) == 1, row.optText(sender), row.int64(hasAtt) == 1,
                              row.text(snip)});
    }
    return hits;
}

} // namespace trovane
