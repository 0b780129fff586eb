// Checks the databases the fixture builder writes, read back through the system SQLite directly
// (not the platform layer), so that a fault in either shows.

#include "fixturebuilder.h"
#include "testimages.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <sqlite3.h>

using namespace trovane::testsupport;

namespace {

// A read-only connection of the system SQLite.
class Db
{
public:
    explicit Db(const QString& path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            qFatal("cannot open %s", qPrintable(path));
    }
    ~Db() { sqlite3_close(m_db); }

    // Every row of `sql`, columns as text ("NULL" for NULL) joined by '|'.
    QStringList rows(const QString& sql) const
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
            qFatal("bad SQL %s: %s", qPrintable(sql), sqlite3_errmsg(m_db));
        QStringList out;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList columns;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                if (sqlite3_column_type(stmt, i) == SQLITE_NULL)
                    columns << QStringLiteral("NULL");
                else
                    columns << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                                 sqlite3_column_bytes(stmt, i));
            }
            out << columns.join(u'|');
        }
        sqlite3_finalize(stmt);
        return out;
    }
    qint64 scalar(const QString& sql) const
    {
        const QStringList r = rows(sql);
        return r.isEmpty() ? -1 : r.first().toLongLong();
    }
    QByteArray contentHash() const
    {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (const char* table : {"handle", "chat", "chat_handle_join", "message", "chat_message_join",
                                  "attachment", "message_attachment_join"}) {
            for (const QString& row :
                 rows(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2").arg(QLatin1StringView(table))))
                hash.addData(row.toUtf8());
        }
        return hash.result().toHex();
    }

private:
    sqlite3* m_db = nullptr;
};

QByteArray fakeEncoder(const QString& text)
{
    return "BODY:" + text.toUtf8();
}

// Header bytes 18 and 19 are 1 for a rollback-journal database, 2 for WAL.
bool isRollbackFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(20);
    return header.size() == 20 && header[18] == 1 && header[19] == 1;
}

bool noSideFiles(const QString& db)
{
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        if (QFile::exists(db + QLatin1StringView(suffix)))
            return false;
    }
    return true;
}

} // namespace

class TestFixtureBuilder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void standardShapes_data();
    void standardShapes();
    void standardPictures_data();
    void standardPictures();
    void standardOtherFiles();
    void bodyEncoderKeepsEveryBody();
    void ios13Schema();
    void scaleIsDeterministic();
    void scaleDistribution();
    void demoLibrary();
    void tool_data();
    void tool();

private:
    QTemporaryDir m_dir;
    QString m_db, m_root;
    FixtureFacts m_facts;
};

void TestFixtureBuilder::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_db = m_dir.filePath(QStringLiteral("standard/chat.db"));
    m_root = m_dir.filePath(QStringLiteral("standard/Attachments"));
    m_facts = writeStandardFixture(m_db, m_root);
    QVERIFY(isRollbackFile(m_db));
    QVERIFY(noSideFiles(m_db));
}

