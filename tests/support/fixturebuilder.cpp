#include "fixturebuilder.h"

#include "archivewriter.h"
#include "testimages.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace trovane::testsupport {

BodyEncoder archivedBodies()
{
    return [](const QString& text) {
        std::vector<MessagePart> parts;
        QString run;
        int attachment = 0;
        const auto flush = [&] {
            if (!run.isEmpty())
                parts.push_back(MessagePart{run.toStdString(), {}});
            run.clear();
        };
        for (const QChar c : text) {
            if (c != u'\uFFFC') {
                run += c;
                continue;
            }
            flush();
            parts.push_back(MessagePart{{},
                                        QStringLiteral("at_%1_8C3E5A11-0B7D-4C2A-9F00-%2")
                                            .arg(attachment)
                                            .arg(attachment, 12, 10, QLatin1Char('0'))
                                            .toStdString()});
            ++attachment;
        }
        flush();
        const std::vector<std::uint8_t> bytes = encodeAttributedString(parts);
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    };
}

namespace schemasql {
extern const char* const current;
extern const char* const ios13;
} // namespace schemasql

QString schemaSql(Schema schema)
{
    return QString::fromUtf8(schema == Schema::Current ? schemasql::current : schemasql::ios13);
}

qint64 appleSeconds(const QDateTime& utc)
{
    return utc.toSecsSinceEpoch() - appleEpochOffset;
}

qint64 appleNanos(const QDateTime& utc)
{
    return (utc.toMSecsSinceEpoch() - appleEpochOffset * 1000) * 1'000'000;
}

namespace {

std::uint64_t splitmix(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

QString formatGuid(std::uint64_t high, std::uint64_t low)
{
    // Version 4 / variant 1 bits, as the UUIDs Messages writes.
    high = (high & ~0xf000ULL) | 0x4000ULL;
    low = (low & ~(0x3ULL << 62)) | (0x2ULL << 62);
    static constexpr char hex[] = "0123456789ABCDEF";
    std::array<char, 36> out{};
    int at = 0;
    auto put = [&](std::uint64_t value, int nibbles) {
        for (int i = nibbles - 1; i >= 0; --i)
            out[at++] = hex[(value >> (i * 4)) & 0xf];
    };
    put(high >> 32, 8);
    out[at++] = '-';
    put((high >> 16) & 0xffff, 4);
    out[at++] = '-';
    put(high & 0xffff, 4);
    out[at++] = '-';
    put(low >> 48, 4);
    out[at++] = '-';
    put(low & 0xffffffffffffULL, 12);
    return QString::fromLatin1(out.data(), 36);
}

sql::Value integer(qint64 value)
{
    return sql::Value(std::int64_t(value));
}

sql::Value optional(const std::optional<QString>& value)
{
    return value ? sql::Value(*value) : sql::Value(sql::Null{});
}

sql::Value optional(const std::optional<qint64>& value)
{
    return value ? integer(*value) : sql::Value(sql::Null{});
}

sql::Value optional(const std::optional<QByteArray>& value)
{
    return value ? sql::Value(*value) : sql::Value(sql::Null{});
}

// Binds positional arguments in order; a statement is reset first, because SQLite refuses new
// bindings on a statement that has run and not been reset.
class Binder
{
public:
    explicit Binder(sql::Statement& statement) : m_statement(statement) { m_statement.reset(); }
    Binder& operator()(const sql::Value& value)
    {
        m_statement.bind(m_index++, value);
        return *this;
    }
    void run() { m_statement.run(); }

private:
    sql::Statement& m_statement;
    int m_index = 1;
};

// Statements of a schema file, split into tables (and everything else) and indexes. Each statement
// of the embedded files is on one line.
std::pair<QStringList, QStringList> splitSchema(const QString& sql)
{
    QStringList tables, indexes;
    for (const QString& line : sql.split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1StringView("--")))
            continue;
        (trimmed.startsWith(QLatin1StringView("CREATE INDEX")) ? indexes : tables).append(trimmed);
    }
    return {tables, indexes};
}

const QString accountLogin = QStringLiteral("E:me@example.icloud.com");
const QString ownNumber = QStringLiteral("+15550100000");

} // namespace

// ---- FixtureBuilder ---------------------------------------------------------------------------

struct FixtureBuilder::Statements
{
    sql::Statement handle, chat, chatHandle, message, chatMessage, attachment, messageAttachment,
        markAttachments;
};

FixtureBuilder::FixtureBuilder(sql::Connection& connection, Options options)
    : m_connection(connection)
    , m_options(std::move(options))
    , m_random(m_options.seed * 0x2545f4914f6cdd1dULL + 0x1234567ULL)
{
}

FixtureBuilder::~FixtureBuilder() = default;

void FixtureBuilder::createSchema(bool withIndexes)
{
    const auto [tables, indexes] = splitSchema(schemaSql(m_options.schema));
    for (const QString& statement : tables)
        m_connection.execute(statement.toStdString());
    if (withIndexes) {
        for (const QString& statement : indexes)
            m_connection.execute(statement.toStdString());
    }
    const bool current = m_options.schema == Schema::Current;
    m_connection.execute(current
                             ? "INSERT INTO _SqliteDatabaseProperties VALUES ('_ClientVersion', '17002')"
                             : "INSERT INTO _SqliteDatabaseProperties VALUES ('_ClientVersion', '12005')");
    m_connection.execute("INSERT INTO _SqliteDatabaseProperties VALUES ('counter_in_all', '0'), "
                         "('counter_out_all', '0'), ('counter_last_reset', '0')");

    const std::string dated = current ? ", date_edited, date_retracted, associated_message_emoji" : "";
    const std::string datedArgs = current ? ", ?, ?, ?" : "";
    m_statements = std::make_unique<Statements>(Statements{
        m_connection.prepare("INSERT INTO handle (ROWID, id, country, service, uncanonicalized_id) "
                             "VALUES (?, ?, ?, ?, ?)"),
        m_connection.prepare("INSERT INTO chat (ROWID, guid, style, state, account_id, chat_identifier, "
                             "service_name, room_name, account_login, display_name, group_id, is_filtered, "
                             "successful_query, last_addressed_handle, original_group_id) "
                             "VALUES (?, ?, ?, 3, ?, ?, ?, ?, ?, ?, ?, 0, 1, ?, ?)"),
        m_connection.prepare("INSERT INTO chat_handle_join (chat_id, handle_id) VALUES (?, ?)"),
        m_connection.prepare(
            "INSERT INTO message (ROWID, guid, text, handle_id, service, account, account_guid, "
            "date, date_read, date_delivered, is_delivered, is_finished, is_from_me, is_read, "
            "is_sent, attributedBody, version, item_type, other_handle, group_title, "
            "group_action_type, associated_message_guid, associated_message_type, "
            "cache_roomnames, destination_caller_id" +
            dated +
            ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1, ?, ?, ?, ?, 10, ?, ?, ?, ?, ?, ?, "
            "?, ?" +
            datedArgs + ")"),
        m_connection.prepare(
            "INSERT INTO chat_message_join (chat_id, message_id, message_date) VALUES (?, ?, ?)"),
        m_connection.prepare(
            "INSERT INTO attachment (ROWID, guid, created_date, start_date, filename, uti, "
            "mime_type, transfer_state, is_outgoing, transfer_name, total_bytes, original_guid) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, 5, ?, ?, ?, ?)"),
        m_connection.prepare("INSERT INTO message_attachment_join (message_id, attachment_id) VALUES (?, ?)"),
        m_connection.prepare("UPDATE message SET cache_has_attachments = 1 WHERE ROWID = ?"),
    });
    m_accountGuid = newGuid();
}

