// The database layer: open modes, statements on connect, arguments, rows by name, NULL-safe and
// type-strict reads, transactions, serialised access, and errors that carry SQLite's message.

#include "platform/sqlite.h"
#include "testhelpers.h"

#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace trovane;

class TestSqlite : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("t.db"));
        testsupport::writeDatabase(m_path, QStringLiteral(R"(
            CREATE TABLE t (id INTEGER PRIMARY KEY, n INTEGER, s TEXT, b BLOB);
            INSERT INTO t VALUES (1, 42, 'forty-two', x'00ff');
            INSERT INTO t VALUES (2, NULL, NULL, NULL);
            INSERT INTO t VALUES (3, 'not a number', 7, 'text in a blob column');
            INSERT INTO t VALUES (4, 2.75, 1.5, NULL);
        )"));
    }

    void rowsByNameWithOptionalReads()
    {
        sql::Connection db(m_path);
        auto statement = db.prepare("SELECT id, n AS number, s, b FROM t ORDER BY id");
        const int number = statement.columnIndex("number");
        const int text = statement.columnIndex("s");
        const int blob = statement.columnIndex("b");
        struct Read
        {
            std::optional<std::int64_t> number;
            std::optional<QString> text;
            std::optional<QByteArray> blob;
        };
        const auto rows = statement.fetchAll([&](const sql::Row& row) {
            return Read{row.optInt64(number), row.optText(text), row.optBlob(blob)};
        });
        QCOMPARE(rows.size(), 4u);
        QCOMPARE(rows[0].number, 42);
        QCOMPARE(rows[0].text, QStringLiteral("forty-two"));
        QCOMPARE(rows[0].blob, QByteArray("\x00\xff", 2));
        QVERIFY(!rows[1].number && !rows[1].text && !rows[1].blob);
        // Text where an integer is expected is absent, not SQLite's silent 0.
        QVERIFY(!rows[2].number);
        QCOMPARE(rows[2].text, QStringLiteral("7"));
        QCOMPARE(rows[3].number, 2); // a REAL truncates
        QCOMPARE(rows[3].text, QStringLiteral("1.5"));
    }

    void preparedStatementsRunAgainAndTakeOneStatement()
    {
        sql::Connection db(m_path);
        auto statement = db.prepare("SELECT s FROM t WHERE id = ?");
        QStringList seen;
        for (const std::int64_t id : {1, 3, 1}) {
            statement.bindAll({id});
            QVERIFY(statement.step());
            seen.append(statement.row().text(0));
        }
        QCOMPARE(seen, QStringList({"forty-two", "7", "forty-two"}));
        QVERIFY_THROWS_EXCEPTION(sql::Error, db.prepare("SELECT 1; DELETE FROM t"));
        QVERIFY_THROWS_EXCEPTION(sql::Error, db.prepare("  "));
        db.prepare("SELECT 1;  \n"); // a trailing semicolon is still one statement
    }

    void unknownColumnNameFailsLoudly()
    {
        sql::Connection db(m_path);
        auto statement = db.prepare("SELECT id FROM t");
        QVERIFY_THROWS_EXCEPTION(sql::Error, statement.columnIndex("missing"));
    }

    void positionalArguments()
    {
        sql::Connection db(m_path);
        auto statement =
            db.prepare("SELECT count(*) FROM t WHERE id IN (" + sql::placeholders(3) + ") AND ? = 'x'");
        statement.bindAll({std::int64_t{1}, std::int64_t{2}, std::int64_t{9}, QStringLiteral("x")});
        QVERIFY(statement.step());
        QCOMPARE(statement.row().int64(0), 2);
        QCOMPARE(sql::placeholders(0), std::string());
        QCOMPARE(sql::placeholders(1), std::string("?"));
    }

    void readOnlyConnectionCannotWrite()
    {
        sql::Connection db(m_path, sql::OpenOptions{sql::Access::ReadOnly});
        try {
            db.execute("DELETE FROM t");
            QFAIL("a read-only connection wrote");
        } catch (const sql::Error& e) {
            QCOMPARE(e.description(), QStringLiteral("attempt to write a readonly database"));
        }
    }

    void statementsRunOnEveryConnection()
    {
        const sql::OpenOptions options{
            sql::Access::ReadWrite, false, {QStringLiteral("PRAGMA query_only = 1")}};
        for (int i = 0; i < 2; ++i) {
            sql::Connection db(m_path, options);
            QVERIFY_THROWS_EXCEPTION(sql::Error, db.execute("DELETE FROM t"));
        }
    }

    void errorsCarrySqliteMessages_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("message");
        QTest::addRow("not a database") << QByteArray(4096, 'x') << "SELECT 1 FROM sqlite_master"
                                        << "file is not a database";
        QTest::addRow("no such table") << QByteArray() << "SELECT 1 FROM chat"
                                       << "no such table: chat";
        QTest::addRow("syntax") << QByteArray() << "SELEKT 1"
                                << "near \"SELEKT\": syntax error";
    }

    void errorsCarrySqliteMessages()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, sql);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(QStringLiteral("other.db"));
        testsupport::writeFile(path, content);
        try {
            sql::Connection db(path, sql::OpenOptions{sql::Access::ReadOnly});
            db.execute(sql.toStdString());
            QFAIL("no error");
        } catch (const sql::Error& e) {
            QCOMPARE(e.description(), message);
        }
    }

    void missingFileFailsToOpen()
    {
        QVERIFY_THROWS_EXCEPTION(sql::Error, sql::Connection(m_dir.filePath(QStringLiteral("none.db"))));
    }

    void transactionsCommitOrRollBack()
    {
        sql::Connection db(m_path, sql::OpenOptions{sql::Access::ReadWrite});
        db.inTransaction([](sql::Connection& c) { c.execute("INSERT INTO t (id) VALUES (10)"); });
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db.inTransaction([](sql::Connection& c) {
            c.execute("INSERT INTO t (id) VALUES (11)");
            throw std::runtime_error("abandon");
        }));
        auto count = db.prepare("SELECT group_concat(id) FROM t WHERE id >= 10");
        QVERIFY(count.step());
        QCOMPARE(count.row().text(0), QStringLiteral("10"));
    }

    void queueSerialisesAccess()
    {
        sql::Queue queue(m_path, sql::OpenOptions{sql::Access::ReadWrite});
        queue.write(
            [](sql::Connection& db) { db.execute("CREATE TABLE c (n INTEGER); INSERT INTO c VALUES (0)"); });
        // Read-modify-write from two threads: only serialised access keeps every increment.
        auto work = [&queue] {
            for (int i = 0; i < 200; ++i) {
                queue.write([](sql::Connection& db) {
                    auto read = db.prepare("SELECT n FROM c");
                    read.step();
                    const std::int64_t n = read.row().int64(0);
                    auto write = db.prepare("UPDATE c SET n = ?");
                    write.bind(1, n + 1).run();
                });
            }
        };
        std::thread a(work), b(work);
        a.join();
        b.join();
        const std::int64_t total = queue.read([](sql::Connection& db) {
            auto read = db.prepare("SELECT n FROM c");
            read.step();
            return read.row().int64(0);
        });
        QCOMPARE(total, 400);
    }

    void tableIntrospection()
    {
        sql::Connection db(m_path);
        QCOMPARE(db.columnsOf(QStringLiteral("t")), QStringList({"id", "n", "s", "b"}));
        QVERIFY(db.columnsOf(QStringLiteral("none")).isEmpty());
        QVERIFY(db.hasTable(QStringLiteral("t")));
        QVERIFY(!db.hasTable(QStringLiteral("none")));
    }
};

QTEST_GUILESS_MAIN(TestSqlite)
#include "tst_sqlite.moc"
