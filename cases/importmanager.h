#pragma once
// The case library: one folder per import under <application data>/Trovane/Cases/<UUID>/, holding
// the stabilised copy chat.db, import.json, and later contacts.json and index.db.
//
// ImportManager keeps no state beyond where the user's folders are: every operation reads the disk
// afresh, and any thread may call it.

#include "importerror.h"
#include "importrecord.h"

#include "platform/files.h"

#include <QString>

#include <functional>
#include <optional>

namespace trovane {

// A case found in the library: its record and the location of its database copy.
struct CaseLocation
{
    ImportRecord record;
    QString dbURL; // <case folder>/<storedFilename>; the file need not exist
    bool operator==(const CaseLocation&) const = default;
};

class ImportManager
{
public:
    // Where the user's folders are. The shared instance asks the platform each time; tests give
    // folders of their own.
    struct Folders
    {
        std::function<QString()> applicationSupport; // empty text when it cannot be formed
        std::function<QString()> home;
    };

    // `files` must outlive the manager.
    explicit ImportManager(Folders folders, const FileSystem& files = FileSystem::local());

    // The one instance over the platform's folders, created on first use.
    static ImportManager& shared();

    // <application data>/Trovane/Cases, computed each time; the Trovane and Cases folders are not
    // created here. Empty when the application data folder cannot be formed.
    QString casesRoot() const;
    QString caseFolder(const ImportRecord& record) const;

    // The readable case with the newest import time, or absent. Never fails: a missing root, a plain
    // file, a folder without import.json or with one that does not decode is skipped silently.
    std::optional<CaseLocation> loadMostRecentRecord() const;

    // Deletes the case's folder with everything in it; failures (already gone) are ignored.
    void removeCase(const ImportRecord& record) const;

    // ---- Imports. Each runs synchronously on the calling (background) thread, only reads the
    // source (never through SQLite), writes only inside its own new case folder, and returns the
    // new case's record. Failures throw ImportError, or the failure of a later step unchanged
    // (sql::Error from stabilisation, FileError from hashing or writing import.json). A failed
    // import leaves its folder without a readable import.json, so it is never offered as a case.

    // The signed-in user's own Messages database: <home>/Library/Messages/chat.db.
    ImportRecord importLocalDatabase() const;
    // A chosen database file; without an attachments folder, an "Attachments" folder beside the
    // file is used when there is one.
    ImportRecord importDatabase(const QString& source,
                                const std::optional<QString>& attachmentsRoot = {}) const;
    // Imports the source of an existing case again into a new case and carries its contact names
    // over. The old case stays; the caller removes it.
    ImportRecord reimport(const ImportRecord& old) const;

    // Folds the copy's write-ahead log into it and leaves it in rollback-journal mode with no
    // companion files, so its bytes are stable. Only ever called on a case's copy.
    void stabilize(const QString& copy) const;
    // The SHA-256 of a file's bytes as 64 lower-case hex digits, read in 1 MiB chunks.
    QString sha256(const QString& path) const;
    // Copies the old case's contacts.json over the new case's, when there is one; failures ignored.
    void carryContacts(const ImportRecord& from, const ImportRecord& to) const;

    QString localDatabasePath() const;
    QString homeFolder() const { return m_folders.home(); }

private:
    Folders m_folders;
    const FileSystem& m_files;
};

} // namespace trovane