void FixtureBuilder::createIndexes()
{
    for (const QString& statement : splitSchema(schemaSql(m_options.schema)).second)
        m_connection.execute(statement.toStdString());
}

QString FixtureBuilder::newGuid()
{
    const std::uint64_t high = splitmix(m_random);
    return formatGuid(high, splitmix(m_random));
}

QString FixtureBuilder::derivedGuid(std::uint64_t kind, qint64 rowid) const
{
    std::uint64_t state = m_options.seed * 0x9e3779b97f4a7c15ULL ^ (kind << 56) ^ std::uint64_t(rowid);
    const std::uint64_t high = splitmix(state);
    return formatGuid(high, splitmix(state));
}

QString FixtureBuilder::attachmentRelativePath(const QString& transferGuid, const QString& name)
{
    // Messages spreads transfers over two folder levels derived from the guid.
    const QByteArray digest = QCryptographicHash::hash(transferGuid.toUtf8(), QCryptographicHash::Sha1);
    const QString first = QString::fromLatin1(digest.left(1).toHex());
    const QString second =
        QStringLiteral("%1").arg(static_cast<unsigned char>(digest.at(1)) % 16, 2, 10, QChar(u'0'));
    return first + u'/' + second + u'/' + transferGuid + u'/' + name;
}

HandleRow handleRow(const QString& id,
                    const QString& service,
                    const std::optional<QString>& country,
                    const std::optional<QString>& uncanonicalizedId)
{
    HandleRow row;
    row.id = id;
    row.service = service;
    row.country = country;
    row.uncanonicalizedId = uncanonicalizedId;
    return row;
}

QString FixtureBuilder::recordedFilename(const QString& relativePath)
{
    return QStringLiteral("~/Library/Messages/Attachments/") + relativePath;
}

void FixtureBuilder::requireSchema()
{
    if (!m_statements)
        throw std::logic_error("FixtureBuilder: createSchema() must run before rows are added");
}

qint64 FixtureBuilder::addHandle(const HandleRow& handle)
{
    requireSchema();
    const qint64 rowid = m_nextHandle++;
    Binder(m_statements->handle)(integer(rowid))(handle.id)(optional(handle.country))(handle.service)(
        optional(handle.uncanonicalizedId))
        .run();
    m_handleIds.insert(rowid, handle.id);
    return rowid;
}

qint64 FixtureBuilder::addChat(const ChatRow& chat)
{
    requireSchema();
    const qint64 rowid = m_nextChat++;
    const bool group = chat.style == 43;
    std::optional<QString> identifier = chat.chatIdentifier;
    if (!identifier && chat.guid.isEmpty() && !chat.participants.isEmpty() && !group)
        identifier = m_handleIds.value(chat.participants.first());
    QString guid = chat.guid;
    if (guid.isEmpty()) {
        QString key = identifier.value_or(QString());
        if (key.isEmpty())
            key = group ? QStringLiteral("chat%1").arg(splitmix(m_random) % 1'000'000'000'000'000'000ULL)
                        : derivedGuid(2, rowid);
        guid = chat.service + (group ? QStringLiteral(";+;") : QStringLiteral(";-;")) + key;
    }
    const std::optional<QString> roomName = group ? identifier : std::nullopt;
    const QString groupId = newGuid();
    const std::optional<QString> lastAddressed = chat.service == u"SMS" ? ownNumber : accountLogin.mid(2);
    Binder(m_statements->chat)(integer(rowid))(guid)(integer(chat.style))(
        m_accountGuid)(optional(identifier))(chat.service)(optional(roomName))(
        accountLogin)(optional(chat.displayName))(groupId)(optional(lastAddressed))(groupId)
        .run();
    for (const qint64 handle : chat.participants)
        Binder(m_statements->chatHandle)(integer(rowid))(integer(handle)).run();
    m_chatGuids.insert(rowid, guid);
    if (group && roomName)
        m_roomNames.insert(rowid, *roomName);
    return rowid;
}

void FixtureBuilder::encodeBody(const MessageRow& message,
                                std::optional<QString>& text,
                                std::optional<QByteArray>& body)
{
    text = message.text;
    body = message.attributedBody;
    if (body || !text || !m_options.bodyEncoder)
        return;
    switch (message.storage) {
    case BodyStorage::TextOnly:
        return;
    case BodyStorage::Both:
        body = m_options.bodyEncoder(*text);
        return;
    case BodyStorage::BlobOnly:
        body = m_options.bodyEncoder(*text);
        text.reset();
        return;
    case BodyStorage::Auto: {
        // Current macOS leaves `text` NULL or '' and keeps the words only in the blob; older rows
        // (and some current ones) have both. One in ten keeps both, two in ten store ''.
        body = m_options.bodyEncoder(*text);
        const quint64 n = m_autoBodies++ % 10;
        if (n == 9)
            return;
        if (n == 2 || n == 6)
            text = QString(); // present but empty: bound as ''
        else
            text.reset();
        return;
    }
    }
}

qint64 FixtureBuilder::addMessage(const MessageRow& message)
{
    requireSchema();
    const bool current = m_options.schema == Schema::Current;
    if (!current && (message.dateEdited || message.dateRetracted || message.associatedEmoji))
        throw std::logic_error("FixtureBuilder: the iOS 13 schema has no edit, unsend or emoji columns");
    if (message.fromMe && message.handle != 0)
        throw std::logic_error("FixtureBuilder: the account holder's own messages have handle_id 0");

    const qint64 rowid = m_nextMessage++;
    const QString guid = message.guid.isEmpty() ? derivedGuid(1, rowid) : message.guid;
    if (!message.guid.isEmpty())
        m_explicitMessageGuids.insert(rowid, message.guid);

    std::optional<QString> text;
    std::optional<QByteArray> body;
    encodeBody(message, text, body);

    const qint64 date = message.date.value_or(0);
    // Whole-second dates stay whole seconds; a few seconds later in the same unit.
    const qint64 later = date > 100'000'000'000LL ? 4 * nanosPerSecond + (rowid % 997) * 1'000'000 : 4;
    const std::optional<qint64> dateRead =
        message.dateRead ? message.dateRead
                         : std::optional<qint64>(message.fromMe || date == 0 ? 0 : date + later);
    const qint64 dateDelivered = message.fromMe && date ? date + later / 4 : 0;
    const bool sms = message.service == u"SMS";
    const QString account = sms ? QStringLiteral("p:") + ownNumber : accountLogin;
    const qint64 firstChat = message.chats.isEmpty() ? 0 : message.chats.first();
    const std::optional<QString> roomName =
        m_roomNames.contains(firstChat) ? std::optional<QString>(m_roomNames.value(firstChat)) : std::nullopt;
    Binder bind(m_statements->message);
    bind(integer(rowid))(guid)(optional(text))(integer(message.handle))(message.service)(
        account)(m_accountGuid)(message.date ? integer(*message.date) : sql::Value(sql::Null{}))(
        optional(dateRead))(integer(dateDelivered))(integer(message.fromMe ? 1 : 0))(
        integer(message.fromMe ? 1 : 0))(integer(message.fromMe ? 0 : 1))(integer(message.fromMe ? 1 : 0))(
        optional(body))(integer(message.itemType))(integer(message.otherHandle))(
        optional(message.groupTitle))(integer(message.groupActionType))(optional(message.associatedGuid))(
        integer(message.associatedType))(optional(roomName))(ownNumber);
    if (current)
        bind(integer(message.dateEdited))(integer(message.dateRetracted))(optional(message.associatedEmoji));
    bind.run();

    for (const qint64 chat : message.chats)
        joinMessageToChat(chat, rowid, message.date);
    return rowid;
}

