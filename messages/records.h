#pragma once
// The value records the reader produces: immutable values, copied freely between threads; none
// holds a reference to the database. Identifiers are the 64-bit ROWIDs of the Messages database.
// Every record compares equal field by field and hashes all of its fields.

#include "platform/instant.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace trovane {

struct Attachment
{
    std::int64_t id = 0;
    std::optional<QString> filename; // the path as recorded, usually "~/Library/Messages/Attachments/…"
    std::optional<QString> mimeType;
    std::optional<QString> uti;          // uniform type identifier, such as public.heic
    std::optional<QString> transferName; // the file name as it was sent
    std::int64_t totalBytes = 0;         // 0 when NULL

    bool operator==(const Attachment&) const = default;

    // The MIME type decides when present ("image/…"); otherwise the type identifier naming an image.
    bool isImage() const;
    // transferName when not empty, else the last component of filename, else "Attachment".
    QString displayName() const;
};

struct Reaction
{
    QString emoji;                 // one of ❤️ 👍 👎 😂 ‼️ ❓
    bool fromMe = false;           // given by the account holder
    std::optional<QString> sender; // handle id of the reacting message's sender

    bool operator==(const Reaction&) const = default;
};

struct Message
{
    std::int64_t id = 0;
    QString guid;                // empty when NULL; reactions find their target by it
    std::optional<QString> text; // the resolved body; absent when no words can be recovered
    std::optional<Instant> date;
    std::optional<Instant> dateRead;
    bool isFromMe = false;
    std::optional<QString> sender; // handle id of the sender; absent when the message has no handle
    bool hasAttachments = false;   // the database's cached flag
    std::optional<Instant> dateEdited;
    std::optional<Instant> dateRetracted;
    bool isSystemMessage = false;  // an event of the chat (item_type present and not 0)
    QList<Reaction> reactions;     // standing tapbacks, at most one per person, in no defined order
    QList<Attachment> attachments; // in database order

    bool operator==(const Message&) const = default;

    bool wasEdited() const { return dateEdited.has_value(); }
    bool wasUnsent() const { return dateRetracted.has_value(); }
};

// The messages of one calendar day (current calendar and time zone).
struct DayGroup
{
    Instant day; // start of the day; messages without a date count as the distant past
    QList<Message> messages;

    bool operator==(const DayGroup&) const = default;
};

size_t qHash(const Attachment& attachment, size_t seed = 0) noexcept;
size_t qHash(const Reaction& reaction, size_t seed = 0) noexcept;
size_t qHash(const Message& message, size_t seed = 0) noexcept;
size_t qHash(const DayGroup& group, size_t seed = 0) noexcept;

} // namespace trovane
