// Building the search index: its tables and rows, progress in batches, messages in two chats,
// tapbacks, bodies from archived text, left-overs of a crashed build, replacing an older index only
// at the end, and failing cleanly (a missing source, a failed move, a full disk).

#include "search/searchindex.h"

#include "archivewriter.h"
#include "messages/appledate.h"
#include "testhelpers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace trovane;

namespace {

// The columns the index build reads, as the platform declares them (abridged).
const QString schema = QStringLiteral(R"(
    CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT);
    CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT, attributedBody BLOB, date INTEGER,
        is_from_me INTEGER DEFAULT 0, handle_id INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0,
        associated_message_type INTEGER DEFAULT 0);
    CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER);
    INSERT INTO handle VALUES (1, '+15551230001'), (2, 'friend@example.com');
)");

// `count` messages with ROWIDs from `first`, text "<word> number N", in chat 1, one second apart.
QString manyMessages(int first, int count, const QString& word)
{
    return QStringLiteral(R"(
        WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n WHERE i < %2)
        INSERT INTO message (ROWID, text, date, handle_id) SELECT i, '%3 number ' || i, 700000000000000000 + i * 1000000000, 1 FROM n;
        WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n WHERE i < %2)
        INSERT INTO chat_message_join SELECT 1, i FROM n;
    )")
        .arg(first)
        .arg(first + count - 1)
        .arg(word);
}

QString hex(const std::vector<std::uint8_t>& bytes)
{
    return QStringLiteral("X'%1'").arg(QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()))
            .toHex()));
}

QStringList rowsOf(const QString& path, const char* sql)
{
    sql::Connection db(path, sql::OpenOptions{sql::Access::ReadOnly});
    sql::Statement statement = db.prepare(sql);
    QStringList rows;
    while (statement.step()) {
        QStringList fields;
        for (int i = 0; i < statement.columnCount(); ++i)
            fields.append(statement.row().optText(i).value_or(QStringLiteral("NULL")));
        rows.append(fields.join(u'|'));
    }
    return rows;
}

QStringList metaRows(const QString& index)
{
    return rowsOf(index,
                  "SELECT message_rowid, chat_id, date, is_from_me, sender, has_attachments FROM msg_meta "
                  "ORDER BY message_rowid");
}

QStringList ftsRows(const QString& index)
{
    return rowsOf(index, "SELECT rowid, body FROM messages_fts ORDER BY rowid");
}

bool wordFound(const SearchIndex& index, const QString& word)
{
    return !index.search(MessageFilter{word}, 10).isEmpty();
}

} // namespace

class TestSearchIndex : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString source(const QString& rows)
    {
        const QString path = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + ".db");
        testsupport::writeDatabase(path, schema + rows);
        return path;
    }

    // A fresh case folder's index location.
    QString indexPath()
    {
        const QString folder = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
        QDir().mkpath(folder);
        return folder + QStringLiteral("/index.db");
    }

