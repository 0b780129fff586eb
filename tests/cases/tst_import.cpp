// Imports: the copy, stabilisation and fingerprint; the source left untouched; the three errors
// with their exact texts; refreshes carrying contact names.

#include "cases/importmanager.h"
#include "testhelpers.h"

#include "platform/sqlite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/mount.h>

using namespace trovane;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// The real file system, with failures injected where permissions cannot be arranged for root.
class FaultyFiles : public FileSystem
{
public:
    QString unreadable; // isReadable() answers false for this path
    int copyErrno = 0;  // copyFile() of a database fails with this errno
    bool isReadable(const QString& path) const override
    {
        return path != unreadable && FileSystem::isReadable(path);
    }
    void copyFile(const QString& from, const QString& to) const override
    {
        if (copyErrno && from.endsWith(QLatin1StringView(".db")))
            throw FileError(copyErrno, QStringLiteral("copy"), from);
        FileSystem::copyFile(from, to);
    }
};

const QString messagesSchema = QStringLiteral("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT);");

QString hashOf(const QString& path)
{
    return QString::fromLatin1(QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256).toHex());
}

struct FileState
{
    QByteArray bytes;
    QDateTime modified;
    bool operator==(const FileState&) const = default;
};

QMap<QString, FileState> snapshot(const QString& folder)
{
    QMap<QString, FileState> state;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
        state.insert(info.fileName(), FileState{readFile(info.filePath()), info.lastModified()});
    return state;
}

} // namespace

class TestImport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_home;
    QString m_support;
    FaultyFiles m_files;

    ImportManager manager() const
    {
        const QString home = m_home, support = m_support;
        return ImportManager({[support] { return support; }, [home] { return home; }}, m_files);
    }

    QString newSource(const QString& name,
                      const QString& sql = messagesSchema + "INSERT INTO message VALUES (1, 'hi');")
    {
        const QString path = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + u'/' + name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        testsupport::writeDatabase(path, sql);
        return path;
    }

    int rowsIn(const QString& path)
    {
        sql::Connection db(path, sql::OpenOptions{sql::Access::ReadOnly});
        auto count = db.prepare("SELECT count(*) FROM message");
        count.step();
        return static_cast<int>(count.row().int64(0));
    }

