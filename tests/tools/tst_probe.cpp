// The developer probe: JSON faithful to the records on standard output, one clear line and a
// non-zero status on failure.

#include "cases/importrecord.h"
#include "cases/isojson.h"
#include "testhelpers.h"

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
        QTest::addRow("not a database") << QStringList{"conversations", "NOTDB"} << 1 << "file is not a database";
        QTest::addRow("missing file") << QStringList{"conversations", "/nonexistent/chat.db"} << 1
                                      << "unable to open database file";
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
