#pragma once
// The per-case full-text index `index.db`: building it from the case's copy of the Messages
// database, and searching it.
//
// The index is an SQLite file with exactly two tables: `messages_fts` (FTS5, tokenizer
// "unicode61 remove_diacritics 2", one column `body` with the message's resolved text, rowid = the
// message's ROWID; only messages with a non-empty text have a row) and `msg_meta` (one row per
// indexed message: chat id, raw date, from-me flag, sender handle, attachments flag). Tapbacks are
// not indexed. Dates are stored raw, as in the Messages database (seconds or nanoseconds since
// 2001-01-01, see AppleDate).
//
// Threads: a SearchIndex is an immutable pair of paths, safe to share. `build` and `search` block
// and belong on background threads; every call opens its own connections, so searches may overlap
// each other. Nothing but a build writes the temporary `index.db.building`; searches never read it.
//
// Errors: database failures throw sql::Error (what() is SQLite's message); a failure of the final
// move throws IndexFileError.

#include "search/messagefilter.h"

#include "platform/sqlite.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace trovane {

// A file operation of the build failed; what() names the files and the system's reason.
class IndexFileError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One search as SQL: the statement text and its positional arguments, in order.
struct SearchStatement
{
    std::string sql;
    std::vector<sql::Value> arguments;
};

class SearchIndex
{
public:
    // Rows written per transaction of the build, and the step of its progress reports.
    static constexpr int batchSize = 5000;

    // `indexURL`: the case folder's index.db. `sourceURL`: the case's copy of the Messages database,
    // only ever opened read-only. Nothing is touched until build or search.
    SearchIndex(QString indexURL, QString sourceURL);

    const QString& indexURL() const { return m_indexURL; }
    const QString& sourceURL() const { return m_sourceURL; }
    // indexURL + ".building": where a build writes until it moves the file into place.
    QString buildingURL() const { return m_indexURL + QStringLiteral(".building"); }

    // The statements that create the index's two tables (the full-text table, then the metadata
    // table), for tools that build the same tables elsewhere.
    static QStringList tableStatements();

    // True when the index file exists and the file system reports a size above 0; false otherwise,
    // including when its attributes cannot be read. Reads the file system on every call.
    bool isBuilt() const;

    // Builds the index anew from the source, on the calling thread: into buildingURL() (its
    // left-overs and their -wal/-shm companions removed first), which replaces indexURL only once
    // every row is written, so an existing index stays usable until then and stays in place when
    // the build fails. `progress` (may be empty) receives fractions from 0 to 1: done/total after
    // every full batch of `batchSize` indexed messages (when the source has any), then 1.0 once
    // every row is written, before the file is moved into place. Every call, the final 1.0
    // included, comes on the calling thread; a caller that shows progress forwards each call to its
    // main thread itself (queued, not waited for). Throws sql::Error for any database failure
    // (opening either file, a statement, a transaction: a full disk is SQLite's "database or disk
    // is full") and IndexFileError when the move fails; a failed build leaves buildingURL() behind
    // for the next build to remove.
    void build(const std::function<void(double)>& progress = {}) const;

    // The FTS5 query for typed text: every maximal run of whole characters (grapheme clusters) each
    // of which is a letter or a number, in any script, becomes a prefix term "run*"; the terms are
    // joined by one blank and neither quoted nor escaped. Every other character separates terms.
    // The words AND, OR and NOT in capitals become "and*", "or*" and "not*": FTS5 would read them
    // as operators and reject the query, and the index ignores case anyway.
    // Absent when there are no terms. Pure; any thread.
    static std::optional<QString> ftsQuery(QStringView from);

    // The statement search() runs for `filter` and `limit`: with words (ftsQuery gives a query) it
    // reads messages_fts joined with msg_meta and makes a snippet; without, it reads msg_meta only.
    // Conditions and arguments follow in this order: the MATCH query, the chat ids (absent or empty:
    // none), the start date (raw nanoseconds of the instant itself, compared with stored dates
    // scaled to nanoseconds where they are whole seconds), the end date (raw nanoseconds of
    // the start of the next calendar day after endDate's day in the current time zone, or of endDate
    // itself when that day cannot be formed), the sender, the attachments flag; "1=1" when there is
    // none. Newest raw date first; the limit is the last argument. Pure apart from reading the
    // current time zone (the TZ environment variable on this platform); any thread.
    static SearchStatement statement(const MessageFilter& filter, int limit);

    // Runs statement(filter, limit) on a read-only connection of its own, opened for this call and
    // closed before it returns. Hits come newest first. Throws sql::Error when the index cannot be
    // opened or SQLite rejects the statement (an FTS5 syntax error included). Any thread.
    QList<SearchHit> search(const MessageFilter& filter, int limit) const;

private:
    QString m_indexURL;
    QString m_sourceURL;
};

} // namespace trovane
