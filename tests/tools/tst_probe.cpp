// The developer probe: JSON faithful to the records on standard output, one clear line and a
// non-zero status on failure.

#include "cases/importrecord.h"
#include "cases/isojson.h"
#include "testhelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace trovane;

namespace {

struct Result
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Result probe(const QStringList& args, const QString& dataHome = {})
{
    QProcess process;
    if (!dataHome.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        process.setProcessEnvironment(env);
    }
    process.start(testsupport::binDir() + QStringLiteral("/trovane-probe"), args);
    process.waitForFinished(60000);
    return Result{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                  process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class TestProbe : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void conversationsAsRecords()
    {
        const QString db = m_dir.filePath(QStringLiteral("c.db"));
        testsupport::writeDatabase(db, QStringLiteral(R"(
            CREATE TABLE chat (ROWID INTEGER PRIMARY KEY, guid TEXT, chat_identifier TEXT, display_name TEXT, style INTEGER);
            CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT);
            CREATE TABLE chat_handle_join (chat_id INTEGER, handle_id INTEGER);
            CREATE TABLE message (ROWID INTEGER PRIMARY KEY, date INTEGER);
            CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER);
            INSERT INTO handle VALUES (1, '+15551234567');
            INSERT INTO chat VALUES (2, 'g2', '+15551234567', NULL, 45), (5, 'g5', '5551234567', 'Ann', 45);
            INSERT INTO chat_handle_join VALUES (2, 1);
            INSERT INTO message VALUES (1, 1), (2, 700000000000000000), (3, 0);
            INSERT INTO chat_message_join VALUES (2, 1), (5, 2), (5, 3);
        )"));
        const Result result = probe({QStringLiteral("conversations"), db});
        QCOMPARE(result.status, 0);
        QVERIFY(result.err.isEmpty());
        const QJsonArray list = QJsonDocument::fromJson(result.out).array();
        QCOMPARE(list.size(), 1);
        const QJsonObject c = list[0].toObject();
        QCOMPARE(c.keys(), QStringList({"chatIDs", "chatIdentifier", "displayName", "firstDate", "guid", "id",
                                        "isGroup", "lastDate", "messageCount", "participants"}));
        QCOMPARE(c["id"].toInteger(), 2);
        QCOMPARE(c["chatIDs"].toArray(), QJsonArray({2, 5}));
        QCOMPARE(c["displayName"].toString(), QStringLiteral("Ann"));
        QCOMPARE(c["firstDate"].toDouble(), 978307201.0);
        QCOMPARE(c["lastDate"].toDouble(), 1678307200.0);
        QCOMPARE(c["messageCount"].toInteger(), 3);
        QCOMPARE(c["participants"].toArray(), QJsonArray({"+15551234567"}));
    }

    void failuresSayWhyOnOneLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::addRow("not a database")
            << QStringList{"conversations", "NOTDB"} << 1 << "file is not a database";
        QTest::addRow("missing file")
            << QStringList{"conversations", "/nonexistent/chat.db"} << 1 << "unable to open database file";
        QTest::addRow("no command") << QStringList{} << 2 << "usage:";
        QTest::addRow("unknown command") << QStringList{"frobnicate"} << 2 << "usage:";
        QTest::addRow("missing argument") << QStringList{"conversations"} << 2 << "usage:";
    }

    void failuresSayWhyOnOneLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, says);
        const QString notDB = m_dir.filePath(QStringLiteral("not.db"));
        testsupport::writeFile(notDB, QByteArray("plain text\n").repeated(100));
        args.replaceInStrings(QStringLiteral("NOTDB"), notDB);
        const Result result = probe(args);
        QCOMPARE(result.status, status);
        QVERIFY(result.out.isEmpty());
        QCOMPARE(result.err.count('\n'), 1);
        QVERIFY2(result.err.contains(says.toUtf8()), result.err.constData());
    }

    void importIndexAndSearch()
    {
        const QString dataHome = m_dir.filePath(QStringLiteral("flow"));
        const QString source = m_dir.filePath(QStringLiteral("flow-source/chat.db"));
        QDir().mkpath(QFileInfo(source).absolutePath());
        testsupport::writeDatabase(source, QStringLiteral(R"(
            CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT);
            CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT, attributedBody BLOB, date INTEGER,
                is_from_me INTEGER, handle_id INTEGER, cache_has_attachments INTEGER, associated_message_type INTEGER);
            CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER);
            INSERT INTO message VALUES (1, 'Lunch at the café?', NULL, 700000000000000000, 0, 0, 0, 0),
                                       (2, 'Sure', NULL, 700000001000000000, 1, 0, 1, 0);
            INSERT INTO chat_message_join VALUES (3, 1), (3, 2);
        )"));
        Result result = probe({QStringLiteral("import"), source}, dataHome);
        QCOMPARE(result.status, 0);
        const QJsonObject record = QJsonDocument::fromJson(result.out).object();
        const QString caseDir = dataHome + QStringLiteral("/Trovane/Cases/") + record["id"].toString();
        QCOMPARE(record["sourcePath"].toString(), source);

        result = probe({QStringLiteral("index"), caseDir}, dataHome);
        QCOMPARE(result.status, 0);
        QCOMPARE(QJsonDocument::fromJson(result.out).object(),
                 (QJsonObject{{"messages_fts", 2}, {"msg_meta", 2}}));
        QVERIFY(result.err.endsWith("1.000000\n"));

        result = probe({QStringLiteral("search"), caseDir, QStringLiteral("--query"), QStringLiteral("CAFE")},
                       dataHome);
        QCOMPARE(result.status, 0);
        const QJsonArray hits = QJsonDocument::fromJson(result.out).array();
        QCOMPARE(hits.size(), 1);
        QCOMPARE(hits[0].toObject()["snippet"].toString(), QStringLiteral("Lunch at the \u0002café\u0003?"));
        result = probe({QStringLiteral("search"), caseDir, QStringLiteral("--sender"), QStringLiteral("me"),
                        QStringLiteral("--attachments-only")},
                       dataHome);
        QCOMPARE(QJsonDocument::fromJson(result.out).array().size(), 1);
        result =
            probe({QStringLiteral("search"), caseDir, QStringLiteral("--sender"), QStringLiteral("nobody")},
                  dataHome);
        QCOMPARE(result.status, 2);

        result = probe({QStringLiteral("reimport"), record["id"].toString()}, dataHome);
        QCOMPARE(result.status, 0);
        QVERIFY(QJsonDocument::fromJson(result.out).object()["id"].toString() != record["id"].toString());
    }

    void latestCase()
    {
        const QString dataHome = m_dir.filePath(QStringLiteral("data"));
        Result result = probe({QStringLiteral("latest")}, dataHome);
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QByteArray("null\n"));

        ImportRecord record;
        record.id = QUuid::createUuid();
        record.sourcePath = QStringLiteral("/home/ann/Library/Messages/chat.db");
        record.importedAt = *iso::parseDate(QStringLiteral("2026-01-02T03:04:05Z"));
        record.sha256 = QString(64, u'a');
        record.fileSize = 4096;
        const QString folder = dataHome + QStringLiteral("/Trovane/Cases/") + record.idText();
        testsupport::writeFile(folder + QStringLiteral("/import.json"), record.encoded());

        result = probe({QStringLiteral("latest")}, dataHome);
        QCOMPARE(result.status, 0);
        QJsonObject object = QJsonDocument::fromJson(result.out).object();
        QCOMPARE(object.take("dbURL").toString(), folder + QStringLiteral("/chat.db"));
        QCOMPARE(object, QJsonDocument::fromJson(record.encoded()).object());
    }
};

QTEST_GUILESS_MAIN(TestProbe)
#include "tst_probe.moc"
