#include "archivewriter.h"
#include "messages/typedstream.h"
#include "testhelpers.h"

#include <QtCore/QByteArray>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QRandomGenerator>
#include <QtTest/QTest>

#include "platform/sqlite.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

using trovane::testsupport::MessagePart;

namespace {

std::optional<QByteArray> decode(const QByteArray& blob)
{
    const auto text = trovane::typedstream::rootStringUtf8(
        {reinterpret_cast<const std::uint8_t*>(blob.constData()), static_cast<std::size_t>(blob.size())});
    if (!text)
        return std::nullopt;
    return QByteArray(text->data(), static_cast<qsizetype>(text->size()));
}

QByteArray toQByteArray(const std::vector<std::uint8_t>& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QByteArray attributed(std::string_view utf8)
{
    return toQByteArray(trovane::testsupport::encodeAttributedString(utf8));
}

QByteArray attributed(const std::vector<MessagePart>& parts)
{
    return toQByteArray(trovane::testsupport::encodeAttributedString(parts));
}

QByteArray plain(std::string_view utf8)
{
    return toQByteArray(trovane::testsupport::encodePlainString(utf8));
}

QByteArray hex(const char* digits)
{
    return QByteArray::fromHex(QByteArray(digits).replace(' ', ""));
}

// Overwrites bytes in place; offsets follow the annotated dump of the "Test 3" body.
QByteArray patched(QByteArray blob, qsizetype offset, const QByteArray& bytes)
{
    blob.replace(offset, bytes.size(), bytes);
    return blob;
}

// A new shared string: 84, its length as an archive integer, the bytes.
QByteArray newShared(const QByteArray& text)
{
    QByteArray out = hex("84");
    const qsizetype n = text.size();
    if (n <= 127)
        out += static_cast<char>(n);
    else if (n <= 32767)
        out += hex("81") + static_cast<char>(n & 0xFF) + static_cast<char>(n >> 8);
    else
        out += hex("82") + static_cast<char>(n & 0xFF) + static_cast<char>((n >> 8) & 0xFF) +
               static_cast<char>((n >> 16) & 0xFF) + static_cast<char>(n >> 24);
    return out + text;
}

QByteArray repeated(const QByteArray& piece, int times)
{
    QByteArray out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

QString corpusDir()
{
    return trovane::testsupport::corpusDir().value_or(QString());
}

// The body of one message row, read without touching the file (immutable: no companions appear).
std::optional<QByteArray> attributedBodyOfRow(const QString& database, qint64 rowId)
{
    using namespace trovane;
    sql::Connection db(QStringLiteral("file:") + sql::uriPath(database) + QStringLiteral("?immutable=1"),
                       sql::OpenOptions{sql::Access::ReadOnly, true});
    auto statement = db.prepare("SELECT attributedBody FROM message WHERE ROWID = ?");
    statement.bind(1, std::int64_t{rowId});
    if (!statement.step())
        return std::nullopt;
    return statement.row().optBlob(0);
}

// Everything up to the "@" group that opens the first run's dictionary; the caller supplies the object that
// follows and the root's end byte. O5 is the next object number, S7 the next shared string.
QByteArray bodyUpToFirstDictionary()
{
    return attributed("Test 3").left(0x58);
}

// A new object of a new class "Node" (O5, class O6), later objects of that class refer to O6 (0x98).
const QByteArray kFirstNode = hex("84 84 84 04") + "Node" + hex("00 94");
const QByteArray kNextNode = hex("84 98");

} // namespace

class TestTypedStream : public QObject
{
    Q_OBJECT

private slots:
    void corpus_data();
    void corpus();
    void writerMatchesPlatform_data();
    void writerMatchesPlatform();
    void roundTrip_data();
    void roundTrip();
    void accepts_data();
    void accepts();
    void rejects_data();
    void rejects();
};

void TestTypedStream::corpus_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QString>("expected");

    QFile tsv(corpusDir() + "/typedstream/EXPECTED.tsv");
    if (!tsv.open(QIODevice::ReadOnly))
        QSKIP(qPrintable(trovane::testsupport::corpusMissingReason()));
    while (!tsv.atEnd()) {
        const QByteArray line = tsv.readLine().chopped(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        QVERIFY2(fields.size() >= 2, line.constData());
        const bool fails = fields[1] == "FAIL";
        QString expected;
        if (!fails) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson("[" + fields[1] + "]", &error);
            QVERIFY2(error.error == QJsonParseError::NoError && doc.array().size() == 1, line.constData());
            expected = doc.array().at(0).toString();
        }
        QTest::addRow("%s", fields[0].constData()) << QString::fromUtf8(fields[0]) << fails << expected;
    }
}

void TestTypedStream::corpus()
{
    QFETCH(QString, path);
    QFETCH(bool, fails);
    QFETCH(QString, expected);

    QByteArray blob;
    if (const qsizetype hash = path.indexOf(QLatin1String("#message.ROWID=")); hash >= 0) {
        const auto body =
            attributedBodyOfRow(corpusDir() + '/' + path.left(hash), path.mid(hash + 15).toLongLong());
        QVERIFY2(body, "row not found");
        blob = *body;
    } else {
        QFile file(corpusDir() + '/' + path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
        blob = file.readAll();
    }

    const auto text = decode(blob);
    if (fails) {
        QVERIFY2(!text, text ? text->constData() : "");
        return;
    }
    QVERIFY(text);
    QCOMPARE(*text, expected.toUtf8());
}

// The writer must produce the platform's exact bytes, or fixtures built with it prove nothing.
void TestTypedStream::writerMatchesPlatform_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("written");

    QTest::addRow("attributed body") << "typedstream/crabstep/AttributedBodyTextOnly2"
                                     << attributed("Test 3");
    QTest::addRow("plain string root") << "typedstream/crabstep/foundation/NSString" << plain("Hello, world");
}

void TestTypedStream::writerMatchesPlatform()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, written);

    QFile platform(corpusDir() + '/' + file);
    if (!platform.open(QIODevice::ReadOnly))
        QSKIP(qPrintable(trovane::testsupport::corpusMissingReason()));
    QCOMPARE(written.toHex(' '), platform.readAll().toHex(' '));
}

