#pragma once
// The persisted description of one import, stored as import.json in the case folder.

#include "platform/instant.h"

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <optional>

namespace trovane {

struct ImportRecord
{
    QUuid id;                                           // the case's identity and the name of its folder
    QString sourcePath;                                 // absolute path of the database file that was copied
    QString storedFilename = QStringLiteral("chat.db"); // the copy's name inside the case folder
    Instant importedAt;                     // when copying and fingerprinting finished (whole seconds)
    QString sha256;                         // 64 lower-case hex digits of the stabilised copy
    qint64 fileSize = 0;                    // bytes of the stabilised copy; 0 when unreadable
    std::optional<QString> attachmentsRoot; // the source's attachments folder, when one was found

    bool operator==(const ImportRecord&) const = default;

    // The folder name: the canonical 36-character form with upper-case hex digits.
    QString idText() const;

    // The import.json bytes, written with the shared `iso` encoding. No "attachmentsRoot" key at
    // all when there is none.
    QByteArray encoded() const;
    // Reads import.json bytes. Every key but "attachmentsRoot" is required, "importedAt" must be a
    // date text and "id" a UUID; anything else makes the record unreadable (absent).
    static std::optional<ImportRecord> decode(const QByteArray& bytes);
};

size_t qHash(const ImportRecord& record, size_t seed = 0) noexcept;

} // namespace trovane
