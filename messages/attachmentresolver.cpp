#include "attachmentresolver.h"

#include <QDir>
#include <QFileInfo>
#include <QHashFunctions>

namespace trovane {

std::optional<QString>
AttachmentResolver::url(const Attachment& attachment, const std::optional<QString>& root, const QString& home)
{
    if (!attachment.filename)
        return std::nullopt;
    const QString& filename = *attachment.filename;

    static const QString marker = QStringLiteral("/Attachments/");
    const qsizetype at = filename.indexOf(marker); // exact and case-sensitive; the first one counts
    if (root && !root->isEmpty() && at >= 0) {
        const QString inside = filename.mid(at + marker.size());
        // Appended as a relative path even when it starts with a slash, as a file URL would append it.
        QString candidate = *root;
        if (!candidate.endsWith(u'/'))
            candidate += u'/';
        candidate += inside;
        if (QFileInfo::exists(candidate))
            return candidate;
    }

    QString expanded = filename;
    if (filename == u"~" || filename.startsWith(QLatin1StringView("~/")))
        expanded = (home.isEmpty() ? QDir::homePath() : home) + filename.mid(1);
    if (QFileInfo::exists(expanded))
        return QFileInfo(expanded).absoluteFilePath();
    return std::nullopt;
}

size_t qHash(const ResolvedAttachment& resolved, size_t seed) noexcept
{
    seed = qHash(resolved.attachment, seed);
    return resolved.url ? qHashMulti(seed, true, *resolved.url) : ::qHash(false, seed);
}

} // namespace trovane
