// The case library: finding the newest readable case, and removing one.

#include "cases/importmanager.h"
#include "cases/isojson.h"
#include "testhelpers.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace trovane;
using testsupport::writeFile;

class TestImportManager : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_support;

    ImportManager manager() const
    {
        const QString support = m_support;
        return ImportManager({[support] { return support; }, [] { return QStringLiteral("/nonexistent"); }});
    }

    ImportRecord writeCase(const QString& importedAt, const QString& folderName = {})
    {
        ImportRecord record;
        record.id = QUuid::createUuid();
        record.sourcePath = QStringLiteral("/src/chat.db");
        record.importedAt = *iso::parseDate(importedAt);
        record.sha256 = QString(64, u'0');
        const QString folder =
            manager().casesRoot() + u'/' + (folderName.isEmpty() ? record.idText() : folderName);
        writeFile(folder + QStringLiteral("/import.json"), record.encoded());
        return record;
    }

private slots:
    void init() { m_support = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces)); }

    void casesRootLivesUnderApplicationData()
    {
        QCOMPARE(manager().casesRoot(), m_support + QStringLiteral("/Trovane/Cases"));
        QVERIFY(!QFileInfo::exists(manager().casesRoot())); // not created just by asking
    }

    void newestReadableCaseWins()
    {
        const QString root = manager().casesRoot();
        QDir().mkpath(root + QStringLiteral("/no-record"));
        writeFile(root + QStringLiteral("/plain-file"), "x");
        writeFile(root + QStringLiteral("/broken/import.json"), "{\"id\": ");
        writeCase(QStringLiteral("2025-03-04T09:00:00Z"));
        const ImportRecord newest = writeCase(QStringLiteral("2025-03-04T10:00:00Z"));
        // A newer case whose copy's name would climb out of its folder is damage, not a case.
        ImportRecord hostile = writeCase(QStringLiteral("2025-03-05T10:00:00Z"));
        hostile.storedFilename = QStringLiteral("../../elsewhere.db");
        writeFile(root + u'/' + hostile.idText() + QStringLiteral("/import.json"), hostile.encoded());

        const auto found = manager().loadMostRecentRecord();
        QVERIFY(found);
        QCOMPARE(found->record, newest);
        QCOMPARE(found->dbURL, root + u'/' + newest.idText() + QStringLiteral("/chat.db"));
    }

    void folderNameIsNotComparedWithTheRecord()
    {
        const ImportRecord record =
            writeCase(QStringLiteral("2025-03-04T09:00:00Z"), QStringLiteral("renamed"));
        const auto found = manager().loadMostRecentRecord();
        QVERIFY(found);
        QCOMPARE(found->record, record);
        QCOMPARE(found->dbURL, manager().casesRoot() + QStringLiteral("/renamed/chat.db"));
    }

    void equalTimesGiveEitherCase()
    {
        const ImportRecord a = writeCase(QStringLiteral("2025-03-04T09:00:00Z"));
        const ImportRecord b = writeCase(QStringLiteral("2025-03-04T09:00:00Z"));
        const auto found = manager().loadMostRecentRecord();
        QVERIFY(found && (found->record == a || found->record == b));
    }

    void nothingToOffer_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addRow("no cases root") << "none";
        QTest::addRow("empty cases root") << "empty";
        QTest::addRow("cases root is a file") << "file";
        QTest::addRow("no application data folder") << "unformed";
    }

    void nothingToOffer()
    {
        QFETCH(QString, setup);
        if (setup == u"empty")
            QDir().mkpath(manager().casesRoot());
        if (setup == u"file")
            writeFile(manager().casesRoot(), "not a folder");
        if (setup == u"unformed")
            m_support.clear();
        QVERIFY(!manager().loadMostRecentRecord());
    }

    void removeCaseDeletesEverythingAndToleratesRepeats()
    {
        const ImportRecord record = writeCase(QStringLiteral("2025-03-04T09:00:00Z"));
        const QString folder = manager().caseFolder(record);
        writeFile(folder + QStringLiteral("/chat.db"), "db");
        writeFile(folder + QStringLiteral("/sub/index.db"), "index");
        manager().removeCase(record);
        QVERIFY(!QFileInfo::exists(folder));
        manager().removeCase(record); // already gone: nothing happens
        QVERIFY(!manager().loadMostRecentRecord());
    }
};

QTEST_APPLESS_MAIN(TestImportManager)
#include "tst_importmanager.moc"
