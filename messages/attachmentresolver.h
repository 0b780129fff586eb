#pragma once
// Maps an attachment to the file to show or embed: first under the case's attachments root, then
// at the path the database recorded (a leading "~" meaning the user's home folder).

#include "records.h"

#include <QString>

#include <optional>

namespace trovane {

// An attachment paired with the file found for it. Identified by the attachment's id.
struct ResolvedAttachment
{
    Attachment attachment;
    std::optional<QString> url; // absolute path of the file; absent when none was found

    bool operator==(const ResolvedAttachment&) const = default;
};

size_t qHash(const ResolvedAttachment& resolved, size_t seed = 0) noexcept;

struct AttachmentResolver
{
    // Only existence counts (not readability, not whether it is a folder). `root` absent or empty
    // means the case has no attachments folder. `home` is the folder "~" stands for; empty means
    // the current user's.
    static std::optional<QString>
    url(const Attachment& attachment, const std::optional<QString>& root, const QString& home = {});
};

} // namespace trovane
