#pragma once
// Writes Messages databases (chat.db / sms.db) for tests, benchmarks and the bundled demo library:
// a small row-level builder over the real schema, plus three ready-made databases (the hand-made
// standard fixture, the large seeded scale fixture and the demo home folder).
//
// Dates are raw `message.date` values: seconds or nanoseconds since 2001-01-01 00:00:00 UTC.
// Everything written is deterministic: the same calls give the same rows, guids included.

#include "platform/sqlite.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace trovane::testsupport {

// Turns a message's text into the bytes of its `attributedBody` column.
using BodyEncoder = std::function<QByteArray(const QString& text)>;

// Bodies archived as the platform writes them (an attributed string with one run per part); each
// U+FFFC in the text becomes an inline-attachment part with its own transfer GUID.
BodyEncoder archivedBodies();

enum class Schema {
    Current, // a macOS 15 era chat.db
    Ios13,   // an iOS 13 sms.db: no `date_edited` / `date_retracted` columns
};

// The CREATE TABLE / CREATE INDEX statements of a schema, as embedded in the library.
QString schemaSql(Schema schema);

// `associated_message_type` values.
namespace tapback {
constexpr int Love = 2000, Like = 2001, Dislike = 2002, Laugh = 2003, Emphasize = 2004, Question = 2005;
constexpr int Other = 2006;        // emoji / sticker reactions: ignored by the reader
constexpr int RemoveOffset = 1000; // 3000–3006 remove the 2000–2006 of the same sender
} // namespace tapback

// Apple's epoch: 2001-01-01 00:00:00 UTC.
constexpr qint64 appleEpochOffset = 978307200; // seconds from the Unix epoch
constexpr qint64 nanosPerSecond = 1'000'000'000;
// A UTC time as a nanosecond `message.date` value, and as a whole-second one.
qint64 appleNanos(const QDateTime& utc);
qint64 appleSeconds(const QDateTime& utc);

// How a message body is stored when the builder has a body encoder (without one, text goes in
// `text` and `attributedBody` stays NULL whatever is chosen here).
enum class BodyStorage {
    Auto,     // the builder's mix: most bodies only in attributedBody (text NULL, or '' for some),
              // one in ten in both columns
    TextOnly, // `text` only, never encoded (unsent messages, system rows)
    Both,     // `text` and the encoded blob
    BlobOnly, // the encoded blob, `text` NULL
};

struct HandleRow
{
    QString id; // "+15551234567", "ann@example.com", or any spelling under test
    QString service = QStringLiteral("iMessage");
    std::optional<QString> country = QStringLiteral("us");
    std::optional<QString> uncanonicalizedId;
};

HandleRow handleRow(const QString& id,
                    const QString& service = QStringLiteral("iMessage"),
                    const std::optional<QString>& country = QStringLiteral("us"),
                    const std::optional<QString>& uncanonicalizedId = std::nullopt);

struct ChatRow
{
    int style = 45; // 43 = group, 45 = one-to-one
    std::optional<QString> displayName = QString();
    // When this and `guid` are both unset, a one-to-one chat takes its first participant's id.
    std::optional<QString> chatIdentifier;
    QString service = QStringLiteral("iMessage");
    QList<qint64> participants; // handle ROWIDs for chat_handle_join
    QString guid; // when empty: "<service>;-;<identifier>" (one-to-one) or "<service>;+;<identifier>"
};

struct MessageRow
{
    QList<qint64> chats; // chat ROWIDs for chat_message_join; a message may be in several
    qint64 handle = 0;   // the sender's ROWID, or 0 (own messages, and received ones without a handle)
    bool fromMe = false;
    std::optional<qint64> date = 0; // raw value; nullopt writes NULL
    std::optional<qint64> dateRead; // defaults to date + a few seconds for received messages
    std::optional<QString> text;    // the body; nullopt: no body at all
    BodyStorage storage = BodyStorage::Auto;
    std::optional<QByteArray> attributedBody; // explicit bytes: written as given, no encoder
    QString service = QStringLiteral("iMessage");
    int itemType = 0; // non-zero: system message
    int groupActionType = 0;
    std::optional<QString> groupTitle;
    qint64 otherHandle = 0;
    int associatedType = 0;                 // tapbacks: 2000–2006, 3000–3006
    std::optional<QString> associatedGuid;  // "p:0/GUID" or "bp:GUID"
    std::optional<QString> associatedEmoji; // current schema only
    qint64 dateEdited = 0;                  // current schema only
    qint64 dateRetracted = 0;               // current schema only
    QString guid;                           // generated when empty
};

