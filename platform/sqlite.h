#pragma once
// A thin RAII layer over the system SQLite: connections, prepared statements with positional "?"
// arguments, rows read by index or by column name with NULL-safe optional reads, write
// transactions, and a serialised connection (`Queue`) that lets one access run at a time.
//
// Errors: every failure throws `sql::Error`, whose what() is SQLite's own message for the failing
// call (sqlite3_errmsg), so that the text shown to a user is the database's description.
//
// Type strictness: the Messages database is untrusted input. An integer read of a TEXT or BLOB
// value gives "absent" (or the caller's default) rather than SQLite's silent 0; a REAL is truncated.
// A text read of an INTEGER or REAL value gives its decimal text, as SQLite converts it.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace trovane::sql {

class Error : public std::runtime_error
{
public:
    Error(int code, const std::string& message);
    // SQLite's primary result code (SQLITE_CANTOPEN, SQLITE_NOTADB, …) or SQLITE_MISUSE for our own
    // checks (an unknown column name).
    int code() const { return m_code; }
    QString description() const { return QString::fromUtf8(what()); }

private:
    int m_code;
};

// NULL as an argument.
struct Null
{
};
using Value = std::variant<Null, std::int64_t, double, QString, QByteArray>;

enum class Access {
    ReadOnly,  // SQLITE_OPEN_READONLY: the connection can never write the file.
    ReadWrite, // the file must exist
    Create,    // read-write, creating the file when missing
};

struct OpenOptions
{
    Access access = Access::ReadOnly;
    // Open `path` as a "file:" URI (for mode=ro, immutable=1 and the like).
    bool uri = false;
    // Statements run on every new connection, in order, right after it opens.
    QStringList onConnect;
};

class Statement;

// One row of a stepping statement, valid until the statement steps again. Column accessors take a
// 0-based index; the by-name forms look the index up (use Statement::columnIndex on hot paths).
class Row
{
public:
    explicit Row(sqlite3_stmt* stmt) : m_stmt(stmt) {}

    bool isNull(int column) const;
    std::optional<std::int64_t> optInt64(int column) const;
    std::int64_t int64(int column, std::int64_t fallback = 0) const;
    std::optional<double> optDouble(int column) const;
    std::optional<QString> optText(int column) const;
    QString text(int column) const { return optText(column).value_or(QString()); }
    // The bytes of a BLOB (or TEXT) value; absent for NULL. The view is valid until the next step.
    std::optional<std::string_view> optBlobView(int column) const;
    std::optional<QByteArray> optBlob(int column) const;

private:
    sqlite3_stmt* m_stmt;
};

class Statement
{
public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Binds positional "?" arguments from index 1 on, after resetting the statement and clearing
    // earlier bindings, so a prepared statement can be run again with new arguments.
    Statement& bindAll(const std::vector<Value>& values);
    Statement& bind(int index, const Value& value);

    // Advances to the next row; false when done. Throws on failure.
    bool step();
    Row row() const { return Row(m_stmt); }
    // Steps to the end, for statements that return no rows.
    void run();
    void reset();

    int columnCount() const;
    // The index of the result column with this name (or alias). Throws Error for an unknown name,
    // so a misspelt column fails loudly instead of reading NULL.
    int columnIndex(std::string_view name) const;

    // Every remaining row, converted by `fn(const Row&)`.
    template <class Fn> auto fetchAll(Fn&& fn) -> std::vector<decltype(fn(std::declval<const Row&>()))>
    {
        std::vector<decltype(fn(std::declval<const Row&>()))> out;
        while (step())
            out.push_back(fn(row()));
        return out;
    }

private:
    [[noreturn]] void fail(int code) const;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
};

class Connection
{
public:
    // Opens `path` as the options say and runs their onConnect statements. Throws Error.
    Connection(const QString& path, const OpenOptions& options = {});
    ~Connection();
    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs one or more statements that return nothing worth reading.
    void execute(std::string_view sql);
    // One statement; text holding a second statement is refused rather than silently cut short.
    Statement prepare(std::string_view sql) { return Statement(m_db, sql); }
    std::int64_t lastInsertRowId() const;
    // The names of a table's columns in declaration order; empty when the table does not exist.
    QStringList columnsOf(const QString& table);
    bool hasTable(const QString& table);

    // Runs `fn(*this)` inside BEGIN IMMEDIATE … COMMIT; a throw rolls back and propagates.
    template <class Fn> auto inTransaction(Fn&& fn) -> decltype(fn(*this))
    {
        execute("BEGIN IMMEDIATE");
        try {
            if constexpr (std::is_void_v<decltype(fn(*this))>) {
                fn(*this);
                execute("COMMIT");
            } else {
                auto result = fn(*this);
                execute("COMMIT");
                return result;
            }
        } catch (...) {
            rollbackQuietly();
            throw;
        }
    }

    sqlite3* handle() const { return m_db; }

private:
    void rollbackQuietly() noexcept;
    sqlite3* m_db = nullptr;
};

// A connection that serves one access at a time, from any thread. `read` and `write` block until
// earlier accesses finish; `write` wraps its access in a transaction.
class Queue
{
public:
    Queue(const QString& path, const OpenOptions& options = {}) : m_connection(path, options) {}

    template <class Fn> auto read(Fn&& fn) -> decltype(fn(std::declval<Connection&>()))
    {
        std::lock_guard lock(m_mutex);
        return fn(m_connection);
    }

    template <class Fn> auto write(Fn&& fn) -> decltype(fn(std::declval<Connection&>()))
    {
        std::lock_guard lock(m_mutex);
        return m_connection.inTransaction(std::forward<Fn>(fn));
    }

private:
    std::mutex m_mutex;
    Connection m_connection;
};

// How to open an existing database file read-only without creating anything beside it. A file in
// write-ahead-log mode would get -wal and -shm companions even from a read-only connection, so it
// is opened immutable instead; when a non-empty log already lies beside it, reading the file alone
// would silently leave the log's transactions out, so that throws Error instead. Other files open
// with mode=ro. Every connection also runs "PRAGMA query_only = 1".
struct ReadOnlyTarget
{
    QString uri;
    OpenOptions options;
};
ReadOnlyTarget untouchedReadOnly(const QString& path);

// "?,?,?" for `count` arguments; the one way a list of ids becomes placeholders.
std::string placeholders(std::size_t count);

// Quotes `path` for use after "file:" in a URI filename (percent-escapes '?', '#', '%').
QString uriPath(const QString& path);

} // namespace trovane::sql
