// import.json: the exact bytes written, and what a reader accepts and refuses.

#include "cases/importrecord.h"
#include "cases/isojson.h"

#include <QTest>

using namespace trovane;

namespace {

ImportRecord sampleRecord()
{
    ImportRecord record;
    record.id = QUuid::fromString(QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}"));
    record.sourcePath = QStringLiteral("/Users/ann/Library/Messages/chat.db");
    record.importedAt = *iso::parseDate(QStringLiteral("2025-03-04T15:22:10Z"));
    record.sha256 = QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    record.fileSize = 12345678901;
    return record;
}

} // namespace

class TestImportRecord : public QObject
{
    Q_OBJECT

private slots:
    void encodesSortedPrettyAndWithoutAbsentRoot()
    {
        ImportRecord record = sampleRecord();
        QCOMPARE(record.encoded(), QByteArray(R"({
    "fileSize": 12345678901,
    "id": "0F8FAD5B-D9CB-469F-A165-70867728950E",
    "importedAt": "2025-03-04T15:22:10Z",
    "sha256": "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
    "sourcePath": "/Users/ann/Library/Messages/chat.db",
    "storedFilename": "chat.db"
}
)"));
        record.attachmentsRoot = QStringLiteral("/Users/ann/Library/Messages/Attachments");
        QVERIFY(record.encoded().startsWith(
            "{\n    \"attachmentsRoot\": \"/Users/ann/Library/Messages/Attachments\",\n    \"fileSize\""));
    }

    void roundTrips()
    {
        ImportRecord record = sampleRecord();
        QCOMPARE(ImportRecord::decode(record.encoded()), record);
        record.attachmentsRoot = QStringLiteral("/x/Attachments");
        QCOMPARE(ImportRecord::decode(record.encoded()), record);
    }

    void acceptsEscapedSlashesAndOffsets()
    {
        const auto record =
            ImportRecord::decode(R"({"fileSize": 1, "id": "0f8fad5b-d9cb-469f-a165-70867728950e",
            "importedAt": "2025-03-04T16:22:10+01:00", "sha256": "ab", "sourcePath": "\/Users\/ann\/chat.db",
            "storedFilename": "chat.db"})");
        QVERIFY(record);
        QCOMPARE(record->sourcePath, QStringLiteral("/Users/ann/chat.db"));
        QCOMPARE(iso::dateText(record->importedAt), QStringLiteral("2025-03-04T15:22:10Z"));
        QVERIFY(!record->attachmentsRoot);
    }

    void refusesDamagedFiles_data()
    {
        QTest::addColumn<QByteArray>("json");
        const QByteArray good = sampleRecord().encoded();
        QTest::addRow("empty") << QByteArray();
        QTest::addRow("truncated") << good.left(good.size() / 2);
        QTest::addRow("an array") << QByteArray("[1, 2]");
        QTest::addRow("a string") << QByteArray("\"chat.db\"");
        auto with = [&](const char* from, const char* to) { return QByteArray(good).replace(from, to); };
        QTest::addRow("importedAt a number") << with("\"2025-03-04T15:22:10Z\"", "762794530");
        QTest::addRow("importedAt not a date") << with("2025-03-04T15:22:10Z", "yesterday");
        QTest::addRow("importedAt with a fraction") << with("15:22:10Z", "15:22:10.5Z");
        QTest::addRow("importedAt month 13") << with("2025-03-04", "2025-13-04");
        QTest::addRow("fileSize a fraction") << with("12345678901", "1.5");
        QTest::addRow("fileSize a string") << with("12345678901", "\"12\"");
        QTest::addRow("id not a UUID") << with("0F8FAD5B-D9CB-469F-A165-70867728950E", "case-1");
        QTest::addRow("sha256 missing") << with("\"sha256\"", "\"sha\"");
        QTest::addRow("sourcePath null") << with("\"/Users/ann/Library/Messages/chat.db\"", "null");
        QTest::addRow("attachmentsRoot null") << with("{", "{\"attachmentsRoot\": null,");
    }

    void refusesDamagedFiles()
    {
        QFETCH(QByteArray, json);
        QVERIFY(!ImportRecord::decode(json));
    }
};

QTEST_APPLESS_MAIN(TestImportRecord)
#include "tst_importrecord.moc"