void TestFixtureBuilder::standardShapes_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<qint64>("expected");
    const FixtureFacts& f = m_facts;
    auto row = [](const char* name, const QString& sql, qint64 expected) {
        QTest::newRow(name) << sql << expected;
    };
    auto chatOf = [](qint64 chat) {
        return QStringLiteral("SELECT message_id FROM chat_message_join WHERE chat_id = %1").arg(chat);
    };
    auto members = [](qint64 chat) {
        return QStringLiteral("(SELECT group_concat(handle_id) FROM (SELECT handle_id FROM chat_handle_join "
                              "WHERE chat_id = %1 ORDER BY handle_id))")
            .arg(chat);
    };
    const QString tapbacks = QStringLiteral("associated_message_type BETWEEN 2000 AND 3006");

    row("facts count every message", QStringLiteral("SELECT count(*) FROM message"), f.messages);
    row("phone spellings",
        QStringLiteral("SELECT count(*) FROM handle WHERE id IN ('+1 (555) 123-4567', '5551234567') "
                       "AND ROWID IN (%1, %2)")
            .arg(f.phoneFormattedHandle)
            .arg(f.phoneDigitsHandle),
        2);
    row("phone chats one-to-one each with its spelling",
        QStringLiteral("SELECT count(*) FROM chat c JOIN chat_handle_join j ON j.chat_id = c.ROWID "
                       "WHERE c.style = 45 AND ((c.ROWID = %1 AND j.handle_id = %2) OR (c.ROWID = %3 AND "
                       "j.handle_id = %4))")
            .arg(f.phoneFormattedChat)
            .arg(f.phoneFormattedHandle)
            .arg(f.phoneDigitsChat)
            .arg(f.phoneDigitsHandle),
        2);
    row("e-mails differ only in case",
        QStringLiteral("SELECT count(DISTINCT id) = 2 AND count(DISTINCT lower(id)) = 1 FROM handle WHERE "
                       "ROWID IN (%1, %2)")
            .arg(f.emailMixedCaseHandle)
            .arg(f.emailLowerCaseHandle),
        1);
    row("e-mail chats",
        QStringLiteral(
            "SELECT count(*) FROM chat_handle_join WHERE (chat_id, handle_id) IN (VALUES (%1, %2), (%3, %4))")
            .arg(f.emailMixedCaseChat)
            .arg(f.emailMixedCaseHandle)
            .arg(f.emailLowerCaseChat)
            .arg(f.emailLowerCaseHandle),
        2);
    row("three groups", QStringLiteral("SELECT count(*) FROM chat WHERE style = 43"), 3);
    row("group names: named, empty, NULL",
        QStringLiteral("SELECT (SELECT display_name = 'Book Club' FROM chat WHERE ROWID = %1) + "
                       "(SELECT display_name = '' FROM chat WHERE ROWID = %2) + "
                       "(SELECT display_name IS NULL FROM chat WHERE ROWID = %3)")
            .arg(f.namedGroup)
            .arg(f.emptyNameGroup)
            .arg(f.nullNameGroup),
        3);
    row("twin groups have the same members",
        QStringLiteral("SELECT %1 = %2 AND %1 != %3")
            .arg(members(f.emptyNameGroup), members(f.nullNameGroup), members(f.namedGroup)),
        1);
    row("participantless chat has no join but messages",
        QStringLiteral("SELECT (SELECT count(*) FROM chat_handle_join WHERE chat_id = %1) = 0 AND "
                       "(SELECT count(*) FROM chat_message_join WHERE chat_id = %1) > 0 AND "
                       "(SELECT chat_identifier FROM chat WHERE ROWID = %1) = '%2'")
            .arg(f.participantlessChat)
            .arg(f.participantlessIdentifier),
        1);
    row("participantless received messages have no handle",
        QStringLiteral(
            "SELECT count(*) FROM message WHERE ROWID IN (%1) AND is_from_me = 0 AND handle_id != 0")
            .arg(chatOf(f.participantlessChat)),
        0);
    row("empty chat",
        QStringLiteral("SELECT count(*) FROM chat_message_join WHERE chat_id = %1").arg(f.emptyChat), 0);
    row("empty chat identifier NULL",
        QStringLiteral("SELECT chat_identifier IS NULL FROM chat WHERE ROWID = %1").arg(f.emptyChat), 1);
    row("zero-date chat",
        QStringLiteral("SELECT count(*) FROM message WHERE ROWID IN (%1) AND date = 0")
            .arg(chatOf(f.zeroDateChat)),
        f.zeroDateChatMessages);
    row("every tapback type",
        QStringLiteral("SELECT count(DISTINCT associated_message_type) FROM message WHERE %1").arg(tapbacks),
        14);
    row("facts list every tapback", QStringLiteral("SELECT count(*) FROM message WHERE %1").arg(tapbacks),
        f.tapbacks.size());
    row("part-indexed references",
        QStringLiteral("SELECT count(*) > 3 FROM message WHERE associated_message_guid LIKE 'p:0/%'"), 1);
    row("bare references",
        QStringLiteral("SELECT count(*) > 3 FROM message WHERE associated_message_guid LIKE 'bp:%'"), 1);
    row("exactly one target missing",
        QStringLiteral(
            "SELECT count(*) FROM message t WHERE %1 AND NOT EXISTS (SELECT 1 FROM message m WHERE m.guid = "
            "substr(t.associated_message_guid, instr(t.associated_message_guid, ':') + "
            "CASE WHEN t.associated_message_guid LIKE 'p:%' THEN 3 ELSE 1 END))")
            .arg(tapbacks),
        1);
    row("the missing one is in the facts",
        QStringLiteral("SELECT associated_message_guid = 'p:0/%1' FROM message WHERE ROWID = %2")
            .arg(f.missingTargetGuid)
            .arg(f.missingTargetTapback),
        1);
    row("reactions from me",
        QStringLiteral("SELECT count(*) > 0 FROM message WHERE %1 AND is_from_me = 1").arg(tapbacks), 1);
    row("reactions from handles",
        QStringLiteral("SELECT count(DISTINCT handle_id) >= 2 FROM message WHERE %1 AND handle_id != 0")
            .arg(tapbacks),
        1);
    row("reaction without handle",
        QStringLiteral("SELECT handle_id = 0 AND is_from_me = 0 FROM message WHERE ROWID = %1")
            .arg(f.handlelessTapback),
        1);
    row("reactions on the reacted message",
        QStringLiteral("SELECT count(*) FROM message WHERE associated_message_guid IN ('p:0/%1', 'bp:%1')")
            .arg(f.reactedGuid),
        7);
    row("edited",
        QStringLiteral("SELECT date_edited > date FROM message WHERE ROWID = %1").arg(f.editedMessage), 1);
    row("only one edited", QStringLiteral("SELECT count(*) FROM message WHERE date_edited != 0"), 1);
    row("unsent",
        QStringLiteral("SELECT date_retracted > date AND text = '' FROM message WHERE ROWID = %1")
            .arg(f.unsentMessage),
        1);
    row("system item types",
        QStringLiteral("SELECT count(DISTINCT item_type) FROM message WHERE item_type != 0"), 3);
    row("facts list every system message",
        QStringLiteral("SELECT count(*) FROM message WHERE item_type != 0"), f.systemMessages.size());
    row("rename carries the title",
        QStringLiteral("SELECT count(*) FROM message WHERE item_type = 2 AND group_title = 'Book Club'"), 1);
    row("message in two chats",
        QStringLiteral("SELECT count(*) FROM chat_message_join WHERE message_id = %1").arg(f.twoChatMessage),
        2);
    row("only one message in two chats",
        QStringLiteral("SELECT count(*) FROM (SELECT message_id FROM chat_message_join GROUP BY message_id "
                       "HAVING count(*) > 1)"),
        1);
    row("blank", QStringLiteral("SELECT text = ' ' FROM message WHERE ROWID = %1").arg(f.blankMessage), 1);
    row("attachment-only message",
        QStringLiteral("SELECT text = '' AND cache_has_attachments = 1 FROM message WHERE ROWID = %1")
            .arg(f.attachmentOnlyMessage),
        1);
    row("long message is multi-line",
        QStringLiteral(
            "SELECT length(text) > 2000 AND instr(text, char(10)) > 0 FROM message WHERE ROWID = %1")
            .arg(f.longMessage),
        1);
    row("NULL date",
        QStringLiteral("SELECT date IS NULL FROM message WHERE ROWID = %1").arg(f.nullDateMessage), 1);
    row("dates in whole seconds",
        QStringLiteral("SELECT count(*) FROM message WHERE date > 0 AND date < 100000000000"),
        f.secondsDateMessages.size());
    row("most dates nanoseconds",
        QStringLiteral("SELECT count(*) * 2 > %1 FROM message WHERE date > 100000000000").arg(f.messages), 1);
    row("dates 0 outside the zero chat",
        QStringLiteral("SELECT count(*) FROM message WHERE date = 0 AND ROWID NOT IN (%1)")
            .arg(chatOf(f.zeroDateChat)),
        1);
    row("attachment flag matches the joins",
        QStringLiteral("SELECT count(*) FROM message WHERE cache_has_attachments != "
                       "EXISTS (SELECT 1 FROM message_attachment_join j WHERE j.message_id = message.ROWID)"),
        0);
    row("recorded filenames",
        QStringLiteral("SELECT count(*) FROM attachment WHERE filename IS NOT NULL AND "
                       "filename NOT LIKE '~/Library/Messages/Attachments/__/__/%/%'"),
        0);
    row("NULL filename",
        QStringLiteral("SELECT filename IS NULL FROM attachment WHERE ROWID = %1")
            .arg(f.nullFilenameAttachment),
        1);
    row("sparse attachment",
        QStringLiteral(
            "SELECT mime_type IS NULL AND uti = 'public.jpeg' AND transfer_name = '' AND total_bytes IS NULL "
            "FROM attachment WHERE ROWID = %1")
            .arg(f.sparseAttachment),
        1);
    row("guids unique across messages", QStringLiteral("SELECT count(DISTINCT guid) FROM message"),
        f.messages);
    row("no text-less body-less ordinary message",
        QStringLiteral(
            "SELECT count(*) FROM message WHERE item_type = 0 AND text IS NULL AND attributedBody IS NULL"),
        0);
}