void FixtureBuilder::joinMessageToChat(qint64 chat, qint64 message, std::optional<qint64> date)
{
    requireSchema();
    Binder(m_statements->chatMessage)(integer(chat))(integer(message))(integer(date.value_or(0))).run();
}

qint64 FixtureBuilder::addAttachment(const AttachmentRow& attachment)
{
    requireSchema();
    const qint64 rowid = m_nextAttachment++;
    const QString guid = attachment.guid.isEmpty() ? derivedGuid(3, rowid) : attachment.guid;
    Binder(m_statements->attachment)(integer(rowid))(guid)(integer(attachment.createdDate))(
        integer(attachment.createdDate))(optional(attachment.filename))(optional(attachment.uti))(
        optional(attachment.mimeType))(integer(attachment.outgoing ? 1 : 0))(
        optional(attachment.transferName))(optional(attachment.totalBytes))(guid)
        .run();
    if (attachment.message) {
        Binder(m_statements->messageAttachment)(integer(attachment.message))(integer(rowid)).run();
        Binder(m_statements->markAttachments)(integer(attachment.message)).run();
    }
    return rowid;
}

QString FixtureBuilder::messageGuid(qint64 message) const
{
    if (message <= 0 || message >= m_nextMessage)
        return {};
    return m_explicitMessageGuids.value(message, derivedGuid(1, message));
}

QString FixtureBuilder::chatGuid(qint64 chat) const
{
    return m_chatGuids.value(chat);
}

void FixtureBuilder::write(const QString& dbPath,
                           const Options& options,
                           const std::function<void(FixtureBuilder&)>& fill)
{
    auto removeAll = [&] {
        for (const char* suffix : {"", "-journal", "-wal", "-shm"})
            QFile::remove(dbPath + QLatin1StringView(suffix));
    };
    removeAll();
    const QString folder = QFileInfo(dbPath).absolutePath();
    if (!QDir().mkpath(folder))
        throw std::runtime_error("cannot create the folder " + folder.toStdString());
    try {
        sql::OpenOptions create;
        create.access = sql::Access::Create;
        sql::Connection connection(dbPath, create);
        // Building is a one-shot bulk load: nothing to protect until it is complete.
        connection.execute("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; "
                           "PRAGMA cache_size = -262144");
        {
            FixtureBuilder builder(connection, options);
            connection.inTransaction([&](sql::Connection&) {
                builder.createSchema(false);
                fill(builder);
                builder.createIndexes();
            });
        }
        // Real databases are WAL; the result here is a plain rollback-journal file so that it can
        // be copied or opened read-only with no -wal/-shm beside it.
        connection.execute("PRAGMA journal_mode = DELETE");
        connection.execute("PRAGMA synchronous = FULL");
    } catch (...) {
        removeAll();
        throw;
    }
}

// ---- helpers shared by the ready-made fixtures ------------------------------------------------

namespace detail {

QByteArray vcard(const QString& name, const QString& phone, const QString& email)
{
    return QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nN:%1;;;\r\nFN:%1\r\nTEL;type=CELL:%2\r\n"
                          "EMAIL;type=HOME:%3\r\nEND:VCARD\r\n")
        .arg(name, phone, email)
        .toUtf8();
}

QByteArray pdf(const QStringList& lines)
{
    // A one-page PDF with Helvetica text, its cross-reference offsets computed as it is written.
    QByteArray content = "BT /F1 14 Tf 72 740 Td 18 TL\n";
    for (const QString& line : lines) {
        QString escaped = line;
        escaped.replace(u'\\', QLatin1StringView("\\\\")).replace(u'(', QLatin1StringView("\\("));
        escaped.replace(u')', QLatin1StringView("\\)"));
        content += "(" + escaped.toLatin1() + ") Tj T*\n";
    }
    content += "ET\n";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray out = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
}

MessageRow systemRow(qint64 chat,
                     qint64 from,
                     qint64 date,
                     int itemType,
                     int action,
                     std::optional<QString> title,
                     qint64 other)
{
    MessageRow m;
    m.chats = {chat};
    m.handle = from;
    m.fromMe = from == 0;
    m.date = date;
    m.itemType = itemType;
    m.groupActionType = action;
    m.groupTitle = std::move(title);
    m.otherHandle = other;
    m.storage = BodyStorage::TextOnly;
    return m;
}

QString tapbackText(int type, const QString& target)
{
    static const char* const set[] = {"Loved", "Liked", "Disliked", "Laughed at", "Emphasized", "Questioned"};
    static const char* const removed[] = {"a heart", "a like",         "a dislike",
                                          "a laugh", "an exclamation", "a question mark"};
    const QString quoted = u'\u201c' + target.left(60) + u'\u201d';
    if (type >= 2000 && type <= 2005)
        return QLatin1StringView(set[type - 2000]) + u' ' + quoted;
    if (type >= 3000 && type <= 3005)
        return QStringLiteral("Removed %1 from ").arg(QLatin1StringView(removed[type - 3000])) + quoted;
    if (type == 2006)
        return QStringLiteral("Reacted \U0001F389 to ") + quoted;
    return QStringLiteral("Removed \U0001F389 from ") + quoted;
}

} // namespace detail

// ---- the standard fixture ---------------------------------------------------------------------

namespace {

// Files for attachments, generated once per fixture and written under the attachments root.
struct Picture
{
    QByteArray bytes;
    QSize stored;
};

} // namespace

