#include "importerror.h"

namespace trovane {

ImportError::ImportError(Kind kind, const QString& payload, const QString& message)
    : std::runtime_error(message.toStdString())
    , m_kind(kind)
    , m_payload(payload)
{
}

ImportError ImportError::sourceNotFound(const QString& sourcePath)
{
    return ImportError(Kind::sourceNotFound, sourcePath,
                       QStringLiteral("No Messages database found at ") + sourcePath + QStringLiteral("."));
}

ImportError ImportError::permissionDenied(const QString& sourcePath)
{
    return ImportError(Kind::permissionDenied, sourcePath,
                       QStringLiteral("Couldn't read ") + sourcePath + fullDiskAccessText());
}

ImportError ImportError::copyFailed(const QString& description)
{
    return ImportError(Kind::copyFailed, description,
                       QStringLiteral("Failed to import the database: ") + description);
}

const QString& ImportError::fullDiskAccessText()
{
    static const QString text = QStringLiteral(
        ".\n\nmacOS protects the Messages database, so this app needs Full Disk Access:\n\n"
        "1. System Settings \u2192 Privacy & Security \u2192 Full Disk Access\n"
        "2. Click the + button and add this app (it won't be listed until you do)\n"
        "3. Turn its switch on\n"
        "4. Quit this app completely (\u2318Q) and open it again\n\n"
        "(Alternatively, copy chat.db and the Attachments folder out of\n"
        "~/Library/Messages to your Desktop, then use \u201CImport a database file\u2026\u201D.)");
    return text;
}

} // namespace trovane
