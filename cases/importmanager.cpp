#include "importmanager.h"

#include "platform/folders.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace trovane {

namespace {

// The copy's name comes from a file on disk; a name that climbs out of its case folder is damage.
bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(u'\\');
}

} // namespace

ImportManager::ImportManager(Folders folders) : m_folders(std::move(folders)) {}

ImportManager& ImportManager::shared()
{
    static ImportManager instance(Folders{&PlatformFolders::applicationSupport, &PlatformFolders::home});
    return instance;
}

QString ImportManager::casesRoot() const
{
    const QString support = m_folders.applicationSupport();
    if (support.isEmpty())
        return {};
    return support + QStringLiteral("/Trovane/Cases");
}

QString ImportManager::caseFolder(const ImportRecord& record) const
{
    const QString root = casesRoot();
    if (root.isEmpty())
        return {};
    return root + u'/' + record.idText();
}

std::optional<CaseLocation> ImportManager::loadMostRecentRecord() const
{
    const QString root = casesRoot();
    if (root.isEmpty())
        return std::nullopt;
    const QDir rootDir(root);
    if (!rootDir.exists())
        return std::nullopt;

    std::vector<CaseLocation> found;
    // Unsorted: the order the file system lists, which breaks ties between equal import times.
    const QStringList entries = rootDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Unsorted);
    for (const QString& entry : entries) {
        const QString folder = rootDir.filePath(entry);
        QFile file(folder + QStringLiteral("/import.json"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        auto record = ImportRecord::decode(file.readAll());
        if (!record || !isPlainFileName(record->storedFilename))
            continue;
        found.push_back(CaseLocation{*record, folder + u'/' + record->storedFilename});
    }

    std::stable_sort(found.begin(), found.end(), [](const CaseLocation& a, const CaseLocation& b) {
        return a.record.importedAt > b.record.importedAt;
    });
    if (found.empty())
        return std::nullopt;
    return found.front();
}

void ImportManager::removeCase(const ImportRecord& record) const
{
    const QString folder = caseFolder(record);
    if (!folder.isEmpty())
        QDir(folder).removeRecursively();
}

} // namespace trovane