FixtureFacts writeStandardFixture(const QString& dbPath,
                                  const QString& attachmentsRoot,
                                  const BodyEncoder& bodyEncoder,
                                  Schema schema)
{
    FixtureFacts facts;
    facts.schema = schema;
    const bool current = schema == Schema::Current;

    const QSize size(640, 480);
    const QImage upright6 = testimages::picture(size, 6), upright8 = testimages::picture(size, 8);
    const Picture jpeg6{testimages::jpeg(testimages::storedForOrientation(upright6, 6), 6),
                        testimages::storedForOrientation(upright6, 6).size()};
    const Picture jpeg8{testimages::jpeg(testimages::storedForOrientation(upright8, 8), 8),
                        testimages::storedForOrientation(upright8, 8).size()};
    const QByteArray pngBytes = testimages::png(testimages::picture(size, 12));
    const QByteArray heicBytes = testimages::heic(testimages::picture(size, 21));
    const QByteArray vcardBytes =
        detail::vcard(QStringLiteral("Ann Lee"), QStringLiteral("+1 (555) 246-8100"),
                      QStringLiteral("ann.lee@example.com"));
    const QByteArray pdfBytes = detail::pdf(
        {QStringLiteral("RESIDENTIAL LEASE AGREEMENT"), QString(), QStringLiteral("Tenant: Ann Lee"),
         QStringLiteral("Premises: 12 Elm Street, Apt 4B"),
         QStringLiteral("Term: 12 months from June 1, 2024"), QStringLiteral("Monthly rent: $1,850")});
    facts.storedJpegSize = jpeg6.stored;
    facts.pictureSize = size;

    // Dates: nanoseconds in 2024 unless said otherwise, a little sub-second noise like real rows.
    auto at = [](int month, int day, int hour, int minute, int second = 0) {
        const QDateTime utc(QDate(2024, month, day), QTime(hour, minute, second), QTimeZone::utc());
        return appleNanos(utc) + (qint64(month * 31 + day) * 7919 + minute * 104729) % 999'999'937;
    };
    auto atSeconds = [](int year, int month, int day, int hour, int minute) {
        return appleSeconds(QDateTime(QDate(year, month, day), QTime(hour, minute), QTimeZone::utc()));
    };

    FixtureBuilder::Options options;
    options.schema = schema;
    options.bodyEncoder = bodyEncoder;
    options.seed = 20240301;

    FixtureBuilder::write(dbPath, options, [&](FixtureBuilder& b) {
        const auto handle = [&](const QString& id, const QString& service = QStringLiteral("iMessage"),
                                std::optional<QString> uncanonical = std::nullopt) {
            return b.addHandle(handleRow(id, service, QStringLiteral("us"), uncanonical));
        };
        facts.phoneFormattedHandle = handle(QStringLiteral("+1 (555) 123-4567"));
        facts.phoneDigitsHandle =
            handle(QStringLiteral("5551234567"), QStringLiteral("SMS"), QStringLiteral("5551234567"));
        facts.emailMixedCaseHandle = handle(QStringLiteral("Ann.Lee@Example.com"));
        facts.emailLowerCaseHandle = handle(QStringLiteral("ann.lee@example.com"));
        const qint64 bob =
            handle(QStringLiteral("+15557654321"), QStringLiteral("iMessage"), QStringLiteral("5557654321"));
        const qint64 carol = handle(QStringLiteral("+15550001111"));
        const qint64 dave = handle(QStringLiteral("dave@example.org"));
        const qint64 emma = b.addHandle(
            handleRow(QStringLiteral("+447700900123"), QStringLiteral("iMessage"), QStringLiteral("gb")));
        const qint64 frank = handle(QStringLiteral("frank@example.net"));
        const qint64 grace = handle(QStringLiteral("+15552223333"));

        const auto oneToOne = [&](qint64 who, const QString& service = QStringLiteral("iMessage")) {
            ChatRow chat;
            chat.service = service;
            chat.participants = {who};
            return b.addChat(chat);
        };
        facts.phoneFormattedChat = oneToOne(facts.phoneFormattedHandle);
        facts.phoneDigitsChat = oneToOne(facts.phoneDigitsHandle, QStringLiteral("SMS"));
        facts.emailMixedCaseChat = oneToOne(facts.emailMixedCaseHandle);
        facts.emailLowerCaseChat = oneToOne(facts.emailLowerCaseHandle);

        facts.namedGroupTitle = QStringLiteral("Book Club");
        const auto group = [&](std::optional<QString> name, const QString& identifier,
                               QList<qint64> members) {
            ChatRow chat;
            chat.style = 43;
            chat.displayName = std::move(name);
            chat.chatIdentifier = identifier;
            chat.participants = std::move(members);
            return b.addChat(chat);
        };
        facts.namedGroup =
            group(facts.namedGroupTitle, QStringLiteral("chat784512369874512365"), {bob, carol, dave});
        facts.emptyNameGroup = group(QString(), QStringLiteral("chat110928374650192837"), {bob, carol, emma});
        facts.nullNameGroup =
            group(std::nullopt, QStringLiteral("chat556677889900112233"), {bob, carol, emma});

        facts.participantlessIdentifier = QStringLiteral("+15559990000");
        {
            ChatRow chat;
            chat.chatIdentifier = facts.participantlessIdentifier;
            chat.service = QStringLiteral("SMS");
            facts.participantlessChat = b.addChat(chat);
        }
        {
            ChatRow chat;
            chat.chatIdentifier = std::nullopt;
            chat.guid = QStringLiteral("iMessage;-;frank@example.net");
            chat.participants = {frank};
            // addChat fills a missing identifier from the participant; this one must stay NULL.
            facts.emptyChat = b.addChat(chat);
        }
        facts.zeroDateChat = oneToOne(grace);

        // A plain message; `from` 0 means the account holder.
        const auto say = [&](qint64 chat, qint64 from, std::optional<qint64> date, const QString& text,
                             const QString& service = QStringLiteral("iMessage")) {
            MessageRow m;
            m.chats = {chat};
            m.handle = from;
            m.fromMe = from == 0;
            m.date = date;
            m.text = text;
            m.service = service;
            return b.addMessage(m);
        };
        QHash<qint64, QString> texts; // for tapback wording
        const auto sayT = [&](qint64 chat, qint64 from, std::optional<qint64> date, const QString& text) {
            const qint64 id = say(chat, from, date, text);
            texts.insert(id, text);
            return id;
        };
        const auto react = [&](qint64 chat, qint64 from, qint64 date, int type, qint64 target,
                               bool partIndexed, std::optional<QString> emoji = std::nullopt) {
            MessageRow m;
            m.chats = {chat};
            m.handle = from;
            m.fromMe = from == 0;
            m.date = date;
            const QString guid = b.messageGuid(target);
            m.associatedGuid = (partIndexed ? QStringLiteral("p:0/") : QStringLiteral("bp:")) + guid;
            m.associatedType = type;
            m.text = detail::tapbackText(type, texts.value(target));
            if (current)
                m.associatedEmoji = emoji;
            const qint64 id = b.addMessage(m);
            facts.tapbacks.append(id);
            return id;
        };
        // A message whose only sender is "no handle": received, handle_id 0.
        const auto sayAnonymous = [&](qint64 chat, qint64 date, const QString& text) {
            MessageRow m;
            m.chats = {chat};
            m.date = date;
            m.text = text;
            m.service = QStringLiteral("SMS");
            const qint64 id = b.addMessage(m);
            texts.insert(id, text);
            return id;
        };
        const auto attach = [&](qint64 message, const QString& name, const QString& uti,
                                const std::optional<QString>& mime, const QByteArray& bytes, bool writeFile,
                                bool outgoing, qint64 created) {
            AttachmentRow a;
            a.guid = b.newGuid();
            a.message = message;
            const QString relative = FixtureBuilder::attachmentRelativePath(a.guid, name);
            a.filename = FixtureBuilder::recordedFilename(relative);
            a.uti = uti;
            a.mimeType = mime;
            a.transferName = name;
            a.totalBytes = bytes.size();
            a.outgoing = outgoing;
            a.createdDate = created;
            const qint64 id = b.addAttachment(a);
            if (writeFile) {
                facts.files.insert(id, relative);
                if (!attachmentsRoot.isEmpty())
                    detail::writeFile(attachmentsRoot + u'/' + relative, bytes);
            }
            return id;
        };
        const auto secondsOf = [](qint64 nanos) { return nanos / nanosPerSecond; };
        const QString obj(u'\uFFFC');

        // The SMS chat of the digits spelling: older, whole-second dates.
        const qint64 phone = facts.phoneFormattedHandle, digits = facts.phoneDigitsHandle;
        const qint64 smsChat = facts.phoneDigitsChat, imChat = facts.phoneFormattedChat;
        const QString sms = QStringLiteral("SMS");
        facts.secondsDateMessages << say(smsChat, digits, atSeconds(2016, 5, 2, 18, 3),
                                         QStringLiteral("Hey, it's Sam. New number, save this one"), sms)
                                  << say(smsChat, 0, atSeconds(2016, 5, 2, 18, 5), QStringLiteral("Got it 👍"),
                                         sms)
                                  << say(smsChat, digits, atSeconds(2016, 5, 6, 9, 40),
                                         QStringLiteral("Are we still on for Saturday?"), sms)
                                  << say(smsChat, 0, atSeconds(2016, 5, 6, 9, 52),
                                         QStringLiteral("Yes! 10am at the park"), sms);

        // The iMessage chat of the formatted spelling.
        facts.emojiText = QStringLiteral(
            "Happy birthday! 🎉🎂 Hope it's a great one 🥳 👨‍👩‍👧‍👦 🇺🇸 ❤️");
        facts.emojiMessage = say(imChat, phone, at(3, 4, 8, 15), facts.emojiText);
        sayT(imChat, 0, at(3, 4, 8, 17), QStringLiteral("Thank you!! ❤️"));
        facts.zeroDateMessage = say(imChat, phone, 0, QStringLiteral("This one lost its date somewhere"));
        {
            MessageRow m;
            m.chats = {imChat};
            m.handle = phone;
            m.date = at(3, 9, 16, 2);
            m.text = obj + obj + QStringLiteral("From the hike on Saturday");
            const qint64 photos = b.addMessage(m);
            facts.jpegOrientation6 =
                attach(photos, QStringLiteral("IMG_0006.JPG"), QStringLiteral("public.jpeg"),
                       QStringLiteral("image/jpeg"), jpeg6.bytes, true, false, secondsOf(*m.date));
            facts.jpegOrientation8 =
                attach(photos, QStringLiteral("IMG_0008.JPG"), QStringLiteral("public.jpeg"),
                       QStringLiteral("image/jpeg"), jpeg8.bytes, true, false, secondsOf(*m.date));
        }
        {
            MessageRow m;
            m.chats = {imChat};
            m.fromMe = true;
            m.date = at(3, 9, 16, 30);
            m.text = QString();
            m.storage = BodyStorage::TextOnly;
            facts.attachmentOnlyMessage = b.addMessage(m);
            facts.png =
                attach(facts.attachmentOnlyMessage, QStringLiteral("Screenshot 2024-03-09 at 16.29.51.png"),
                       QStringLiteral("public.png"), QStringLiteral("image/png"), pngBytes, true, true,
                       secondsOf(*m.date));
        }
        const qint64 pineapple =
            sayT(imChat, 0, at(3, 10, 12, 0), QStringLiteral("Pineapple on pizza, yes or no?"));
        react(imChat, phone, at(3, 10, 12, 1), tapback::Dislike, pineapple, true);
        react(imChat, phone, at(3, 10, 12, 3), tapback::Dislike + tapback::RemoveOffset, pineapple, false);
        facts.missingTargetGuid = QStringLiteral("0D1E2F3A-4B5C-4D6E-8F70-8192A3B4C5D6");
        {
            MessageRow m;
            m.chats = {imChat};
            m.fromMe = true;
            m.date = at(3, 10, 12, 5);
            m.associatedType = tapback::Question;
            m.associatedGuid = QStringLiteral("p:0/") + facts.missingTargetGuid;
            m.text = detail::tapbackText(tapback::Question, QStringLiteral("a message that was deleted"));
            facts.missingTargetTapback = b.addMessage(m);
            facts.tapbacks.append(facts.missingTargetTapback);
        }
        {
            MessageRow m;
            m.chats = {imChat, smsChat};
            m.handle = phone;
            m.date = at(3, 12, 18, 44);
            m.text = QStringLiteral("Running 10 min late, sorry!");
            facts.twoChatMessage = b.addMessage(m);
        }

        // Ann, mixed-case address: accents, an edit, a contact card, a NULL date.
        const qint64 annM = facts.emailMixedCaseHandle, annChatM = facts.emailMixedCaseChat;
        facts.accentText =
            QStringLiteral("Café crème à Zürich — naïve façade, São Paulo, Ångström, Łódź, ñandú, "
                           "Dvořák, İstanbul");
        facts.accentMessage = say(annChatM, annM, at(4, 2, 19, 0), facts.accentText);
        say(annChatM, 0, at(4, 2, 19, 4), QStringLiteral("Sounds lovely. Dinner this week?"));
        {
            MessageRow m;
            m.chats = {annChatM};
            m.handle = annM;
            m.date = at(4, 2, 19, 10);
            m.text = QStringLiteral("See you at 7:30 instead");
            if (current) {
                m.dateEdited = *m.date + 42 * nanosPerSecond;
                facts.editedMessage = b.addMessage(m);
            } else {
                b.addMessage(m);
            }
        }
        {
            MessageRow m;
            m.chats = {annChatM};
            m.handle = annM;
            m.date = at(4, 2, 19, 12);
            m.text = obj;
            const qint64 card = b.addMessage(m);
            facts.vcard = attach(card, QStringLiteral("Ann Lee.vcf"), QStringLiteral("public.vcard"),
                                 QStringLiteral("text/vcard"), vcardBytes, true, false, secondsOf(*m.date));
        }
        facts.nullDateMessage =
            say(annChatM, 0, std::nullopt, QStringLiteral("Sent while the clock was wrong"));

        // Ann, lower-case address: a long message, an unsent one, a PDF, a blank.
        const qint64 annL = facts.emailLowerCaseHandle, annChatL = facts.emailLowerCaseChat;
        {
            QStringList lines{QStringLiteral("Notes from today's meeting with the landlord:"), QString()};
            for (int i = 1; i <= 40; ++i)
                lines << QStringLiteral("%1. Item %1 — the heating in unit %2 was checked on the %3th and "
                                        "the report says it still needs a second visit before winter.")
                             .arg(i)
                             .arg(100 + i * 3)
                             .arg(1 + i % 28);
            lines << QString() << QStringLiteral("Let me know what you think.") << QStringLiteral("— Ann");
            facts.longText = lines.join(u'\n');
        }
        facts.longMessage = say(annChatL, annL, at(5, 20, 9, 0), facts.longText);
        {
            MessageRow m;
            m.chats = {annChatL};
            m.fromMe = true;
            m.date = at(5, 20, 9, 30);
            m.text = QString();
            m.storage = BodyStorage::TextOnly;
            if (current) {
                m.dateRetracted = *m.date + 75 * nanosPerSecond;
                facts.unsentMessage = b.addMessage(m);
            } else {
                m.text = QStringLiteral("Oops");
                b.addMessage(m);
            }
        }
        say(annChatL, 0, at(5, 20, 9, 31), QStringLiteral("Sorry, wrong chat"));
        {
            MessageRow m;
            m.chats = {annChatL};
            m.fromMe = true;
            m.date = at(5, 21, 10, 0);
            m.text = obj + QStringLiteral("Here's the lease");
            const qint64 lease = b.addMessage(m);
            facts.pdf = attach(lease, QStringLiteral("Lease agreement.pdf"), QStringLiteral("com.adobe.pdf"),
                               QStringLiteral("application/pdf"), pdfBytes, true, true, secondsOf(*m.date));
        }
        facts.blankMessage = say(annChatL, annL, at(5, 21, 10, 5), QStringLiteral(" "));

        // The named group: system rows, the tapback sequence, pictures and broken attachments.
        const qint64 book = facts.namedGroup;
        const auto system = [&](qint64 chat, qint64 from, qint64 date, int itemType, int action,
                                std::optional<QString> title, qint64 other) {
            const qint64 id =
                b.addMessage(detail::systemRow(chat, from, date, itemType, action, std::move(title), other));
            facts.systemMessages.append(id);
            return id;
        };
        system(book, 0, at(6, 1, 20, 0), 1, 0, std::nullopt, dave);         // I added Dave
        system(book, bob, at(6, 1, 20, 2), 2, 0, facts.namedGroupTitle, 0); // Bob named the group
        facts.reactedMessage = sayT(book, bob, at(6, 1, 20, 5), QStringLiteral("Who's finished chapter 3?"));
        facts.reactedGuid = b.messageGuid(facts.reactedMessage);
        const qint64 spoilers =
            sayT(book, carol, at(6, 1, 20, 6), QStringLiteral("Almost! No spoilers please 🙈"));
        const qint64 t1 = facts.reactedMessage;
        react(book, carol, at(6, 1, 20, 7), tapback::Love, t1, true);
        react(book, dave, at(6, 1, 20, 8), tapback::Like, t1, false);
        react(book, 0, at(6, 1, 20, 9), tapback::Laugh, t1, true);
        react(book, carol, at(6, 1, 20, 10), tapback::Like, t1, false); // replaces her Love
        react(book, dave, at(6, 1, 20, 11), tapback::Like + tapback::RemoveOffset, t1, true);
        react(book, dave, at(6, 1, 20, 12), tapback::Other, t1, true, QStringLiteral("🎉"));
        react(book, dave, at(6, 1, 20, 13), tapback::Other + tapback::RemoveOffset, t1, true,
              QStringLiteral("🎉"));
        react(book, bob, at(6, 1, 20, 14), tapback::Love, spoilers, true);
        react(book, bob, at(6, 1, 20, 15), tapback::Love + tapback::RemoveOffset, spoilers, false);
        {
            MessageRow m;
            m.chats = {book};
            m.handle = bob;
            m.date = at(6, 2, 8, 0);
            m.text = obj;
            const qint64 cover = b.addMessage(m);
            facts.heic = attach(cover, QStringLiteral("IMG_0021.HEIC"), QStringLiteral("public.heic"),
                                QStringLiteral("image/heic"), heicBytes, true, false, secondsOf(*m.date));
            m.handle = carol;
            m.date = at(6, 2, 8, 5);
            const qint64 lost = b.addMessage(m);
            facts.missingFileAttachment =
                attach(lost, QStringLiteral("IMG_0456.HEIC"), QStringLiteral("public.heic"),
                       QStringLiteral("image/heic"), heicBytes, false, false, secondsOf(*m.date));
            m.handle = dave;
            m.date = at(6, 2, 8, 9);
            const qint64 never = b.addMessage(m);
            AttachmentRow a;
            a.message = never;
            a.uti = QStringLiteral("public.jpeg");
            a.mimeType = QStringLiteral("image/jpeg");
            a.transferName = QStringLiteral("IMG_0777.JPG");
            a.totalBytes = 1'204'332;
            a.createdDate = secondsOf(*m.date);
            facts.nullFilenameAttachment = b.addAttachment(a);

            m.handle = 0;
            m.fromMe = true;
            m.date = at(6, 2, 8, 12);
            const qint64 sparse = b.addMessage(m);
            AttachmentRow s;
            s.guid = b.newGuid();
            s.message = sparse;
            s.filename = FixtureBuilder::recordedFilename(
                FixtureBuilder::attachmentRelativePath(s.guid, QStringLiteral("IMG_0999.JPG")));
            s.uti = QStringLiteral("public.jpeg");
            s.mimeType = std::nullopt;
            s.transferName = QString();
            s.totalBytes = std::nullopt;
            s.outgoing = true;
            s.createdDate = secondsOf(*m.date);
            facts.sparseAttachment = b.addAttachment(s);
        }
        system(book, bob, at(6, 3, 21, 0), 1, 1, std::nullopt, dave); // Bob removed Dave

        // The group without a name and its twin with NULL for a name (same members).
        const qint64 dinner =
            sayT(facts.emptyNameGroup, bob, at(6, 10, 17, 0), QStringLiteral("Dinner Friday?"));
        const qint64 pasta = sayT(facts.emptyNameGroup, emma, at(6, 10, 17, 2), QStringLiteral("I'm in 🍝"));
        say(facts.emptyNameGroup, 0, at(6, 10, 17, 3), QStringLiteral("Same, 7pm?"));
        react(facts.emptyNameGroup, 0, at(6, 10, 17, 4), tapback::Laugh, pasta, true);
        react(facts.emptyNameGroup, 0, at(6, 10, 17, 5), tapback::Laugh + tapback::RemoveOffset, pasta,
              false);
        react(facts.emptyNameGroup, emma, at(6, 10, 17, 6), tapback::Emphasize, dinner, false);
        react(facts.emptyNameGroup, emma, at(6, 10, 17, 7), tapback::Emphasize + tapback::RemoveOffset,
              dinner, true);
        system(facts.emptyNameGroup, emma, at(6, 11, 9, 0), 3, 0, std::nullopt, 0); // Emma left

        const qint64 which =
            sayT(facts.nullNameGroup, bob, at(6, 12, 10, 0), QStringLiteral("Which group is this again?"));
        say(facts.nullNameGroup, carol, at(6, 12, 10, 1), QStringLiteral("The other one 😄"));
        react(facts.nullNameGroup, emma, at(6, 12, 10, 2), tapback::Question, which, false);
        react(facts.nullNameGroup, emma, at(6, 12, 10, 3), tapback::Question + tapback::RemoveOffset, which,
              true);

        // No participants: received rows have no handle.
        const qint64 noPart = facts.participantlessChat;
        sayAnonymous(
            noPart, at(7, 1, 14, 0),
            QStringLiteral("Hi, this is Dr. Patel's office confirming Tuesday at 3pm. Reply C to confirm."));
        const qint64 confirm = sayT(noPart, 0, at(7, 1, 14, 5), QStringLiteral("C"));
        {
            MessageRow m;
            m.chats = {noPart};
            m.date = at(7, 1, 14, 6);
            m.service = sms;
            m.associatedType = tapback::Emphasize;
            m.associatedGuid = QStringLiteral("p:0/") + b.messageGuid(confirm);
            m.text = detail::tapbackText(tapback::Emphasize, QStringLiteral("C"));
            facts.handlelessTapback = b.addMessage(m);
            facts.tapbacks.append(facts.handlelessTapback);
        }
        sayAnonymous(noPart, at(7, 1, 14, 7), QStringLiteral("Thank you, see you then!"));

        // All dates 0.
        say(facts.zeroDateChat, grace, 0, QStringLiteral("First message, no date"));
        say(facts.zeroDateChat, 0, 0, QStringLiteral("Second message, no date either"));
        say(facts.zeroDateChat, grace, 0, QStringLiteral("Third, same"));
        facts.zeroDateChatMessages = 3;
    });

    std::sort(facts.tapbacks.begin(), facts.tapbacks.end());
    sql::Connection check(dbPath); // read-only by default
    auto count = [&](const char* table) {
        auto s = check.prepare(std::string("SELECT count(*) FROM ") + table);
        s.step();
        return int(s.row().int64(0));
    };
    facts.handles = count("handle");
    facts.chats = count("chat");
    facts.messages = count("message");
    facts.attachments = count("attachment");
    facts.chatMessageJoins = count("chat_message_join");
    auto types = check.prepare("SELECT DISTINCT associated_message_type FROM message "
                               "WHERE associated_message_type != 0 ORDER BY 1");
    while (types.step())
        facts.tapbackTypes.append(int(types.row().int64(0)));
    return facts;
}