void TestTypedStream::roundTrip_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<QByteArray>("expected");

    const std::string fffc = "\xEF\xBF\xBC";
    const std::string emoji = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBB"; // two units each
    const std::string guid = "at_0_2E5F12C3-E649-48AA-954D-3EA67C016BCC";

    QTest::addRow("ascii") << attributed("Hello") << QByteArray("Hello");
    QTest::addRow("two-byte and three-byte") << attributed("Caf\xC3\xA9 \xE2\x80\x9Cok\xE2\x80\x9D")
                                             << QByteArray("Caf\xC3\xA9 \xE2\x80\x9Cok\xE2\x80\x9D");
    QTest::addRow("emoji outside the BMP")
        << attributed(emoji + " yes") << QByteArray((emoji + " yes").c_str());
    QTest::addRow("empty string, no runs") << attributed("") << QByteArray("");
    QTest::addRow("attachment only") << attributed({{{}, guid}}) << QByteArray(fffc.c_str());
    QTest::addRow("text, attachment, text") << attributed({{"Look ", {}}, {{}, guid}, {emoji + " nice", {}}})
                                            << QByteArray(("Look " + fffc + emoji + " nice").c_str());
    QTest::addRow("two attachments") << attributed({{{}, guid}, {{}, "at_1_X"}})
                                     << QByteArray((fffc + fffc).c_str());
    QTest::addRow("plain string root") << plain("Hello, world") << QByteArray("Hello, world");
    QTest::addRow("plain empty string") << plain("") << QByteArray("");

    // Lengths past 127 need the 16-bit form, past 32767 the 32-bit form (both for bytes and UTF-16 runs).
    const std::string medium(300, 'x');
    std::string large;
    while (large.size() < 70000)
        large += "abc \xF0\x9F\x98\x80 ";
    QTest::addRow("16-bit lengths") << attributed(medium) << QByteArray(medium.c_str());
    QTest::addRow("32-bit lengths") << attributed(large) << QByteArray(large.c_str());
    QTest::addRow("16-bit plain") << plain(medium) << QByteArray(medium.c_str());
    QTest::addRow("32-bit plain") << plain(large) << QByteArray(large.c_str());
    QCOMPARE(plain(medium).at(0x30), '\x81'); // the rows above really use the wide forms
    QCOMPARE(plain(large).at(0x30), '\x82');

    // Enough objects for the tables to spill past their inline storage and for references to need the
    // 16-bit form: the bidi NSNumber is first written after some 300 objects and then referred to.
    std::vector<MessagePart> many;
    std::string manyText;
    for (int i = 0; i < 60; ++i) {
        many.push_back({{}, "at_" + std::to_string(i)});
        manyText += fffc;
    }
    many.push_back({"first", {}});
    many.push_back({"second", {}});
    manyText += "firstsecond";
    const QByteArray manyBody = attributed(many);
    QVERIFY(manyBody.contains(hex("92 81"))); // "@" followed by a 16-bit object reference
    QTest::addRow("wide references") << manyBody << QByteArray(manyText.c_str());
}

