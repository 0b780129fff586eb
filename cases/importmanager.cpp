#include "importmanager.h"

#include "platform/folders.h"
#include "platform/sqlite.h"

#include <openssl/evp.h>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <vector>

namespace trovane {

namespace {

// The copy's name comes from a file on disk; a name that climbs out of its case folder is damage.
bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(u'\\');
}

} // namespace

ImportManager::ImportManager(Folders folders, const FileSystem& files)
    : m_folders(std::move(folders))
    , m_files(files)
{
}

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
    const QStringList entries =
        rootDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Unsorted);
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

// ---- Imports ---------------------------------------------------------------------------------

namespace {

const QStringList companionSuffixes{QStringLiteral("-wal"), QStringLiteral("-shm")};
constexpr std::size_t hashChunkBytes = 1 << 20;

QString besideFile(const QString& file, const QString& name)
{
    const qsizetype slash = file.lastIndexOf(u'/');
    return (slash < 0 ? QString() : file.left(slash + 1)) + name;
}

} // namespace

QString ImportManager::localDatabasePath() const
{
    return m_folders.home() + QStringLiteral("/Library/Messages/chat.db");
}

ImportRecord ImportManager::importLocalDatabase() const
{
    const QString source = localDatabasePath();
    if (!m_files.exists(source))
        throw ImportError::sourceNotFound(source);
    if (!m_files.isReadable(source))
        throw ImportError::permissionDenied(source);
    const QString attachments = besideFile(source, QStringLiteral("Attachments"));
    return importDatabase(source, m_files.isDirectory(attachments) ? std::optional<QString>(attachments)
                                                                   : std::nullopt);
}

ImportRecord ImportManager::importDatabase(const QString& source,
                                           const std::optional<QString>& attachmentsRoot) const
{
    std::optional<QString> attachments = attachmentsRoot;
    if (!attachments) {
        const QString beside = besideFile(source, QStringLiteral("Attachments"));
        if (m_files.isDirectory(beside))
            attachments = beside;
    }

    ImportRecord record;
    record.id = QUuid::createUuid();
    const QString root = casesRoot();
    if (root.isEmpty())
        throw ImportError::copyFailed(
            QStringLiteral("the application data folder cannot be found or created"));
    const QString folder = root + u'/' + record.idText();
    const QString copy = folder + u'/' + record.storedFilename;

    try {
        m_files.createFolders(folder);
        m_files.copyFile(source, copy);
    } catch (const FileError& e) {
        if (e.isPermissionDenied())
            throw ImportError::permissionDenied(source);
        throw ImportError::copyFailed(e.description());
    }
    for (const QString& suffix : companionSuffixes) {
        if (!m_files.exists(source + suffix))
            continue;
        try {
            m_files.copyFile(source + suffix, copy + suffix);
        } catch (const FileError&) {
            // Without its log the copy still holds everything the database file itself held.
        }
    }

    stabilize(copy);
    record.sha256 = sha256(copy);
    record.fileSize = m_files.fileSize(copy).value_or(0);
    record.sourcePath = source;
    // Whole seconds, as import.json keeps it, so the record returned equals the one read back.
    record.importedAt = Instant{std::floor(Instant::now().unixSeconds)};
    record.attachmentsRoot = attachments;

    QFile file(folder + QStringLiteral("/import.json"));
    const QByteArray json = record.encoded();
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(json) != json.size() ||
        !file.flush())
        throw FileError(file.error() == QFileDevice::PermissionsError ? EACCES : EIO, QStringLiteral("write"),
                        file.fileName());
    return record;
}

ImportRecord ImportManager::reimport(const ImportRecord& old) const
{
    const QString source = old.sourcePath;
    ImportRecord fresh;
    if (source == localDatabasePath())
        fresh = importLocalDatabase();
    else if (m_files.exists(source))
        fresh = importDatabase(source, old.attachmentsRoot);
    else
        throw ImportError::sourceNotFound(source);
    carryContacts(old, fresh);
    return fresh;
}

void ImportManager::stabilize(const QString& copy) const
{
    bool holdsMessages = false;
    {
        sql::Connection db(copy, sql::OpenOptions{sql::Access::ReadWrite});
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)");
        auto journal = db.prepare("PRAGMA journal_mode=DELETE");
        // A copy left in write-ahead-log mode would grow companions again, and its hash would not
        // describe a stable file.
        if (!journal.step() ||
            journal.row().text(0).compare(QLatin1StringView("delete"), Qt::CaseInsensitive) != 0)
            throw sql::Error(1, "the copy could not be switched out of write-ahead-log mode");
        holdsMessages = db.hasTable(QStringLiteral("message"));
    }
    for (const QString& suffix : companionSuffixes)
        m_files.removeFile(copy + suffix);

    // An empty file, or the database of some other program, would become a case that can never
    // show a message: say so now rather than record it as evidence.
    if (m_files.fileSize(copy).value_or(0) == 0)
        throw ImportError::copyFailed(QStringLiteral("the file is empty, not a Messages database"));
    if (!holdsMessages)
        throw ImportError::copyFailed(
            QStringLiteral("the file is not a Messages database (it has no message table)"));
}

QString ImportManager::sha256(const QString& path) const
{
    const std::unique_ptr<FileReader> reader = m_files.openForReading(path);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
    std::vector<char> chunk(hashChunkBytes);
    for (;;) {
        const std::size_t n = reader->read(chunk.data(), chunk.size());
        if (n == 0)
            break;
        EVP_DigestUpdate(context.get(), chunk.data(), n);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), length).toHex());
}

void ImportManager::carryContacts(const ImportRecord& from, const ImportRecord& to) const
{
    const QString oldFile = caseFolder(from) + QStringLiteral("/contacts.json");
    const QString newFile = caseFolder(to) + QStringLiteral("/contacts.json");
    if (!m_files.exists(oldFile))
        return;
    m_files.removeFile(newFile);
    try {
        m_files.copyFile(oldFile, newFile);
    } catch (const FileError&) {
        // The new case starts without names; the old case still has them.
    }
}

} // namespace trovane
