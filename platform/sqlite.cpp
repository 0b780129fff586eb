#include "sqlite.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace trovane::sql {

Error::Error(int code, const std::string& message) : std::runtime_error(message), m_code(code) {}

namespace {

[[noreturn]] void throwFrom(sqlite3* db, int code)
{
    // sqlite3_errmsg describes the most recent failure on this connection; without a connection
    // (open ran out of memory) the generic text of the code is all there is.
    const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw Error(code & 0xff, message ? message : "unknown SQLite error");
}

} // namespace

// ---- Row -------------------------------------------------------------------------------------

bool Row::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

std::optional<std::int64_t> Row::optInt64(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(m_stmt, column);
    case SQLITE_FLOAT: {
        const double value = sqlite3_column_double(m_stmt, column);
        // Out-of-range or NaN values have no faithful integer; treat them as absent.
        if (!std::isfinite(value) || value >= 9.2233720368547758e18 || value < -9.2233720368547758e18)
            return std::nullopt;
        return static_cast<std::int64_t>(value);
    }
    default:
        return std::nullopt;
    }
}

std::int64_t Row::int64(int column, std::int64_t fallback) const
{
    return optInt64(column).value_or(fallback);
}

std::optional<double> Row::optDouble(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_stmt, column);
    default:
        return std::nullopt;
    }
}

std::optional<QString> Row::optText(int column) const
{
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return QString::fromUtf8(bytes, size);
}

std::optional<std::string_view> Row::optBlobView(int column) const
{
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
        return std::nullopt;
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return std::string_view(bytes ? bytes : "", static_cast<std::size_t>(size));
}

std::optional<QByteArray> Row::optBlob(int column) const
{
    const auto view = optBlobView(column);
    if (!view)
        return std::nullopt;
    return QByteArray(view->data(), static_cast<qsizetype>(view->size()));
}

// ---- Statement -------------------------------------------------------------------------------

Statement::Statement(sqlite3* db, std::string_view sql) : m_db(db)
{
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, &tail);
    if (rc != SQLITE_OK)
        throwFrom(db, rc);
    const std::string_view rest(tail, static_cast<std::size_t>(sql.data() + sql.size() - tail));
    if (!m_stmt)
        throw Error(SQLITE_MISUSE, "no statement to prepare");
    if (rest.find_first_not_of(" \t\r\n;") != std::string_view::npos) {
        sqlite3_finalize(std::exchange(m_stmt, nullptr));
        throw Error(SQLITE_MISUSE, "more than one statement given to prepare");
    }
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement::Statement(Statement&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
    , m_stmt(std::exchange(other.m_stmt, nullptr))
{
}

Statement& Statement::operator=(Statement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = std::exchange(other.m_db, nullptr);
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

void Statement::fail(int code) const
{
    throwFrom(m_db, code);
}

Statement& Statement::bindAll(const std::vector<Value>& values)
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    for (std::size_t i = 0; i < values.size(); ++i)
        bind(static_cast<int>(i) + 1, values[i]);
    return *this;
}

Statement& Statement::bind(int index, const Value& value)
{
    int rc = SQLITE_OK;
    if (std::holds_alternative<Null>(value)) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
        rc = sqlite3_bind_int64(m_stmt, index, *i);
    } else if (const auto* d = std::get_if<double>(&value)) {
        rc = sqlite3_bind_double(m_stmt, index, *d);
    } else if (const auto* s = std::get_if<QString>(&value)) {
        const QByteArray utf8 = s->toUtf8();
        rc = sqlite3_bind_text64(m_stmt, index, utf8.constData(), static_cast<sqlite3_uint64>(utf8.size()),
                                 SQLITE_TRANSIENT, SQLITE_UTF8);
    } else if (const auto* b = std::get_if<QByteArray>(&value)) {
        rc = sqlite3_bind_blob64(m_stmt, index, b->constData(), static_cast<sqlite3_uint64>(b->size()),
                                 SQLITE_TRANSIENT);
    }
    if (rc != SQLITE_OK)
        fail(rc);
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail(rc);
}