// ---- the scale fixture ------------------------------------------------------------------------

namespace {

// xoshiro256**: fast, and the same sequence on every platform (unlike std:: distributions).
class Random
{
public:
    explicit Random(std::uint64_t seed)
    {
        for (auto& s : m_state)
            s = splitmix(seed);
    }
    std::uint64_t next()
    {
        const std::uint64_t result = rotl(m_state[1] * 5, 7) * 9;
        const std::uint64_t t = m_state[1] << 17;
        m_state[2] ^= m_state[0];
        m_state[3] ^= m_state[1];
        m_state[1] ^= m_state[2];
        m_state[0] ^= m_state[3];
        m_state[2] ^= t;
        m_state[3] = rotl(m_state[3], 45);
        return result;
    }
    // Uniform in [0, 1).
    double real() { return double(next() >> 11) * 0x1.0p-53; }
    // Uniform in [0, n).
    std::uint64_t below(std::uint64_t n) { return n ? next() % n : 0; }
    bool chance(double p) { return real() < p; }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::array<std::uint64_t, 4> m_state;
};

const char* const scaleWords[] = {
    "ok",         "sure",
    "yes",        "no",
    "maybe",      "tonight",
    "tomorrow",   "later",
    "soon",       "now",
    "today",      "lunch",
    "dinner",     "coffee",
    "meeting",    "call",
    "text",       "me",
    "you",        "we",
    "they",       "the",
    "a",          "an",
    "and",        "but",
    "so",         "if",
    "when",       "where",
    "what",       "why",
    "how",        "is",
    "are",        "was",
    "were",       "be",
    "have",       "has",
    "had",        "do",
    "did",        "can",
    "could",      "will",
    "would",      "should",
    "might",      "going",
    "coming",     "leaving",
    "back",       "home",
    "work",       "office",
    "store",      "park",
    "school",     "gym",
    "train",      "bus",
    "car",        "traffic",
    "late",       "early",
    "on",         "time",
    "great",      "good",
    "fine",       "thanks",
    "thank",      "please",
    "sorry",      "love",
    "miss",       "see",
    "meet",       "bring",
    "get",        "pick",
    "up",         "drop",
    "off",        "send",
    "photo",      "pictures",
    "link",       "address",
    "number",     "weekend",
    "Monday",     "Friday",
    "Saturday",   "plans",
    "trip",       "flight",
    "hotel",      "tickets",
    "game",       "movie",
    "show",       "birthday",
    "party",      "gift",
    "cake",       "kids",
    "dog",        "cat",
    "mom",        "dad",
    "everyone",   "team",
    "project",    "deadline",
    "report",     "budget",
    "review",     "draft",
    "update",     "news",
    "weather",    "rain",
    "sunny",      "cold",
    "hot",        "lol",
    "haha",       "omg",
    "nice",       "awesome",
    "cool",       "really",
    "very",       "just",
    "still",      "already",
    "again",      "almost",
    "there",      "here",
    "this",       "that",
    "it",         "for",
    "with",       "about",
    "at",         "in",
    "from",       "to",
    "of",         "my",
    "your",       "our",
    "their",      "be right there",
    "on my way",  "sounds good",
    "no worries", "let me know",
};
const char* const scaleEmoji[] = {"😂", "❤️", "👍", "🙏", "😊", "🎉", "😅", "🔥", "😭", "🥳", "👀", "✨"};

QString scaleText(Random& random)
{
    constexpr int wordCount = int(std::size(scaleWords));
    const double shape = random.real();
    // Mostly short, some medium, a few long paragraphs.
    const int words = shape < 0.6    ? 1 + int(random.below(7))
                      : shape < 0.95 ? 6 + int(random.below(20))
                                     : 30 + int(random.below(120));
    QString text;
    text.reserve(words * 6);
    for (int i = 0; i < words; ++i) {
        if (i)
            text += (random.chance(0.06) ? QStringLiteral(". ") : QStringLiteral(" "));
        text += QLatin1StringView(scaleWords[random.below(wordCount)]);
    }
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    if (random.chance(0.12))
        text += u' ' + QString::fromUtf8(scaleEmoji[random.below(std::size(scaleEmoji))]);
    else if (random.chance(0.3))
        text += random.chance(0.5) ? u'?' : u'.';
    return text;
}

} // namespace