private slots:
    void emptySource()
    {
        const SearchIndex index(indexPath(), source({}));
        QVERIFY(!index.isBuilt());
        QList<double> progress;
        index.build([&](double fraction) { progress.append(fraction); });
        QCOMPARE(progress, QList<double>{1.0});
        QVERIFY(index.isBuilt());
        QVERIFY(!QFile::exists(index.buildingURL()));
        QCOMPARE(metaRows(index.indexURL()), QStringList());
        QCOMPARE(ftsRows(index.indexURL()), QStringList());
        // Exactly the two tables (FTS5 adds its shadow tables, all named after messages_fts).
        QCOMPARE(rowsOf(index.indexURL(),
                        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
                        "'messages_fts_%' ORDER BY name"),
                 (QStringList{"messages_fts", "msg_meta"}));
        // The tokenizer folds case and diacritics.
        QCOMPARE(
            rowsOf(index.indexURL(), "SELECT sql FROM sqlite_master WHERE name = 'messages_fts'").value(0),
            QStringLiteral("CREATE VIRTUAL TABLE messages_fts USING fts5(\n    body,\n    tokenize = "
                           "'unicode61 remove_diacritics 2'\n)"));
    }

    void rowsAndBodies()
    {
        const QString rows = QStringLiteral(R"(
            INSERT INTO message (ROWID, text, date, is_from_me, handle_id, cache_has_attachments, associated_message_type)
            VALUES (1, 'plain text', 700000000000000000, 0, 1, 0, 0),
                   (2, 'sent by me', 700000001, 1, 0, 1, NULL),
                   (3, 'all NULLs', NULL, NULL, NULL, NULL, 1999),
                   (4, '', 5, 0, 2, 0, 0),
                   (5, NULL, 6, 0, 2, 0, 0),
                   (6, NULL, 7, 0, 9, 0, 0),
                   (7, NULL, 8, 0, 1, 0, 0),
                   (8, 'love it', 9, 0, 1, 0, 2000),
                   (9, 'removed like', 10, 0, 1, 0, 3001),
                   (10, 'in no chat', 11, 0, 1, 0, 0),
                   (11, 'in two chats', 12, 0, 1, 0, 0);
            INSERT INTO chat_message_join VALUES (1, 1), (1, 2), (2, 3), (2, 4), (2, 5), (2, 6), (2, 7), (1, 8), (1, 9),
                                                 (7, 11), (3, 11);
        )");
        // Words only in the archived body (the text column empty or NULL), a body of blanks only,
        // and none at all.
        const QString bodies = QStringLiteral("UPDATE message SET attributedBody = %1 WHERE ROWID = 4;\n"
                                              "UPDATE message SET attributedBody = %2 WHERE ROWID = 5;\n"
                                              "UPDATE message SET attributedBody = %3 WHERE ROWID = 6;\n")
                                   .arg(hex(testsupport::encodeAttributedString("archived words")),
                                        hex(testsupport::encodeAttributedString("Ünïcödé 😀 body")),
                                        hex(testsupport::encodeAttributedString("   ")));
        const SearchIndex index(indexPath(), source(rows + bodies));
        index.build();

        const QStringList meta = metaRows(index.indexURL());
        QCOMPARE(meta.size(), 8); // tapbacks (8, 9) and the message in no chat (10) are left out
        QCOMPARE(meta.mid(0, 7), (QStringList{
                                     "1|1|700000000000000000|0|+15551230001|0",
                                     "2|1|700000001|1|NULL|1", // a seconds-form date is stored as it is
                                     "3|2|NULL|0|NULL|0",      // NULL flags count 0
                                     "4|2|5|0|friend@example.com|0",
                                     "5|2|6|0|friend@example.com|0",
                                     "6|2|7|0|NULL|0", // a handle that does not exist
                                     "7|2|8|0|+15551230001|0",
                                 }));
        // Indexed once, under one of its two chats.
        QVERIFY2(meta[7] == u"11|7|12|0|+15551230001|0" || meta[7] == u"11|3|12|0|+15551230001|0",
                 qPrintable(meta[7]));
        QCOMPARE(ftsRows(index.indexURL()), (QStringList{
                                                "1|plain text",
                                                "2|sent by me",
                                                "3|all NULLs",
                                                "4|archived words",
                                                "5|Ünïcödé 😀 body",
                                                "11|in two chats",
                                            }));
        QVERIFY(wordFound(index, QStringLiteral("archived")));
        QVERIFY(wordFound(index, QStringLiteral("unicode")));
        QVERIFY(!wordFound(index, QStringLiteral("love")));
    }

    void progressInBatches_data()
    {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QList<double>>("expected");
        QTest::addColumn<int>("indexed");
        QTest::addRow("12,000 messages") << manyMessages(1, 12000, "word")
                                         << QList<double>{5000.0 / 12000.0, 10000.0 / 12000.0, 1.0} << 12000;
        QTest::addRow("exactly one batch")
            << manyMessages(1, 5000, "word") << QList<double>{1.0, 1.0} << 5000;
        // Tapbacks count neither in the total nor in the rows done.
        QTest::addRow("one batch and tapbacks") << manyMessages(1, 5000, "word") + QStringLiteral(R"(
                   WITH RECURSIVE n(i) AS (SELECT 5001 UNION ALL SELECT i + 1 FROM n WHERE i < 5300)
                   INSERT INTO message (ROWID, text, associated_message_type) SELECT i, 'Liked', 2001 FROM n;
                   WITH RECURSIVE n(i) AS (SELECT 5001 UNION ALL SELECT i + 1 FROM n WHERE i < 5300)
                   INSERT INTO chat_message_join SELECT 1, i FROM n;)")
                                                << QList<double>{1.0, 1.0} << 5000;
        // Each message counts once however many chats it is in.
        QTest::addRow("one batch in two chats")
            << manyMessages(1, 6000, "word") +
                   QStringLiteral("INSERT INTO chat_message_join SELECT 2, message_id "
                                  "FROM chat_message_join WHERE message_id <= 5000;")
            << QList<double>{5000.0 / 6000.0, 1.0} << 6000;
    }

    void progressInBatches()
    {
        QFETCH(QString, rows);
        QFETCH(QList<double>, expected);
        QFETCH(int, indexed);
        const SearchIndex index(indexPath(), source(rows));
        QList<double> progress;
        index.build([&](double fraction) { progress.append(fraction); });
        QCOMPARE(progress, expected);
        QCOMPARE(rowsOf(index.indexURL(), "SELECT COUNT(*), COUNT(DISTINCT message_rowid) FROM msg_meta"),
                 QStringList{QStringLiteral("%1|%1").arg(indexed)});
        QCOMPARE(rowsOf(index.indexURL(), "SELECT COUNT(*) FROM messages_fts"),
                 QStringList{QString::number(indexed)});
    }

    // A crashed build leaves its temporary file (and, had it used a log, -wal and -shm) behind.
    void leftOversOfACrashedBuild()
    {
        const SearchIndex index(indexPath(), source(manyMessages(1, 3, "fresh")));
        for (const char* suffix : {"", "-wal", "-shm"})
            testsupport::writeFile(index.buildingURL() + QLatin1StringView(suffix), QByteArray(8192, 'x'));
        index.build();
        QVERIFY(index.isBuilt());
        for (const char* suffix : {"", "-wal", "-shm"})
            QVERIFY2(!QFile::exists(index.buildingURL() + QLatin1StringView(suffix)), suffix);
        QCOMPARE(metaRows(index.indexURL()).size(), 3);
        QVERIFY(wordFound(index, QStringLiteral("fresh")));
    }

    // The previous index answers searches during the whole build, including at the final 1.0, and is
    // replaced by the new one at the end.
    void replacesAnOlderIndexOnlyAtTheEnd()
    {
        const QString path = indexPath();
        SearchIndex(path, source(manyMessages(1, 10, "older"))).build();
        const SearchIndex index(path, source(manyMessages(1, 7000, "newer")));
        int calls = 0;
        index.build([&](double) {
            ++calls;
            QVERIFY(QFile::exists(index.buildingURL()));
            QVERIFY(wordFound(index, QStringLiteral("older")));
            QVERIFY(!wordFound(index, QStringLiteral("newer")));
        });
        QCOMPARE(calls, 2);
        QVERIFY(!wordFound(index, QStringLiteral("older")));
        QVERIFY(wordFound(index, QStringLiteral("newer")));
        QCOMPARE(metaRows(path).size(), 7000);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addRow("source missing") << "source missing";
        QTest::addRow("source not a Messages database") << "no message table";
        QTest::addRow("source is not SQLite") << "not sqlite";
    }

    // A build that fails throws the database's error and leaves the older index in place.
    void failures()
    {
        QFETCH(QString, kind);
        const QString path = indexPath();
        SearchIndex(path, source(manyMessages(1, 3, "older"))).build();

        QString sourcePath = m_dir.filePath(QStringLiteral("missing.db"));
        QString expected = QStringLiteral("unable to open database file");
        if (kind == u"no message table") {
            sourcePath = m_dir.filePath(QStringLiteral("other.db"));
            testsupport::writeDatabase(sourcePath, QStringLiteral("CREATE TABLE other (x);"));
            expected = QStringLiteral("no such table: message");
        } else if (kind == u"not sqlite") {
            sourcePath = m_dir.filePath(QStringLiteral("text.db"));
            testsupport::writeFile(sourcePath, QByteArray(4096, 'x'));
            expected = QStringLiteral("file is not a database");
        }
        const SearchIndex index(path, sourcePath);
        QList<double> progress;
        try {
            index.build([&](double fraction) { progress.append(fraction); });
            QFAIL("the build did not fail");
        } catch (const sql::Error& e) {
            QCOMPARE(e.description(), expected);
        }
        QCOMPARE(progress, QList<double>());
        QVERIFY(index.isBuilt());
        QVERIFY(wordFound(index, QStringLiteral("older")));
    }

    void failedMove()
    {
        // A folder where the index file should be: the old index cannot be removed, nor replaced.
        const QString path = indexPath();
        QDir().mkpath(path + QStringLiteral("/inside"));
        const SearchIndex index(path, source(manyMessages(1, 3, "word")));
        QVERIFY(!index.isBuilt()); // a folder is not an index
        QVERIFY_THROWS_EXCEPTION(IndexFileError, index.build());
        try {
            index.build();
        } catch (const IndexFileError& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(index.buildingURL()), e.what());
        }
        QVERIFY(QFileInfo(path).isDir());
    }

    void fullDisk_data()
    {
        QTest::addColumn<bool>("tmpfs");
        QTest::addColumn<QString>("message");
        QTest::addRow("1 MiB tmpfs") << true << "database or disk is full";
        // Writes past the limit fail with EFBIG, which SQLite reports as an I/O error.
        QTest::addRow("file size limit of 1 MiB") << false << "disk I/O error";
    }

    // The disk fills up during the build: it fails with SQLite's message, the older index stays
    // usable, and once there is room again the next build succeeds.
    void fullDisk()
    {
        QFETCH(bool, tmpfs);
        QFETCH(QString, message);
        constexpr qint64 limit = 1024 * 1024;
        const QString folder = m_dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
        QDir().mkpath(folder);
        const QString bigSource = source(manyMessages(1, 30000, "filler"));
        const QString smallSource = source(manyMessages(1, 10, "older"));

        struct Cleanup
        {
            std::function<void()> fn;
            ~Cleanup() { fn(); }
        } cleanup{[] {}};
        if (tmpfs) {
            if (geteuid() != 0)
                QSKIP("mounting a tmpfs needs root");
            const int rc =
                QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=1m", "tmpfs", folder});
            if (rc != 0)
                QSKIP("mount -t tmpfs is not available here");
            cleanup.fn = [folder] { QProcess::execute(QStringLiteral("umount"), {folder}); };
        }
        const QString path = folder + QStringLiteral("/index.db");
        SearchIndex(path, smallSource).build();

        if (!tmpfs) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit small{static_cast<rlim_t>(limit), RLIM_INFINITY};
            rlimit previous{};
            getrlimit(RLIMIT_FSIZE, &previous);
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
            cleanup.fn = [previous] { setrlimit(RLIMIT_FSIZE, &previous); };
        }
        const SearchIndex index(path, bigSource);
        try {
            index.build();
            QFAIL("the build did not fail");
        } catch (const sql::Error& e) {
            QCOMPARE(e.description(), message);
        }
        QVERIFY(index.isBuilt());
        QVERIFY(wordFound(index, QStringLiteral("older")));
        QVERIFY(!wordFound(index, QStringLiteral("filler")));
        QVERIFY(QFile::exists(index.buildingURL())); // removed by the next build

        SearchIndex(path, smallSource).build();
        QVERIFY(!QFile::exists(index.buildingURL()));
        QVERIFY(wordFound(index, QStringLiteral("older")));
    }
};

QTEST_GUILESS_MAIN(TestSearchIndex)
#include "tst_searchindex.moc"