struct AttachmentRow
{
    qint64 message = 0; // joined by message_attachment_join; the message gets cache_has_attachments = 1
    std::optional<QString> filename; // as recorded, e.g. "~/Library/Messages/Attachments/ab/12/GUID/IMG.HEIC"
    std::optional<QString> uti;
    std::optional<QString> mimeType;
    std::optional<QString> transferName;
    std::optional<qint64> totalBytes = 0;
    bool outgoing = false;
    qint64 createdDate = 0; // whole seconds since 2001, as Messages records it
    QString guid;           // the transfer guid; generated when empty
};

// A row-level writer into a schema it creates itself: it assigns ROWIDs from 1 up, prepares each
// INSERT once and reuses it. Callers wrap their calls in one transaction (FixtureBuilder::write
// does all of that, and is the usual entry point).
class FixtureBuilder
{
public:
    struct Options
    {
        Schema schema = Schema::Current;
        BodyEncoder bodyEncoder; // empty: bodies only in `text`
        quint64 seed = 1;        // for generated guids
    };

    FixtureBuilder(sql::Connection& connection, Options options);
    ~FixtureBuilder();
    FixtureBuilder(const FixtureBuilder&) = delete;
    FixtureBuilder& operator=(const FixtureBuilder&) = delete;

    // Creates the tables, and the indexes unless `withIndexes` is false (createIndexes then adds
    // them once the rows are in, as a bulk load does).
    void createSchema(bool withIndexes = true);
    void createIndexes();

    // Each returns the ROWID of the new row.
    qint64 addHandle(const HandleRow& handle);
    qint64 addChat(const ChatRow& chat);
    qint64 addMessage(const MessageRow& message);
    qint64 addAttachment(const AttachmentRow& attachment);
    // Joins an existing message to one more chat.
    void joinMessageToChat(qint64 chat, qint64 message, std::optional<qint64> date);

    // The guid of a message / chat this builder wrote; empty for an unknown ROWID.
    QString messageGuid(qint64 message) const;
    QString chatGuid(qint64 chat) const;

    // A fresh upper-case UUID, deterministic from the seed.
    QString newGuid();
    // "ab/12/<guid>/<name>": where Messages keeps a transfer inside its Attachments folder.
    static QString attachmentRelativePath(const QString& transferGuid, const QString& name);
    // "~/Library/Messages/Attachments/" + relative path: the recorded `filename`.
    static QString recordedFilename(const QString& relativePath);

    const Options& options() const { return m_options; }
    sql::Connection& connection() { return m_connection; }

    // Creates `dbPath` afresh (replacing a database and its side files already there), creates the
    // schema, runs `fill` in one transaction with journaling and syncing off, adds the indexes, and
    // leaves the file in rollback (DELETE) journal mode with nothing beside it.
    static void
    write(const QString& dbPath, const Options& options, const std::function<void(FixtureBuilder&)>& fill);

private:
    struct Statements;
    void requireSchema();
    void encodeBody(const MessageRow& message, std::optional<QString>& text, std::optional<QByteArray>& body);
    // Generated guids are a function of seed, row kind and ROWID, so none need storing.
    QString derivedGuid(std::uint64_t kind, qint64 rowid) const;

    sql::Connection& m_connection;
    Options m_options;
    std::unique_ptr<Statements> m_statements;
    std::uint64_t m_random;
    QString m_accountGuid;
    qint64 m_nextHandle = 1, m_nextChat = 1, m_nextMessage = 1, m_nextAttachment = 1;
    quint64 m_autoBodies = 0;
    QHash<qint64, QString> m_handleIds;
    QHash<qint64, QString> m_chatGuids;
    QHash<qint64, QString> m_roomNames; // group chat → chat_identifier, for cache_roomnames
    QHash<qint64, QString> m_explicitMessageGuids;
};

// The notable rows of the standard fixture. Ids are ROWIDs; 0 means "not written" (only the
// edit/unsend rows, which the iOS 13 schema cannot hold).
struct FixtureFacts
{
    Schema schema = Schema::Current;
    // Row counts of handle, chat, message, attachment and chat_message_join.
    int handles = 0, chats = 0, messages = 0, attachments = 0, chatMessageJoins = 0;

    // One person, two spellings: "+1 (555) 123-4567" (iMessage) and "5551234567" (SMS), each with
    // its own one-to-one chat; a reader merging by canonical handle shows one conversation.
    qint64 phoneFormattedHandle = 0, phoneDigitsHandle = 0;
    qint64 phoneFormattedChat = 0, phoneDigitsChat = 0;
    // "Ann.Lee@Example.com" and "ann.lee@example.com", each with its own one-to-one chat.
    qint64 emailMixedCaseHandle = 0, emailLowerCaseHandle = 0;
    qint64 emailMixedCaseChat = 0, emailLowerCaseChat = 0;