void writeScaleFixture(const QString& dbPath, qint64 messages, quint32 seed, const BodyEncoder& bodyEncoder)
{
    if (messages < 1 || messages > maxScaleMessages)
        throw std::invalid_argument("the scale fixture holds 1 to 2,000,000 messages");

    FixtureBuilder::Options options;
    options.bodyEncoder = bodyEncoder;
    options.seed = 0x5ca1e000ULL + seed;

    FixtureBuilder::write(dbPath, options, [&](FixtureBuilder& b) {
        Random random(0xfeedULL * 0x100000001ULL + seed);
        const int chatCount = int(std::clamp<qint64>(24 + messages / 8000, 24, 300));

        // Handles: one per one-to-one chat, plus a pool that only shows up in groups.
        struct Chat
        {
            qint64 id = 0;
            bool group = false;
            QList<qint64> members;
            std::array<qint64, 16> recent{}; // last messages, targets for tapbacks
            int recentCount = 0;
        };
        std::vector<Chat> chats(chatCount);
        QList<qint64> pool;
        const int poolSize = 20 + chatCount / 3;
        int phones = 0; // the line number makes every phone unique (handle is UNIQUE(id, service))
        auto phone = [&] {
            return QStringLiteral("+1%1555%2").arg(201 + random.below(798)).arg(phones++, 4, 10, QChar(u'0'));
        };
        for (int i = 0; i < poolSize; ++i)
            pool.append(b.addHandle(handleRow(phone())));
        for (int i = 0; i < chatCount; ++i) {
            Chat& chat = chats[i];
            // The largest conversation is one-to-one; about a quarter of the rest are groups.
            chat.group = i > 0 && random.chance(0.25);
            ChatRow row;
            if (chat.group) {
                row.style = 43;
                const int size = 2 + int(random.below(7));
                while (chat.members.size() < size) {
                    const qint64 member = pool[random.below(pool.size())];
                    if (!chat.members.contains(member))
                        chat.members.append(member);
                }
                row.chatIdentifier =
                    QStringLiteral("chat%1").arg(100000000000000000ULL + random.below(899999999999999999ULL));
                if (random.chance(0.6))
                    row.displayName = QStringLiteral("Group %1").arg(i);
            } else {
                const bool email = random.chance(0.2);
                const QString id = email ? QStringLiteral("person%1@example.com").arg(i) : phone();
                const bool sms = !email && random.chance(0.15);
                chat.members = {
                    b.addHandle(handleRow(id, sms ? QStringLiteral("SMS") : QStringLiteral("iMessage")))};
                row.service = sms ? QStringLiteral("SMS") : QStringLiteral("iMessage");
                row.chatIdentifier = id;
            }
            row.participants = chat.members;
            chat.id = b.addChat(row);
        }

        // Chat weights: the first ~12%, the rest a Zipf-like tail.
        std::vector<double> cumulative(chatCount);
        double tail = 0;
        for (int i = 1; i < chatCount; ++i)
            tail += 1.0 / std::pow(double(i), 0.9);
        double sum = 0;
        for (int i = 0; i < chatCount; ++i) {
            sum += i == 0 ? 0.12 : 0.88 * (1.0 / std::pow(double(i), 0.9)) / tail;
            cumulative[i] = sum;
        }
        cumulative.back() = 1.0;

        const qint64 start = appleNanos(QDateTime(QDate(2020, 12, 1), QTime(0, 0), QTimeZone::utc()));
        const qint64 end = appleNanos(QDateTime(QDate(2026, 11, 30), QTime(0, 0), QTimeZone::utc()));
        const double meanStep = double(end - start) / double(messages);
        double clock = double(start);

        for (qint64 i = 0; i < messages; ++i) {
            clock += random.real() * 2 * meanStep;
            const qint64 date = qint64(clock);
            const std::size_t which =
                std::upper_bound(cumulative.begin(), cumulative.end(), random.real()) - cumulative.begin();
            Chat& chat = chats[std::min<std::size_t>(which, chatCount - 1)];

            MessageRow m;
            m.chats = {chat.id};
            m.date = date;
            m.fromMe = random.chance(0.45);
            m.handle = m.fromMe ? 0 : chat.members[random.below(chat.members.size())];
            const double kind = random.real();
            bool withAttachment = false;
            if (kind < 0.05 && chat.recentCount > 0) {
                const qint64 target = chat.recent[random.below(std::min(chat.recentCount, 16))];
                const double t = random.real();
                int type = t < 0.35   ? tapback::Love
                           : t < 0.6  ? tapback::Like
                           : t < 0.8  ? tapback::Laugh
                           : t < 0.9  ? tapback::Emphasize
                           : t < 0.95 ? tapback::Dislike
                                      : tapback::Question;
                const double change = random.real();
                if (change < 0.12)
                    type += tapback::RemoveOffset;
                else if (change < 0.15)
                    type = random.chance(0.7) ? tapback::Other : tapback::Other + tapback::RemoveOffset;
                m.associatedType = type;
                m.associatedGuid = (random.chance(0.8) ? QStringLiteral("p:0/") : QStringLiteral("bp:")) +
                                   b.messageGuid(target);
                m.text = detail::tapbackText(type, QStringLiteral("…"));
            } else if (kind < 0.08) {
                withAttachment = true;
                m.text = random.chance(0.3) ? QString(u'\uFFFC') + scaleText(random) : QString(u'\uFFFC');
            } else if (kind < 0.0815 && chat.group) {
                m.itemType = 1 + int(random.below(3));
                m.groupActionType = m.itemType == 1 ? int(random.below(2)) : 0;
                if (m.itemType == 2)
                    m.groupTitle = QStringLiteral("Renamed %1").arg(i);
                if (m.itemType == 1)
                    m.otherHandle = chat.members[random.below(chat.members.size())];
                m.storage = BodyStorage::TextOnly;
            } else {
                m.text = scaleText(random);
                const double edit = random.real();
                if (edit < 0.002) {
                    m.dateEdited = date + qint64(random.below(600)) * nanosPerSecond;
                } else if (edit < 0.003 && m.fromMe) {
                    m.dateRetracted = date + qint64(1 + random.below(120)) * nanosPerSecond;
                    m.text = QString();
                    m.storage = BodyStorage::TextOnly;
                }
            }
            // A few ordinary messages sit in two chats (tapbacks stay with their target's chat).
            if (random.chance(0.0002) && m.associatedType == 0) {
                const Chat& other = chats[random.below(chatCount)];
                if (other.id != chat.id)
                    m.chats.append(other.id);
            }
            const qint64 id = b.addMessage(m);
            if (m.itemType == 0 && m.associatedType == 0) {
                chat.recent[chat.recentCount % 16] = id;
                ++chat.recentCount;
            }
            if (withAttachment) {
                static const struct
                {
                    const char* extension;
                    const char* uti;
                    const char* mime;
                } kinds[] = {{"HEIC", "public.heic", "image/heic"},
                             {"JPG", "public.jpeg", "image/jpeg"},
                             {"PNG", "public.png", "image/png"},
                             {"MOV", "com.apple.quicktime-movie", "video/quicktime"},
                             {"pdf", "com.adobe.pdf", "application/pdf"}};
                const double k = random.real();
                const auto& kindOf = kinds[k < 0.55 ? 0 : k < 0.8 ? 1 : k < 0.9 ? 2 : k < 0.97 ? 3 : 4];
                AttachmentRow a;
                a.message = id;
                a.guid = b.newGuid();
                const QString name = QStringLiteral("IMG_%1.%2")
                                         .arg(1000 + random.below(9000))
                                         .arg(QLatin1StringView(kindOf.extension));
                a.filename =
                    FixtureBuilder::recordedFilename(FixtureBuilder::attachmentRelativePath(a.guid, name));
                a.uti = QLatin1StringView(kindOf.uti);
                a.mimeType = QLatin1StringView(kindOf.mime);
                a.transferName = name;
                a.totalBytes = qint64(20'000 + random.below(4'000'000));
                a.outgoing = m.fromMe;
                a.createdDate = date / nanosPerSecond;
                b.addAttachment(a);
            }
        }
    });
}

} // namespace trovane::testsupport