void TestFixtureBuilder::standardShapes()
{
    QFETCH(QString, sql);
    QFETCH(qint64, expected);
    QCOMPARE(Db(m_db).scalar(sql), expected);
}

void TestFixtureBuilder::standardPictures_data()
{
    QTest::addColumn<qint64>("attachment");
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<QImageIOHandler::Transformations>("transformation");
    const QSize upright = m_facts.pictureSize, turned = upright.transposed();
    QTest::newRow("JPEG orientation 6")
        << m_facts.jpegOrientation6 << turned
        << QImageIOHandler::Transformations(QImageIOHandler::TransformationRotate90);
    QTest::newRow("JPEG orientation 8")
        << m_facts.jpegOrientation8 << turned
        << QImageIOHandler::Transformations(QImageIOHandler::TransformationRotate270);
    QTest::newRow("PNG") << m_facts.png << upright
                         << QImageIOHandler::Transformations(QImageIOHandler::TransformationNone);
    QTest::newRow("HEIC") << m_facts.heic << upright
                          << QImageIOHandler::Transformations(QImageIOHandler::TransformationNone);
}

void TestFixtureBuilder::standardPictures()
{
    QFETCH(qint64, attachment);
    QFETCH(QSize, stored);
    QFETCH(QImageIOHandler::Transformations, transformation);

    const QString path = m_root + u'/' + m_facts.files.value(attachment);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray bytes = file.readAll();
    QCOMPARE(Db(m_db).scalar(
                 QStringLiteral("SELECT total_bytes FROM attachment WHERE ROWID = %1").arg(attachment)),
             bytes.size());

    if (path.endsWith(QLatin1StringView(".HEIC"))) {
        const QImage decoded = testimages::decodeHeic(bytes);
        QCOMPARE(decoded.size(), stored);
        QVERIFY(testimages::looksUpright(decoded));
        return;
    }
    QImageReader raw(path);
    raw.setAutoTransform(false);
    QCOMPARE(raw.transformation(), transformation);
    const QImage asStored = raw.read();
    QCOMPARE(asStored.size(), stored);

    QImageReader oriented(path);
    oriented.setAutoTransform(true);
    const QImage shown = oriented.read();
    QCOMPARE(shown.size(), m_facts.pictureSize);
    QVERIFY(testimages::looksUpright(shown));
    // The stored pixels of a turned picture must not already be upright, or the test proves nothing.
    QCOMPARE(testimages::looksUpright(asStored), transformation == QImageIOHandler::TransformationNone);
}