    // Groups (style 43): display name "Book Club"; display name ''; display name NULL. The last two
    // have exactly the same members.
    qint64 namedGroup = 0, emptyNameGroup = 0, nullNameGroup = 0;
    QString namedGroupTitle;
    // A one-to-one chat with no chat_handle_join row: only its chat_identifier says who it is with.
    // Its received messages have handle_id 0.
    qint64 participantlessChat = 0;
    QString participantlessIdentifier;
    // A one-to-one chat with a participant, chat_identifier NULL and no messages.
    qint64 emptyChat = 0;
    // A one-to-one chat all of whose messages have date 0.
    qint64 zeroDateChat = 0;
    int zeroDateChatMessages = 0;

    // Tapbacks. `reactedMessage` (in the named group) collects, in date order: Love from Carol
    // (p:0/), Like from Dave (bp:), Laugh from me (p:0/), Love → Like replacement by Carol (bp:), Dave's
    // Like removed (3001, p:0/), Dave's 2006 and its 3006. What stands at the end: Carol 👍, me 😂.
    qint64 reactedMessage = 0;
    QString reactedGuid;
    // Every associated-message row (2000–2006 and 3000–3006), in ROWID order.
    QList<qint64> tapbacks;
    // The types covered, each at least once: 2000–2006 and 3000–3006.
    QList<int> tapbackTypes;
    qint64 missingTargetTapback = 0; // targets "p:0/<missingTargetGuid>", which no message has
    QString missingTargetGuid;
    qint64 handlelessTapback = 0; // in the participantless chat: handle_id 0, not from me

    qint64 editedMessage = 0;     // date_edited > date, text is the final wording
    qint64 unsentMessage = 0;     // date_retracted set, text ''
    QList<qint64> systemMessages; // item_type 1, 2 and 3 (with group_title / other_handle)
    qint64 twoChatMessage = 0;    // joined to both phone chats

    qint64 emojiMessage = 0, accentMessage = 0, longMessage = 0;
    QString emojiText, accentText, longText;
    qint64 blankMessage = 0;           // text " "
    qint64 attachmentOnlyMessage = 0;  // text '' with the PNG attachment
    qint64 nullDateMessage = 0;        // date NULL
    qint64 zeroDateMessage = 0;        // date 0 in an otherwise dated chat
    QList<qint64> secondsDateMessages; // whole-second dates (the older SMS chat)

    // Attachment ROWIDs. Files exist (when an attachments root was given) for the first six.
    qint64 jpegOrientation6 = 0, jpegOrientation8 = 0, png = 0, heic = 0, vcard = 0, pdf = 0;
    qint64 missingFileAttachment = 0;  // recorded filename, no file
    qint64 nullFilenameAttachment = 0; // filename NULL (never downloaded)
    qint64 sparseAttachment = 0; // mime_type NULL with uti set, transfer_name '', total_bytes NULL, no file
    // Attachment ROWID → path of its file relative to the attachments root.
    QMap<qint64, QString> files;
    // Stored pixel size of the oriented JPEGs (the displayed size is the transpose) and the others.
    QSize storedJpegSize, pictureSize;
};

// The hand-made fixture. `attachmentsRoot` empty: attachment rows only, no files. Replaces an
// existing database at `dbPath`.
FixtureFacts writeStandardFixture(const QString& dbPath,
                                  const QString& attachmentsRoot,
                                  const BodyEncoder& bodyEncoder = {},
                                  Schema schema = Schema::Current);

constexpr qint64 maxScaleMessages = 2'000'000;

// A large database, deterministic from `seed`: `messages` rows (1 … maxScaleMessages) in dozens
// to a few hundred chats, the largest holding ~12% of them; ~5% tapbacks, ~3% attachment rows
// (no files), a few edits, unsends and system messages; nanosecond dates over six years.
void writeScaleFixture(const QString& dbPath,
                       qint64 messages,
                       quint32 seed,
                       const BodyEncoder& bodyEncoder = {});

// A demo home folder: <home>/Library/Messages/chat.db and its Attachments folder with pictures.
// A few hundred friendly messages ending on 2026-11-30.
void writeDemoLibrary(const QString& homeFolder, const BodyEncoder& bodyEncoder = {});

} // namespace trovane::testsupport