private slots:
    void init()
    {
        const QString run = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
        m_home = run + QStringLiteral("/home");
        m_support = run + QStringLiteral("/support");
        m_files = FaultyFiles();
    }

    void errorTexts()
    {
        QCOMPARE(ImportError::fullDiskAccessText().toUtf8().size(), 431);
        QCOMPARE(ImportError::sourceNotFound("/x/chat.db").description(),
                 "No Messages database found at /x/chat.db.");
        QCOMPARE(ImportError::permissionDenied("/x/chat.db").description(),
                 "Couldn't read /x/chat.db" + ImportError::fullDiskAccessText());
        QVERIFY(ImportError::fullDiskAccessText().startsWith(".\n\nmacOS protects"));
        QVERIFY(ImportError::fullDiskAccessText().endsWith("use \u201CImport a database file\u2026\u201D.)"));
        QCOMPARE(ImportError::copyFailed("disk full").description(),
                 "Failed to import the database: disk full");
    }

    void theSourceIsEvidenceAndIsNeverWritten()
    {
        // A live database whose newest transactions are still only in its log, as while the
        // Messages application runs.
        const QString source = newSource(QStringLiteral("chat.db"));
        sql::Connection writer(source, sql::OpenOptions{sql::Access::ReadWrite});
        writer.execute("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;");
        writer.execute(
            "INSERT INTO message VALUES (2, 'only in the log'); INSERT INTO message VALUES (3, 'me too');");
        const QString folder = QFileInfo(source).absolutePath();
        QVERIFY(QFileInfo(source + "-wal").size() > 0);
        const auto before = snapshot(folder);

        const ImportRecord record = manager().importDatabase(source);

        QCOMPARE(snapshot(folder), before);
        const QString caseFolder = manager().caseFolder(record);
        QCOMPARE(QDir(caseFolder).entryList(QDir::Files), QStringList({"chat.db", "import.json"}));
        const QString copy = caseFolder + "/chat.db";
        QCOMPARE(rowsIn(copy), 3);
        QCOMPARE(record.sha256, hashOf(copy));
        QCOMPARE(record.fileSize, QFileInfo(copy).size());
        QCOMPARE(record.sourcePath, source);
        QCOMPARE(record.storedFilename, QStringLiteral("chat.db"));
        QVERIFY(!record.attachmentsRoot);
        QCOMPARE(QDir(caseFolder).entryList(QDir::Files),
                 QStringList({"chat.db", "import.json"}));              // reading added nothing
        QCOMPARE(readFile(copy).mid(18, 2), QByteArray("\x01\x01", 2)); // rollback journal mode

        const auto found = manager().loadMostRecentRecord();
        QVERIFY(found);
        QCOMPARE(found->record, record);
    }

    void sourceWithoutCompanionsAndWithAttachments()
    {
        const QString source = newSource(QStringLiteral("copy.db"));
        const QString attachments = QFileInfo(source).absolutePath() + "/Attachments";
        QDir().mkpath(attachments);
        const ImportRecord record = manager().importDatabase(source);
        QCOMPARE(record.attachmentsRoot, attachments);
        const ImportRecord chosen =
            manager().importDatabase(source, QStringLiteral("/elsewhere/Attachments"));
        QCOMPARE(chosen.attachmentsRoot, QStringLiteral("/elsewhere/Attachments"));
        QVERIFY(record.id != chosen.id);
        QCOMPARE(record.sha256, chosen.sha256);
    }

    void badSources_data()
    {
        QTest::addColumn<QByteArray>("content"); // "-" for a source that is not there
        QTest::addColumn<QString>("says");
        QTest::addRow("not a database") << QByteArray("hello\n").repeated(2000) << "file is not a database";
        QTest::addRow("empty file") << QByteArray() << "Failed to import the database: the file is empty";
        QTest::addRow("another program's database")
            << QByteArray("sqlite:CREATE TABLE notes (x);")
            << "Failed to import the database: the file is not a Messages database";
        QTest::addRow("gone before the copy")
            << QByteArray("-") << "Failed to import the database: Couldn’t open “";
    }

    void badSources()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, says);
        const QString source = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".db");
        if (content.startsWith("sqlite:"))
            testsupport::writeDatabase(source, QString::fromUtf8(content.mid(7)));
        else if (content != "-")
            writeFile(source, content);
        const QByteArray before = content == "-" ? QByteArray() : readFile(source);
        try {
            manager().importDatabase(source);
            QFAIL("imported");
        } catch (const std::exception& e) {
            QVERIFY2(QString::fromUtf8(e.what()).startsWith(says) || QString::fromUtf8(e.what()) == says,
                     e.what());
        }
        QVERIFY(!manager().loadMostRecentRecord()); // nothing half-made is ever offered
        if (content != "-")
            QCOMPARE(readFile(source), before);
    }

    void readingNotPermitted_data()
    {
        QTest::addColumn<int>("copyErrno");
        QTest::addColumn<bool>("permission");
        QTest::addRow("EACCES") << EACCES << true;
        QTest::addRow("EPERM") << EPERM << true;
        QTest::addRow("EIO") << EIO << false;
        QTest::addRow("ENOSPC") << ENOSPC << false;
    }

    void readingNotPermitted()
    {
        QFETCH(int, copyErrno);
        QFETCH(bool, permission);
        const QString source = newSource(QStringLiteral("chat.db"));
        m_files.copyErrno = copyErrno;
        try {
            manager().importDatabase(source);
            QFAIL("imported");
        } catch (const ImportError& e) {
            QCOMPARE(e.kind(),
                     permission ? ImportError::Kind::permissionDenied : ImportError::Kind::copyFailed);
            if (permission)
                QCOMPARE(e.description(), "Couldn't read " + source + ImportError::fullDiskAccessText());
            else
                QVERIFY(e.description().contains(QString::fromLocal8Bit(strerror(copyErrno))));
        }
    }

    void localDatabase()
    {
        const QString local = m_home + "/Library/Messages/chat.db";
        try {
            manager().importLocalDatabase();
            QFAIL("imported");
        } catch (const ImportError& e) {
            QCOMPARE(e.description(), "No Messages database found at " + local + ".");
        }

        QDir().mkpath(m_home + "/Library/Messages/Attachments");
        testsupport::writeDatabase(local, messagesSchema);
        m_files.unreadable = local;
        try {
            manager().importLocalDatabase();
            QFAIL("imported");
        } catch (const ImportError& e) {
            QCOMPARE(e.kind(), ImportError::Kind::permissionDenied);
            QCOMPARE(e.payload(), local);
        }

        m_files.unreadable.clear();
        const ImportRecord record = manager().importLocalDatabase();
        QCOMPARE(record.sourcePath, local);
        QCOMPARE(record.attachmentsRoot, m_home + "/Library/Messages/Attachments");
    }

    void refreshCarriesNamesAndNeedsTheSource()
    {
        const QString source = newSource(QStringLiteral("chat.db"));
        const ImportRecord first = manager().importDatabase(source);
        const QByteArray names = "{\n    \"names\": {\n        \"+15551234567\": \"Ann\"\n    }\n}\n";
        writeFile(manager().caseFolder(first) + "/contacts.json", names);

        const ImportRecord second = manager().reimport(first);
        QVERIFY(second.id != first.id);
        QCOMPARE(readFile(manager().caseFolder(second) + "/contacts.json"), names);
        QVERIFY(QFileInfo::exists(manager().caseFolder(first))); // the caller removes the old case

        const ImportRecord withoutNames = manager().importDatabase(source);
        const ImportRecord third = manager().reimport(withoutNames);
        QVERIFY(!QFileInfo::exists(manager().caseFolder(third) + "/contacts.json"));

        QFile::remove(source);
        try {
            manager().reimport(first);
            QFAIL("refreshed a moved source");
        } catch (const ImportError& e) {
            QCOMPARE(e.description(), "No Messages database found at " + source + ".");
        }
    }

    void refreshOfTheLocalDatabaseWithoutAccess()
    {
        const QString local = m_home + "/Library/Messages/chat.db";
        QDir().mkpath(QFileInfo(local).absolutePath());
        testsupport::writeDatabase(local, messagesSchema);
        const ImportRecord record = manager().importLocalDatabase();
        m_files.unreadable = local;
        try {
            manager().reimport(record);
            QFAIL("refreshed");
        } catch (const ImportError& e) {
            QCOMPARE(e.description(), "Couldn't read " + local + ImportError::fullDiskAccessText());
        }
    }

    void fingerprints_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addRow("empty") << QByteArray();
        QTest::addRow("abc") << QByteArray("abc");
        QTest::addRow("exactly one chunk") << QByteArray(1 << 20, 'x');
        QTest::addRow("a chunk and a byte") << QByteArray((1 << 20) + 1, 'y');
    }

    void fingerprints()
    {
        QFETCH(QByteArray, content);
        const QString path = m_dir.filePath(QStringLiteral("hash.bin"));
        writeFile(path, content);
        const QString digest = manager().sha256(path);
        QCOMPARE(digest.size(), 64);
        QCOMPARE(digest, hashOf(path));
        if (content.isEmpty())
            QCOMPARE(digest,
                     QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    }

    void casesRootIsAFile()
    {
        writeFile(m_support + "/Trovane/Cases", "not a folder");
        try {
            manager().importDatabase(newSource(QStringLiteral("chat.db")));
            QFAIL("imported");
        } catch (const ImportError& e) {
            QCOMPARE(e.kind(), ImportError::Kind::copyFailed);
            QVERIFY2(e.description().contains("Not a directory"), qPrintable(e.description()));
        }
    }

    void fullDisk()
    {
        // A real full file system: a small tmpfs, where the machine lets us mount one.
        const QString mountPoint = m_dir.filePath(QStringLiteral("small"));
        QDir().mkpath(mountPoint);
        if (::mount("tmpfs", mountPoint.toUtf8().constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP(qPrintable("cannot mount a small tmpfs here: " + QString::fromLocal8Bit(strerror(errno))));
        const auto unmount = qScopeGuard([&] { ::umount(mountPoint.toUtf8().constData()); });
        m_support = mountPoint;
        QString sql = messagesSchema;
        for (int i = 0; i < 400; ++i)
            sql += QStringLiteral("INSERT INTO message (text) VALUES (printf('%.2000c', 'x'));");
        const QString source = newSource(QStringLiteral("big.db"), sql);
        try {
            manager().importDatabase(source);
            QFAIL("imported onto a full disk");
        } catch (const ImportError& e) {
            QCOMPARE(e.kind(), ImportError::Kind::copyFailed);
            QVERIFY2(e.description().contains(QString::fromLocal8Bit(strerror(ENOSPC))),
                     qPrintable(e.description()));
        }
        QVERIFY(!manager().loadMostRecentRecord());
    }
};

QTEST_GUILESS_MAIN(TestImport)
#include "tst_import.moc"