void TestTypedStream::roundTrip()
{
    QFETCH(QByteArray, blob);
    QFETCH(QByteArray, expected);

    const auto text = decode(blob);
    QVERIFY(text);
    QCOMPARE(*text, expected);
}

// Legal shapes that the writer does not produce.
void TestTypedStream::accepts_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray body = attributed("Test 3");

    // Big-endian: only the signature and the multi-byte numbers change.
    QTest::addRow("big-endian body") << patched(patched(body, 1, "\x0Btypedstream"), 0x0D, hex("81 03 E8"))
                                     << QByteArray("Test 3");
    const QByteArray longPlain = plain(std::string(300, 'y'));
    QByteArray bigEndianPlain = patched(patched(longPlain, 1, "\x0Btypedstream"), 0x0D, hex("81 03 E8"));
    QTest::addRow("big-endian 16-bit length")
        << patched(bigEndianPlain, 0x30, hex("81 01 2C")) << QByteArray(300, 'y');

    // Runs: the second reuses dictionary 1, so no "@" group follows it (S5 "iI" is 0x97).
    QTest::addRow("reused dictionary")
        << patched(body, 0x56, "\x04").left(0xEA) + hex("97 01 02 86") << QByteArray("Test 3");
    // A run whose new dictionary is nil.
    QTest::addRow("nil dictionary") << body.left(0x58) + hex("85 86") << QByteArray("Test 3");
    // The 8-byte integer form, seen for a 64-bit NSNumber value, here as a run length.
    QTest::addRow("8-byte run length")
        << patched(body, 0x56, "\x87").insert(0x57, hex("06 00 00 00 00 00 00 00")) << QByteArray("Test 3");
    QTest::addRow("bytes after the root") << body + hex("00 11 22 86") << QByteArray("Test 3");

    // Unknown objects inside a dictionary are walked without knowing their class.
    QTest::addRow("nested unknown objects")
        << bodyUpToFirstDictionary() + kFirstNode + hex("92") + repeated(kNextNode + hex("92"), 8) +
               hex("85") + repeated(hex("86"), 9) + hex("86")
        << QByteArray("Test 3");
    // Structs, arrays, floats, raw bytes and C strings (S7 is the group's type encoding).
    QTest::addRow("scalar groups") << bodyUpToFirstDictionary() + kFirstNode + newShared("{p=dfc}[2i][3c]*") +
                                          hex("83 00 00 00 00 00 00 F8 3F") + hex("81 73 04") + hex("01") +
                                          hex("05 81 00 01") + "abc" + hex("84 84 01") + "x" + hex("86 86")
                                   << QByteArray("Test 3");
}

void TestTypedStream::accepts()
{
    QFETCH(QByteArray, blob);
    QFETCH(QByteArray, expected);

    const auto text = decode(blob);
    QVERIFY(text);
    QCOMPARE(*text, expected);
}

