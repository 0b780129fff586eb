#pragma once
// The few things the application state needs from the desktop, behind small interfaces so that
// tests can answer them and the window can plug in the real ones.

#include <QString>

#include <memory>
#include <optional>

namespace trovane {

// The file chooser of "Import a database file…".
struct FileChooserSettings
{
    QString title;
    QString message;
    QString initialFolder;
    bool multipleSelection = false;
    bool foldersSelectable = false;
    bool filesSelectable = true; // any type: no filter
};

class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // Modal: returns once the user confirms (the chosen file) or cancels (absent).
    virtual std::optional<QString> chooseFile(const FileChooserSettings& settings) = 0;
};

// Tells the operating system that user-requested work is running, so that it neither idle-sleeps
// nor throttles the process. The activity lasts as long as the returned object.
class UserActivity
{
public:
    virtual ~UserActivity() = default;
    // On Linux a systemd-logind "sleep:idle" inhibitor when the system bus offers one; otherwise
    // nothing. Never fails.
    static std::unique_ptr<UserActivity> begin(const QString& reason);
};

} // namespace trovane