void TestFixtureBuilder::standardOtherFiles()
{
    auto read = [&](qint64 attachment) {
        QFile file(m_root + u'/' + m_facts.files.value(attachment));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QVERIFY(read(m_facts.pdf).startsWith("%PDF-1.4"));
    QVERIFY(read(m_facts.pdf).contains("Tenant: Ann Lee"));
    QVERIFY(read(m_facts.vcard).startsWith("BEGIN:VCARD"));
    // The recorded filename maps under the root by what follows "/Attachments/".
    const Db db(m_db);
    for (const qint64 id : {m_facts.missingFileAttachment, m_facts.sparseAttachment}) {
        const QString filename =
            db.rows(QStringLiteral("SELECT filename FROM attachment WHERE ROWID = %1").arg(id)).value(0);
        QVERIFY(filename.startsWith(QLatin1StringView("~/Library/Messages/Attachments/")));
        QVERIFY(!QFile::exists(m_root + u'/' + filename.mid(31)));
    }
    for (auto it = m_facts.files.cbegin(); it != m_facts.files.cend(); ++it) {
        const QString filename =
            db.rows(QStringLiteral("SELECT filename FROM attachment WHERE ROWID = %1").arg(it.key()))
                .value(0);
        QCOMPARE(filename.mid(31), it.value());
        QVERIFY(QFile::exists(m_root + u'/' + it.value()));
    }
    QCOMPARE(m_facts.files.size(), 6);
}

void TestFixtureBuilder::bodyEncoderKeepsEveryBody()
{
    const QString encodedDb = m_dir.filePath(QStringLiteral("encoded.db"));
    const FixtureFacts facts = writeStandardFixture(encodedDb, QString(), fakeEncoder);
    QCOMPARE(facts.messages, m_facts.messages);

    // Row for row, the words are the same: from the blob where there is one, else from text.
    const QStringList plain = Db(m_db).rows(QStringLiteral("SELECT ROWID, text FROM message ORDER BY ROWID"));
    const QStringList encoded =
        Db(encodedDb).rows(QStringLiteral("SELECT ROWID, CASE WHEN attributedBody IS NULL THEN text ELSE "
                                          "substr(CAST(attributedBody AS TEXT), 6) END "
                                          "FROM message ORDER BY ROWID"));
    QCOMPARE(encoded, plain);

    const Db db(encodedDb);
    const qint64 blobOnly =
        db.scalar(QStringLiteral("SELECT count(*) FROM message WHERE attributedBody IS NOT NULL "
                                 "AND (text IS NULL OR text = '')"));
    const qint64 both = db.scalar(
        QStringLiteral("SELECT count(*) FROM message WHERE attributedBody IS NOT NULL AND text != ''"));
    QVERIFY2(blobOnly > 3 * both && both > 0,
             qPrintable(QStringLiteral("%1 blob only, %2 both").arg(blobOnly).arg(both)));
    QVERIFY(db.scalar(QStringLiteral(
                "SELECT count(*) FROM message WHERE attributedBody IS NOT NULL AND text IS NULL")) > 0);
    QVERIFY(db.scalar(QStringLiteral(
                "SELECT count(*) FROM message WHERE attributedBody IS NOT NULL AND text = ''")) > 0);
}

void TestFixtureBuilder::ios13Schema()
{
    const QString path = m_dir.filePath(QStringLiteral("sms.db"));
    const FixtureFacts facts = writeStandardFixture(path, QString(), {}, Schema::Ios13);
    const Db db(path);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM pragma_table_info('message') WHERE name IN "
                                      "('date_edited', 'date_retracted')")),
             0);
    QCOMPARE(facts.messages, m_facts.messages);
    QCOMPARE(facts.chats, m_facts.chats);
    QCOMPARE(facts.editedMessage, 0);
    QCOMPARE(facts.unsentMessage, 0);
    QCOMPARE(db.scalar(QStringLiteral(
                 "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND name NOT LIKE 'sqlite_%'")),
             qint64(schemaSql(Schema::Ios13).count(QLatin1StringView("CREATE INDEX"))));
}