void TestTypedStream::rejects_data()
{
    QTest::addColumn<QByteArray>("blob");

    const QByteArray body = attributed("Test 3");
    const QByteArray withAttachment =
        attributed({{"Look \xF0\x9F\x98\x80 ", {}}, {{}, "at_0_2E5F12C3-E649-48AA-954D-3EA67C016BCC"}});
    const QByteArray plainBody = plain("Hello, world");

    // No proper prefix of a body is an archive.
    for (qsizetype n = 0; n < body.size(); ++n)
        QTest::addRow("prefix %lld of the text body", static_cast<long long>(n)) << body.left(n);
    for (qsizetype n = 0; n < withAttachment.size(); ++n)
        QTest::addRow("prefix %lld of the attachment body", static_cast<long long>(n))
            << withAttachment.left(n);
    for (qsizetype n = 0; n < plainBody.size(); ++n)
        QTest::addRow("prefix %lld of the plain string", static_cast<long long>(n)) << plainBody.left(n);

    // Foreign data.
    QTest::addRow("empty") << QByteArray();
    QTest::addRow("bplist00") << QByteArray(
        "bplist00\xD4\x01\x02\x03\x04\x05\x06\x07\x0AX$versionY$archiver");
    QTest::addRow("streamer version 5") << patched(body, 0, "\x05");
    QTest::addRow("unknown signature") << patched(body, 1, "\x0Bstreamtypex");
    QTest::addRow("signature length beyond blob") << hex("04 7F") + "streamtyped";
    QTest::addRow("header only") << body.left(0x10);
    QTest::addRow("first group is not an object") << patched(body, 0x12, "i");
    QTest::addRow("nil root") << body.left(0x13) + hex("85");
    QTest::addRow("nil root class") << body.left(0x14) + hex("85 86");
    QTest::addRow("nil class of a nested object") << bodyUpToFirstDictionary() + hex("84 85 86 86");
    QTest::addRow("little-endian length under a big-endian signature")
        << patched(plain(std::string(300, 'y')), 1, "\x0Btypedstream");
    QRandomGenerator random(20240601);
    for (int i = 0; i < 8; ++i) {
        QByteArray noise(64 + 64 * i, Qt::Uninitialized);
        for (char& c : noise)
            c = static_cast<char>(random.bounded(256));
        QTest::addRow("random bytes %d", i) << noise;
        QTest::addRow("random bytes after a header %d", i) << body.left(0x13) + noise;
    }

    // Lengths.
    QTest::addRow("string length beyond blob") << patched(body, 0x49, "\x7F");
    QTest::addRow("string length 32-bit beyond blob")
        << patched(body, 0x49, "\x82").insert(0x4A, hex("FF FF FF"));
    QTest::addRow("negative string length") << patched(body, 0x49, "\xFF");
    QTest::addRow("shared string length beyond blob") << patched(body, 0x11, "\x7F");
    QTest::addRow("raw byte array beyond blob")
        << bodyUpToFirstDictionary() + kFirstNode + newShared("[99c]") + "abc" + hex("86 86");

    // References.
    QTest::addRow("superclass entry missing") << patched(body, 0x45, "\xA0");
    QTest::addRow("shared string missing") << patched(body, 0x37, "\x9F");
    QTest::addRow("negative reference") << patched(body, 0x45, hex("81 00 80"));
    QTest::addRow("class reference lands on an object") << patched(body, 0x45, "\x92");
    QTest::addRow("object reference lands on a C string") << patched(body, 0xE2, "\x9D");
    QTest::addRow("object reference lands on a class") << patched(body, 0xE2, "\x94");
    QTest::addRow("C string reference lands on an object") << patched(body, 0xE5, "\x92");
    QTest::addRow("string object is a reference") << patched(body, 0x38, "\x92");
    QTest::addRow("new dictionary is a reference") << body.left(0x58) + hex("92 86"); // O0, then the end
    QTest::addRow("nil type encoding") << patched(body, 0x37, "\x85");

    // Class chains.
    QTest::addRow("class is its own superclass") << patched(body, 0x45, "\x96");
    QTest::addRow("chain loops to its first class") << patched(body, 0x36, "\x93");
    QTest::addRow("root is not a string") << patched(body, 0x17, "NSAttributedStrinG");
    QTest::addRow("inner object is not a string") << patched(body, 0x3C, "NSStrinG");
    QTest::addRow("inner object is an attributed string")
        << body.left(0x38) + hex("84 93") + body.mid(0x46); // class O1 (NSAttributedString)

    // Nesting and work.
    QTest::addRow("objects nested thousands deep") << bodyUpToFirstDictionary() + kFirstNode + hex("92") +
                                                          repeated(kNextNode + hex("92"), 5000) + hex("85") +
                                                          repeated(hex("86"), 5001) + hex("86");
    QTest::addRow("types nested thousands deep")
        << bodyUpToFirstDictionary() + kFirstNode +
               newShared(repeated("{a=", 20000) + "i" + repeated("}", 20000)) + hex("00") + hex("86 86");
    QTest::addRow("[999999999{}]") << bodyUpToFirstDictionary() + kFirstNode + newShared("[999999999{}]") +
                                          hex("86 86");
    QTest::addRow("[999999999[0c]]") << bodyUpToFirstDictionary() + kFirstNode +
                                            newShared("[999999999[0c]]") + hex("86 86");
    QTest::addRow("many zero-length arrays of a long type")
        << bodyUpToFirstDictionary() + kFirstNode + newShared("[0{" + repeated("x", 9995) + "}]") +
               repeated(hex("99"), 20000) + hex("86 86");
    QTest::addRow("array count overflows")
        << bodyUpToFirstDictionary() + kFirstNode + newShared("[99999999999999999999i]") + hex("00 86 86");
    QTest::addRow("unsupported type letter")
        << bodyUpToFirstDictionary() + kFirstNode + newShared("^") + hex("00 86 86");

    // Reserved tags where an integer is expected.
    QTest::addRow("80 as a class version") << patched(body, 0x29, "\x80");
    QTest::addRow("88 as a class version") << patched(body, 0x35, "\x88");
    QTest::addRow("91 as a run length") << patched(body, 0x56, "\x91");
    QTest::addRow("83 as a run length") << patched(body, 0x56, "\x83");
    QTest::addRow("86 as a dictionary number") << patched(body, 0x55, "\x86");
    QTest::addRow("84 as a count") << patched(body, 0x6D, "\x84");

    // The string.
    QTest::addRow("invalid byte") << attributed("Te\xFFt 3");
    QTest::addRow("stray continuation") << attributed("Te\x80t 3");
    QTest::addRow("overlong slash") << attributed("a\xC0\xAF");
    QTest::addRow("overlong three-byte") << attributed("a\xE0\x80\xAF");
    QTest::addRow("surrogate") << attributed("a\xED\xA0\x80");
    QTest::addRow("above U+10FFFF") << attributed("a\xF4\x90\x80\x80");
    QTest::addRow("sequence cut at the end") << attributed("a\xE2\x82");
    QTest::addRow("invalid UTF-8 in a plain root") << plain("Te\xFFt");
    QTest::addRow("plain root with a second group") << plainBody.left(0x3D) + hex("95 01 41 86");

    // Attribute runs.
    QTest::addRow("runs short of the string") << patched(body, 0x56, "\x05");
    QTest::addRow("runs beyond the string") << patched(body, 0x56, "\x07");
    QTest::addRow("no runs") << body.left(0x51) + hex("86");
    QTest::addRow("run length -1") << patched(body, 0x56, "\xFF");
    QTest::addRow("dictionary number 0") << body.left(0x55) + hex("00 06 86");
    QTest::addRow("dictionary number skips one") << patched(body, 0x55, "\x02");
    QTest::addRow("run group is not iI") << patched(body, 0x53, "iq");
    QTest::addRow("extra run after coverage") << body.left(0xEA) + hex("97 01 00 86");
    QTest::addRow("run on an empty string") << attributed("").left(0x4B) + body.mid(0x51);
    QTest::addRow("runs not summing for emoji") << patched(attributed("\xF0\x9F\x98\x80"), 0x54, "\x01");
}

void TestTypedStream::rejects()
{
    QFETCH(QByteArray, blob);

    QElapsedTimer timer;
    timer.start();
    const auto text = decode(blob);
    QVERIFY2(!text, text ? text->toHex(' ').constData() : "");
    QVERIFY2(timer.elapsed() < 500, "hostile input took too long");
}

QTEST_APPLESS_MAIN(TestTypedStream)
#include "tst_typedstream.moc"
