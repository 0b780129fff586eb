#include "folders.h"

#include <QDir>
#include <QStandardPaths>

namespace trovane {

QString PlatformFolders::home()
{
    return QDir::homePath();
}

QString PlatformFolders::applicationSupport()
{
#ifdef Q_OS_MACOS
    const QString folder = home() + QStringLiteral("/Library/Application Support");
#else
    // GenericDataLocation is the XDG data home itself, without an organisation or program folder:
    // the caller adds "Trovane" as the platform would.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#endif
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return {};
    return folder;
}

} // namespace trovane
