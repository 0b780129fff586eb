#pragma once
// The case library: one folder per import under <application data>/Trovane/Cases/<UUID>/, holding
// the stabilised copy chat.db, import.json, and later contacts.json and index.db.
//
// ImportManager keeps no state beyond where the user's folders are: every operation reads the disk
// afresh, and any thread may call it.

#include "importrecord.h"

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

    explicit ImportManager(Folders folders);

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

private:
    Folders m_folders;
};

} // namespace trovane