void Statement::run()
{
    while (step()) {
    }
}

void Statement::reset()
{
    sqlite3_reset(m_stmt);
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

int Statement::columnIndex(std::string_view name) const
{
    const int count = sqlite3_column_count(m_stmt);
    for (int i = 0; i < count; ++i) {
        const char* column = sqlite3_column_name(m_stmt, i);
        if (column && name == column)
            return i;
    }
    throw Error(SQLITE_MISUSE, "no such column: " + std::string(name));
}

// ---- Connection ------------------------------------------------------------------------------

Connection::Connection(const QString& path, const OpenOptions& options)
{
    int flags = SQLITE_OPEN_NOMUTEX; // access is serialised by Queue or confined to one thread
    switch (options.access) {
    case Access::ReadOnly:
        flags |= SQLITE_OPEN_READONLY;
        break;
    case Access::ReadWrite:
        flags |= SQLITE_OPEN_READWRITE;
        break;
    case Access::Create:
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    }
    if (options.uri)
        flags |= SQLITE_OPEN_URI;

    const QByteArray utf8 = path.toUtf8();
    const int rc = sqlite3_open_v2(utf8.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const Error error(rc & 0xff, m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw error;
    }
    sqlite3_extended_result_codes(m_db, 0);
    try {
        for (const QString& sql : options.onConnect)
            execute(sql.toStdString());
    } catch (...) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
}

Connection::~Connection()
{
    sqlite3_close_v2(m_db);
}

Connection::Connection(Connection&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}

Connection& Connection::operator=(Connection&& other) noexcept
{
    if (this != &other) {
        sqlite3_close_v2(m_db);
        m_db = std::exchange(other.m_db, nullptr);
    }
    return *this;
}

void Connection::execute(std::string_view sql)
{
    // sqlite3_exec needs a terminated string; statements here are short.
    const std::string text(sql);
    const int rc = sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throwFrom(m_db, rc);
}

QStringList Connection::columnsOf(const QString& table)
{
    Statement info = prepare("SELECT name FROM pragma_table_info(?)");
    info.bind(1, table);
    QStringList names;
    while (info.step())
        names.append(info.row().text(0));
    return names;
}

bool Connection::hasTable(const QString& table)
{
    Statement query = prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
    query.bind(1, table);
    return query.step();
}

std::int64_t Connection::lastInsertRowId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

void Connection::rollbackQuietly() noexcept
{
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

// ---- helpers ---------------------------------------------------------------------------------

std::string placeholders(std::size_t count)
{
    std::string out;
    out.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        if (i)
            out += ',';
        out += '?';
    }
    return out;
}

ReadOnlyTarget untouchedReadOnly(const QString& path)
{
    QFile file(path);
    bool walMode = false;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray header = file.read(20);
        // Bytes 18 and 19 of the header are the read and write versions: 2 means write-ahead log.
        walMode =
            header.size() == 20 && header.startsWith("SQLite format 3") && header[18] == 2 && header[19] == 2;
    }
    if (walMode && QFileInfo(path + QStringLiteral("-wal")).size() > 0)
        throw Error(SQLITE_CANTOPEN,
                    "the database has an unmerged write-ahead log beside it; import it as a case first");
    return ReadOnlyTarget{
        QStringLiteral("file:") + uriPath(path) +
            (walMode ? QStringLiteral("?immutable=1") : QStringLiteral("?mode=ro")),
        OpenOptions{Access::ReadOnly, true, {QStringLiteral("PRAGMA query_only = 1")}},
    };
}

QString uriPath(const QString& path)
{
    QString out;
    out.reserve(path.size());
    for (const QChar c : path) {
        if (c == u'?')
            out += QStringLiteral("%3f");
        else if (c == u'#')
            out += QStringLiteral("%23");
        else if (c == u'%')
            out += QStringLiteral("%25");
        else
            out += c;
    }
    return out;
}

} // namespace trovane::sql