void TestFixtureBuilder::scaleIsDeterministic()
{
    const QString a = m_dir.filePath(QStringLiteral("scale-a.db")),
                  b = m_dir.filePath(QStringLiteral("scale-b.db")),
                  c = m_dir.filePath(QStringLiteral("scale-c.db"));
    writeScaleFixture(a, 20'000, 7);
    writeScaleFixture(b, 20'000, 7);
    writeScaleFixture(c, 20'000, 8);
    QCOMPARE(Db(a).contentHash(), Db(b).contentHash());
    QVERIFY(Db(a).contentHash() != Db(c).contentHash());
    QCOMPARE(Db(c).scalar(QStringLiteral("SELECT count(*) FROM message")), 20'000);
}

void TestFixtureBuilder::scaleDistribution()
{
    const QString path = m_dir.filePath(QStringLiteral("scale.db"));
    const qint64 n = 150'000;
    writeScaleFixture(path, n, 42, fakeEncoder);
    QVERIFY(isRollbackFile(path));
    QVERIFY(noSideFiles(path));
    const Db db(path);
    auto share = [&](const QString& where) {
        return double(db.scalar(QStringLiteral("SELECT count(*) FROM message WHERE ") + where)) / double(n);
    };
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM message")), n);
    const qint64 chats = db.scalar(QStringLiteral("SELECT count(*) FROM chat"));
    QVERIFY(chats >= 24 && chats <= 300);
    QVERIFY(db.scalar(QStringLiteral("SELECT count(*) FROM chat WHERE style = 43")) >= 3);
    const double largest =
        double(db.scalar(QStringLiteral(
            "SELECT max(c) FROM (SELECT count(*) c FROM chat_message_join GROUP BY chat_id)"))) /
        double(n);
    QVERIFY2(largest >= 0.10 && largest <= 0.2, qPrintable(QString::number(largest)));
    const double tapbacks = share(QStringLiteral("associated_message_type BETWEEN 2000 AND 3006"));
    QVERIFY2(tapbacks > 0.04 && tapbacks < 0.06, qPrintable(QString::number(tapbacks)));
    const double attachments = share(QStringLiteral("cache_has_attachments = 1"));
    QVERIFY2(attachments > 0.025 && attachments < 0.035, qPrintable(QString::number(attachments)));
    QVERIFY(db.scalar(QStringLiteral("SELECT count(*) FROM attachment")) >=
            db.scalar(QStringLiteral("SELECT count(*) FROM message WHERE cache_has_attachments = 1")));
    QVERIFY(db.scalar(QStringLiteral("SELECT count(*) FROM message WHERE date_edited != 0")) > 10);
    QVERIFY(db.scalar(QStringLiteral("SELECT count(*) FROM message WHERE date_retracted != 0")) > 5);
    QVERIFY(db.scalar(QStringLiteral("SELECT count(*) FROM message WHERE item_type != 0")) > 10);
    // Nanoseconds over years: 2020-12 to 2026-11, in ROWID order.
    const QStringList span = db.rows(QStringLiteral("SELECT min(date), max(date) FROM message"));
    const QStringList bounds = span.value(0).split(u'|');
    const qint64 low = appleNanos(QDateTime(QDate(2020, 12, 1), QTime(), QTimeZone::utc()));
    const qint64 high = appleNanos(QDateTime(QDate(2026, 12, 1), QTime(), QTimeZone::utc()));
    QVERIFY(bounds.value(0).toLongLong() >= low && bounds.value(1).toLongLong() <= high);
    QVERIFY(bounds.value(1).toLongLong() - bounds.value(0).toLongLong() > 5LL * 365 * 86400 * nanosPerSecond);
    QCOMPARE(
        db.scalar(QStringLiteral("SELECT count(*) FROM message a JOIN message b ON b.ROWID = a.ROWID + 1 "
                                 "WHERE b.date < a.date")),
        0);
    // Every tapback points at a message of the same chat.
    QCOMPARE(db.scalar(QStringLiteral(
                 "SELECT count(*) FROM message t JOIN chat_message_join tj ON tj.message_id = t.ROWID "
                 "WHERE t.associated_message_type BETWEEN 2000 AND 3006 AND NOT EXISTS ("
                 "SELECT 1 FROM message m JOIN chat_message_join mj ON mj.message_id = m.ROWID "
                 "WHERE mj.chat_id = tj.chat_id AND m.guid = substr(t.associated_message_guid, "
                 "CASE WHEN t.associated_message_guid LIKE 'p:%' THEN 5 ELSE 4 END))")),
             0);
    // With an encoder most bodies are only in the blob.
    QVERIFY(share(QStringLiteral("attributedBody IS NOT NULL AND (text IS NULL OR text = '')")) > 0.6);
}

void TestFixtureBuilder::demoLibrary()
{
    const QString home = m_dir.filePath(QStringLiteral("demo-home"));
    writeDemoLibrary(home);
    const QString db = home + QStringLiteral("/Library/Messages/chat.db");
    QVERIFY(isRollbackFile(db));
    QVERIFY(noSideFiles(db));
    const Db demo(db);
    QCOMPARE(demo.rows(QStringLiteral("PRAGMA journal_mode")), QStringList{QStringLiteral("delete")});
    const qint64 messages = demo.scalar(QStringLiteral("SELECT count(*) FROM message"));
    QVERIFY2(messages >= 300 && messages <= 800, qPrintable(QString::number(messages)));
    // A long conversation spanning many days.
    const QStringList longest = demo.rows(QStringLiteral(
        "SELECT count(*), (max(m.date) - min(m.date)) / 86400000000000 FROM chat_message_join j "
        "JOIN message m ON m.ROWID = j.message_id GROUP BY j.chat_id ORDER BY 1 DESC LIMIT 1"));
    const QStringList counts = longest.value(0).split(u'|');
    QVERIFY2(counts.value(0).toInt() >= 200 && counts.value(1).toInt() >= 30, qPrintable(longest.value(0)));
    QCOMPARE(demo.scalar(QStringLiteral("SELECT count(*) FROM chat WHERE style = 43")), 2);
    QVERIFY(demo.scalar(QStringLiteral(
                "SELECT count(*) FROM message WHERE associated_message_type BETWEEN 2000 AND 2005")) >= 10);
    QCOMPARE(demo.scalar(QStringLiteral("SELECT count(*) FROM message WHERE date_edited != 0")), 1);
    QCOMPARE(demo.scalar(QStringLiteral("SELECT count(*) FROM message WHERE date_retracted != 0")), 1);
    QVERIFY(demo.scalar(QStringLiteral("SELECT count(*) FROM message WHERE item_type != 0")) >= 3);
    const qint64 lastDay = demo.scalar(QStringLiteral("SELECT max(date) / 1000000000 FROM message"));
    QCOMPARE(QDateTime::fromSecsSinceEpoch(lastDay + appleEpochOffset, QTimeZone::utc()).date(),
             QDate(2026, 11, 30));

    // Every picture is where its filename says, under Library/Messages/Attachments; all formats.
    QSet<QString> utis;
    QSet<int> orientations;
    for (const QString& row : demo.rows(QStringLiteral("SELECT filename, uti FROM attachment"))) {
        const QStringList parts = row.split(u'|');
        const QString file = home + parts.value(0).mid(1);
        QVERIFY2(QFile::exists(file), qPrintable(file));
        utis.insert(parts.value(1));
        if (parts.value(1) == u"public.jpeg")
            orientations.insert(int(QImageReader(file).transformation()));
    }
    QCOMPARE(utis, (QSet<QString>{QStringLiteral("public.jpeg"), QStringLiteral("public.png"),
                                  QStringLiteral("public.heic")}));
    QVERIFY(orientations.contains(QImageIOHandler::TransformationRotate90));
    QVERIFY(orientations.contains(QImageIOHandler::TransformationRotate270));

    // Deterministic: a second build has the same rows.
    const QString again = m_dir.filePath(QStringLiteral("demo-again"));
    writeDemoLibrary(again);
    QCOMPARE(Db(again + QStringLiteral("/Library/Messages/chat.db")).contentHash(), demo.contentHash());
}

void TestFixtureBuilder::tool_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stderrHas");
    const QString existing = QStringLiteral("@existing");
    QTest::newRow("no arguments") << QStringList{} << 1 << QStringLiteral("usage");
    QTest::newRow("unknown command") << QStringList{QStringLiteral("bogus"), QStringLiteral("x.db")} << 1
                                     << QStringLiteral("unknown command");
    QTest::newRow("scale without count")
        << QStringList{QStringLiteral("scale"), QStringLiteral("@new")} << 1 << QStringLiteral("--messages");
    QTest::newRow("scale zero") << QStringList{QStringLiteral("scale"), QStringLiteral("@new"),
                                               QStringLiteral("--messages"), QStringLiteral("0")}
                                << 1 << QStringLiteral("1 to 2000000");
    QTest::newRow("scale too many") << QStringList{QStringLiteral("scale"), QStringLiteral("@new"),
                                                   QStringLiteral("--messages"), QStringLiteral("2000001")}
                                    << 1 << QStringLiteral("1 to 2000000");
    QTest::newRow("scale not a number") << QStringList{QStringLiteral("scale"), QStringLiteral("@new"),
                                                       QStringLiteral("--messages"), QStringLiteral("lots")}
                                        << 1 << QStringLiteral("1 to 2000000");
    QTest::newRow("bad seed") << QStringList{QStringLiteral("scale"),      QStringLiteral("@new"),
                                             QStringLiteral("--messages"), QStringLiteral("10"),
                                             QStringLiteral("--seed"),     QStringLiteral("-3")}
                              << 1 << QStringLiteral("--seed");
    QTest::newRow("option of another command")
        << QStringList{QStringLiteral("demo"), QStringLiteral("@new"), QStringLiteral("--messages"),
                       QStringLiteral("5")}
        << 1 << QStringLiteral("unknown option");
    QTest::newRow("existing database")
        << QStringList{QStringLiteral("scale"), existing, QStringLiteral("--messages"), QStringLiteral("10")}
        << 1 << QStringLiteral("--force");
    QTest::newRow("forced") << QStringList{QStringLiteral("scale"), existing, QStringLiteral("--messages"),
                                           QStringLiteral("10"), QStringLiteral("--force")}
                            << 0 << QString();
    QTest::newRow("scale") << QStringList{QStringLiteral("scale"),      QStringLiteral("@new"),
                                          QStringLiteral("--messages"), QStringLiteral("25"),
                                          QStringLiteral("--seed"),     QStringLiteral("3")}
                           << 0 << QString();
}

void TestFixtureBuilder::tool()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stderrHas);
    const QString existing = m_dir.filePath(QStringLiteral("tool-existing.db"));
    writeScaleFixture(existing, 5, 1);
    const QString fresh =
        m_dir.filePath(QStringLiteral("tool-%1.db").arg(QTest::currentDataTag()).replace(u' ', u'-'));
    for (QString& arg : arguments)
        arg.replace(QLatin1StringView("@existing"), existing).replace(QLatin1StringView("@new"), fresh);

    QProcess tool;
    tool.start(QStringLiteral(TROVANE_FIXTURE_TOOL), arguments);
    QVERIFY(tool.waitForFinished(60'000));
    const QString err = QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitCode(), exitCode);
    if (exitCode != 0) {
        QVERIFY2(err.contains(stderrHas), qPrintable(err));
        QCOMPARE(err.count(u'\n'), 1);
        QVERIFY(!QFile::exists(fresh));
    } else {
        QVERIFY2(err.isEmpty(), qPrintable(err));
        const QString written = arguments.value(1);
        QCOMPARE(Db(written).scalar(QStringLiteral("SELECT count(*) FROM message")),
                 arguments.value(3).toLongLong());
    }
}

QTEST_GUILESS_MAIN(TestFixtureBuilder)
#include "tst_fixturebuilder.moc"
