#pragma once
// The user's folders that the program reads and writes, found the way the platform finds them.

#include <QString>

namespace trovane {

struct PlatformFolders
{
    // The current user's home folder ($HOME).
    static QString home();
    // The per-user application data folder: ~/Library/Application Support on macOS, the XDG data
    // home ($XDG_DATA_HOME, else ~/.local/share) elsewhere. Created when missing; empty when it
    // cannot be formed or created.
    static QString applicationSupport();
};

} // namespace trovane
