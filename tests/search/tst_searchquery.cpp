// Searching the index: the FTS5 query made of typed words, the filter model, the statement with its
// conditions and arguments in order, the end of the end date's day in the current time zone, and
// searches against a built index, hostile queries included.

#include "search/searchindex.h"

#include "messages/appledate.h"
#include "testhelpers.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cmath>
#include <ctime>
#include <variant>

using namespace trovane;

namespace {

const char* const defaultZone = "America/New_York";

void setZone(const char* zone)
{
    qputenv("TZ", zone);
    tzset();
}

Instant utc(const char* iso)
{
    return Instant::fromDateTime(QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs));
}

// A wall-clock time in New York, whatever the process's zone.
Instant newYork(const char* iso)
{
    QDateTime local = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
    local.setTimeZone(QTimeZone("America/New_York"));
    return Instant::fromDateTime(local);
}

QString describe(const sql::Value& value)
{
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return QString::number(*i);
    if (const auto* s = std::get_if<QString>(&value))
        return u'\'' + *s + u'\'';
    return QStringLiteral("?");
}

QStringList describe(const std::vector<sql::Value>& values)
{
    QStringList out;
    for (const sql::Value& value : values)
        out.append(describe(value));
    return out;
}

// Stored dates as the date conditions compare them: whole seconds scaled to nanoseconds.
const QString dateNanos =
    QStringLiteral("(CASE WHEN meta.date <= 100000000000 THEN meta.date * 1000000000 ELSE meta.date END)");

QString rawText(Instant instant)
{
    return QString::number(AppleDate::rawNanos(instant));
}

QList<qint64> idsOf(const QList<SearchHit>& hits)
{
    QList<qint64> ids;
    for (const SearchHit& hit : hits)
        ids.append(hit.id);
    return ids;
}

const QString schema = QStringLiteral(R"(
    CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT);
    CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT, attributedBody BLOB, date INTEGER,
        is_from_me INTEGER DEFAULT 0, handle_id INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0,
        associated_message_type INTEGER DEFAULT 0);
    CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER);
    INSERT INTO handle VALUES (1, '+15551230001');
)");

} // namespace

class TestSearchQuery : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::optional<SearchIndex> m_index;

    QList<SearchHit> search(const MessageFilter& filter, int limit = 500)
    {
        return m_index->search(filter, limit);
    }

private slots:
    void initTestCase()
    {
        // id, text, local time in New York, from me, chat, attachments.
        struct Row
        {
            int id;
            const char* text;
            const char* when;
            int fromMe;
            int chat;
            int attachments;
        };
        const Row rows[] = {
            {1, "Meet me at the café on Main Street tomorrow", "2024-03-09T09:00:00", 0, 5, 0},
            {2, "The CAFE was closed", "2024-03-09T23:59:59.500", 1, 9, 0},
            {3, "cats and dogs", "2024-03-10T00:00:00", 0, 7, 0},
            {4, nullptr, "2024-03-09T08:00:00", 0, 5, 1},
            {5, "photo of the cafe", "2024-03-08T12:00:00", 0, 9, 1},
            {6, "not now", "2024-03-07T12:00:00", 0, 5, 0},
            {7, "NEAR the station", "2024-03-06T12:00:00", 0, 5, 0},
            {8,
             "one two three four five six seven eight nine ten eleven twelve needle thirteen fourteen "
             "fifteen sixteen seventeen eighteen nineteen twenty twentyone twentytwo twentythree",
             "2024-03-05T12:00:00", 0, 5, 0},
        };
        QString sql = schema;
        for (const Row& row : rows) {
            sql +=
                QStringLiteral(
                    "INSERT INTO message (ROWID, text, date, is_from_me, handle_id, cache_has_attachments) "
                    "VALUES (%1, %2, %3, %4, %5, %6);\nINSERT INTO chat_message_join VALUES (%7, %1);\n")
                    .arg(row.id)
                    .arg(row.text ? u'\'' + QString::fromUtf8(row.text) + u'\'' : QStringLiteral("NULL"))
                    .arg(rawText(newYork(row.when)))
                    .arg(row.fromMe)
                    .arg(row.fromMe ? 0 : 1)
                    .arg(row.attachments)
                    .arg(row.chat);
        }
        const QString source = m_dir.filePath(QStringLiteral("chat.db"));
        testsupport::writeDatabase(source, sql);
        m_index.emplace(m_dir.filePath(QStringLiteral("index.db")), source);
        m_index->build();
    }

    void init() { setZone(defaultZone); }

    // ---- the FTS5 query -----------------------------------------------------------------------

    void ftsQuery_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<std::optional<QString>>("expected");
        auto row = [](const char* name, const char* typed, std::optional<const char*> expected) {
            QTest::addRow("%s", name)
                << QString::fromUtf8(typed)
                << (expected ? std::optional(QString::fromUtf8(*expected)) : std::nullopt);
        };
        row("apostrophe and hyphen", "don't-stop", "don* t* stop*");
        row("curly apostrophe", "don’t", "don* t*");
        row("punctuation and numbers", "cafe, 2024!", "cafe* 2024*");
        row("operator words lower-cased", "cats NOT dogs OR AND", "cats* not* dogs* or* and*");
        row("other capitals kept", "NEAR Not ORE", "NEAR* Not* ORE*");
        row("quotes dropped", "\"exact phrase\"", "exact* phrase*");
        row("blanks, tabs and line breaks", " \ttab\nnew\r\nline ", "tab* new* line*");
        row("empty", "", std::nullopt);
        row("blanks and punctuation only", "  !?.,;:'\"-*()[]{}^~ ", std::nullopt);
        row("emoji only", "😀👍🏽👨‍👩‍👧🇫🇷", std::nullopt);
        row("emoji separate words", "hello😀world", "hello* world*");
        row("combining mark stays with its letter", "nai\u0308ve cafe\u0301", "nai\u0308ve* cafe\u0301*");
        row("other scripts", "日本語 Привет ١٢٣ ελληνικά", "日本語* Привет* ١٢٣* ελληνικά*");
        row("superscript number", "x²", "x²*");
        row("surrogate-pair letters", "𐐀𐐁 𝐀b", "𐐀𐐁* 𝐀b*");
        row("underscore separates", "snake_case", "snake* case*");
    }

    void ftsQuery()
    {
        QFETCH(QString, typed);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(SearchIndex::ftsQuery(typed), expected);
    }

    // Whatever is typed, the only characters of FTS5's query syntax that reach it are the "*" and
    // the blanks we add: every ASCII character outside letters and digits separates terms.
    void ftsQueryLetsNoSyntaxThrough()
    {
        QString ascii;
        for (char16_t c = 0; c < 128; ++c)
            ascii += QChar(c);
        const std::optional<QString> query = SearchIndex::ftsQuery(ascii);
        QVERIFY(query);
        QCOMPARE(*query,
                 QStringLiteral("0123456789* ABCDEFGHIJKLMNOPQRSTUVWXYZ* abcdefghijklmnopqrstuvwxyz*"));
    }

    // ---- the filter model ---------------------------------------------------------------------

    void senderScope()
    {
        QStringList texts;
        for (const SenderScope scope : SenderScope::allCases()) {
            texts.append(scope.text());
            QCOMPARE(SenderScope::fromText(scope.text()), std::optional(scope));
        }
        QCOMPARE(texts, (QStringList{"all", "me", "them"}));
        for (const char* other : {"", "Me", " me", "everyone"})
            QVERIFY(!SenderScope::fromText(QString::fromLatin1(other)));
    }

    void isEmpty_data()
    {
        QTest::addColumn<MessageFilter>("filter");
        QTest::addColumn<bool>("empty");
        QTest::addRow("default") << MessageFilter{} << true;
        QTest::addRow("blanks and tabs") << MessageFilter{" \t \t"} << true;
        QTest::addRow("a line break") << MessageFilter{"\n"} << false;
        QTest::addRow("a non-breaking space") << MessageFilter{"\u00a0"} << false;
        QTest::addRow("a word") << MessageFilter{" a "} << false;
        QTest::addRow("start date") << MessageFilter{{}, AppleDate::earliest} << false;
        QTest::addRow("end date") << MessageFilter{{}, {}, AppleDate::earliest} << false;
        QTest::addRow("sender them") << MessageFilter{{}, {}, {}, SenderScope::them} << false;
        QTest::addRow("attachments only") << MessageFilter{{}, {}, {}, SenderScope::all, true} << false;
        QTest::addRow("chats only") << MessageFilter{{},    {},
                                                     {},    SenderScope::all,
                                                     false, QList<std::int64_t>{5}}
                                    << true;
    }

    void isEmpty()
    {
        QFETCH(MessageFilter, filter);
        QFETCH(bool, empty);
        QCOMPARE(filter.isEmpty(), empty);
    }

    void hitValues()
    {
        const SearchHit a{
            1, 2, utc("2024-01-01T00:00:00Z"), true, QStringLiteral("x"), true, QStringLiteral("s")};
        QSet<SearchHit> set{a};
        for (auto change : std::initializer_list<std::function<void(SearchHit&)>>{
                 [](SearchHit& h) { h.chatID = 3; }, [](SearchHit& h) { h.date.reset(); },
                 [](SearchHit& h) { h.sender.reset(); }, [](SearchHit& h) { h.snippet.clear(); },
                 [](SearchHit& h) { h.isFromMe = false; }}) {
            SearchHit b = a;
            change(b);
            QVERIFY(b != a);
            QVERIFY(!set.contains(b));
        }
        QVERIFY(set.contains(SearchHit(a)));
    }

    // ---- the statement ------------------------------------------------------------------------

    void statementText()
    {
        QCOMPARE(
            QString::fromStdString(SearchIndex::statement(MessageFilter{}, 500).sql),
            QStringLiteral("SELECT meta.message_rowid AS id, meta.chat_id AS chat_id, meta.date AS date,\n"
                           "       meta.is_from_me AS fromme, meta.sender AS sender,\n"
                           "       meta.has_attachments AS hasatt, '' AS snip\n"
                           "FROM msg_meta meta\n"
                           "WHERE 1=1\n"
                           "ORDER BY meta.date DESC\n"
                           "LIMIT ?"));
        QCOMPARE(
            QString::fromStdString(SearchIndex::statement(MessageFilter{"cafe"}, 500).sql),
            QStringLiteral("SELECT meta.message_rowid AS id, meta.chat_id AS chat_id, meta.date AS date,\n"
                           "       meta.is_from_me AS fromme, meta.sender AS sender,\n"
                           "       meta.has_attachments AS hasatt,\n"
                           "       snippet(messages_fts, 0, '\u0002', '\u0003', '\u2026', 12) AS snip\n"
                           "FROM messages_fts\n"
                           "JOIN msg_meta meta ON meta.message_rowid = messages_fts.rowid\n"
                           "WHERE messages_fts MATCH ?\n"
                           "ORDER BY meta.date DESC\n"
                           "LIMIT ?"));
    }

    void conditions_data()
    {
        QTest::addColumn<MessageFilter>("filter");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QStringList>("arguments");
        const Instant start = newYork("2024-03-09T09:00:00");
        const Instant end = newYork("2024-03-09T15:00:00");
        const QString endOfDay = rawText(newYork("2024-03-10T00:00:00"));

        QTest::addRow("empty") << MessageFilter{} << "1=1" << QStringList{"500"};
        QTest::addRow("attachments only") << MessageFilter{{}, {}, {}, SenderScope::all, true}
                                          << "meta.has_attachments = 1" << QStringList{"500"};
        QTest::addRow("query, chats 5 and 9, them")
            << MessageFilter{"cafe", {}, {}, SenderScope::them, false, QList<std::int64_t>{5, 9}}
            << "messages_fts MATCH ? AND meta.chat_id IN (?,?) AND meta.is_from_me = 0"
            << QStringList{"'cafe*'", "5", "9", "500"};
        QTest::addRow("empty chat list")
            << MessageFilter{{}, {}, {}, SenderScope::all, false, QList<std::int64_t>{}} << "1=1"
            << QStringList{"500"};
        QTest::addRow("a line break only") << MessageFilter{"\n"} << "1=1" << QStringList{"500"};
        QTest::addRow("sender me") << MessageFilter{{}, {}, {}, SenderScope::me} << "meta.is_from_me = 1"
                                   << QStringList{"500"};
        QTest::addRow("everything") << MessageFilter{"a-b",           start, end,
                                                     SenderScope::me, true,  QList<std::int64_t>{3}}
                                    << "messages_fts MATCH ? AND meta.chat_id IN (?) AND " + dateNanos +
                                           " >= ? AND " + dateNanos +
                                           " < ? AND "
                                           "meta.is_from_me = 1 AND meta.has_attachments = 1"
                                    << QStringList{"'a* b*'", "3", rawText(start), endOfDay, "500"};
        QTest::addRow("end before start")
            << MessageFilter{{}, end, start} << dateNanos + " >= ? AND " + dateNanos + " < ?"
            << QStringList{rawText(end), endOfDay, "500"};
    }

    void conditions()
    {
        QFETCH(MessageFilter, filter);
        QFETCH(QString, where);
        QFETCH(QStringList, arguments);
        const SearchStatement statement = SearchIndex::statement(filter, 500);
        const QString sql = QString::fromStdString(statement.sql);
        const qsizetype at = sql.indexOf(QStringLiteral("\nWHERE "));
        QVERIFY(at > 0);
        QCOMPARE(sql.mid(at + 7), where + QStringLiteral("\nORDER BY meta.date DESC\nLIMIT ?"));
        QCOMPARE(sql.contains(QStringLiteral("snippet(")),
                 where.startsWith(QStringLiteral("messages_fts MATCH")));
        QCOMPARE(describe(statement.arguments), arguments);
    }

    // The end date counts to the start of the next calendar day in the current time zone.
    void endOfDay_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<Instant>("endDate");
        QTest::addColumn<Instant>("bound");
        QTest::addRow("New York") << QByteArray("America/New_York") << utc("2024-03-09T20:00:00Z")
                                  << utc("2024-03-10T05:00:00Z");
        QTest::addRow("late evening is still that day")
            << QByteArray("America/New_York") << utc("2024-03-10T04:59:59.999Z")
            << utc("2024-03-10T05:00:00Z");
        QTest::addRow("a 23-hour day")
            << QByteArray("America/New_York") << utc("2024-03-10T16:00:00Z") << utc("2024-03-11T04:00:00Z");
        QTest::addRow("a 25-hour day")
            << QByteArray("America/New_York") << utc("2024-11-03T16:00:00Z") << utc("2024-11-04T05:00:00Z");
        // Clocks went from 00:00 to 01:00 on 2018-11-04: that day starts at 01:00 (-02:00).
        QTest::addRow("next midnight skipped")
            << QByteArray("America/Sao_Paulo") << utc("2018-11-03T15:00:00Z") << utc("2018-11-04T03:00:00Z");
        QTest::addRow("Tokyo, past UTC midnight")
            << QByteArray("Asia/Tokyo") << utc("2024-03-09T15:30:00Z") << utc("2024-03-10T15:00:00Z");
        QTest::addRow("UTC") << QByteArray("UTC") << utc("2024-03-09T23:59:59.999Z")
                             << utc("2024-03-10T00:00:00Z");
        QTest::addRow("before 1970") << QByteArray("UTC") << Instant{-0.5} << Instant{0};
        QTest::addRow("not a number falls back")
            << QByteArray("UTC") << Instant{std::nan("")} << Instant{std::nan("")};
        QTest::addRow("beyond the calendar falls back")
            << QByteArray("UTC") << Instant{1e300} << Instant{1e300};
    }

    void endOfDay()
    {
        QFETCH(QByteArray, zone);
        QFETCH(Instant, endDate);
        QFETCH(Instant, bound);
        setZone(zone.constData());
        const SearchStatement statement = SearchIndex::statement(MessageFilter{{}, {}, endDate}, 500);
        QCOMPARE(describe(statement.arguments), (QStringList{rawText(bound), "500"}));
    }

    // ---- searching a built index --------------------------------------------------------------

    void words_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QList<qint64>>("ids");
        QTest::addColumn<QString>("error");
        const QList<qint64> all{3, 2, 1, 4, 5, 6, 7, 8};
        QTest::addRow("case and diacritics ignored") << "CAFÉ" << QList<qint64>{2, 1, 5} << QString();
        QTest::addRow("prefix") << "caf" << QList<qint64>{2, 1, 5} << QString();
        QTest::addRow("every term must match") << "café main" << QList<qint64>{1} << QString();
        QTest::addRow("term order does not matter") << "street meet" << QList<qint64>{1} << QString();
        QTest::addRow("no match") << "zebra" << QList<qint64>{} << QString();
        QTest::addRow("quotes") << "\"cafe\"" << QList<qint64>{2, 1, 5} << QString();
        QTest::addRow("lower-case not is a word") << "not" << QList<qint64>{6} << QString();
        QTest::addRow("NEAR is a word") << "NEAR" << QList<qint64>{7} << QString();
        // Upper-case AND, OR and NOT are searched as the words, not read as operators.
        QTest::addRow("NOT alone") << "NOT" << QList<qint64>{6} << QString();
        QTest::addRow("OR alone") << "OR" << QList<qint64>{} << QString();
        QTest::addRow("cats AND dogs") << "cats AND dogs" << QList<qint64>{3} << QString();
        QTest::addRow("cats NOT dogs") << "cats NOT dogs" << QList<qint64>{} << QString();
        // No terms: the search runs without words, as a filter-only search.
        QTest::addRow("punctuation only") << "?!… -- '\"" << all << QString();
        QTest::addRow("a line break") << "\n" << all << QString();
        QTest::addRow("10,000 letters") << QString(10000, u'a') << QList<qint64>{} << QString();
        QTest::addRow("5,000 terms") << QStringLiteral("q ").repeated(5000) << QList<qint64>{} << QString();
        QTest::addRow("5,000 matching terms")
            << QStringLiteral("cats dog ").repeated(2500) << QList<qint64>{3} << QString();
        QTest::addRow("10,000 punctuation") << QString(10000, u'"') << all << QString();
    }

    void words()
    {
        QFETCH(QString, query);
        QFETCH(QList<qint64>, ids);
        QFETCH(QString, error);
        try {
            const QList<SearchHit> hits = search(MessageFilter{query});
            QVERIFY2(error.isEmpty(), "the search did not fail");
            QCOMPARE(idsOf(hits), ids);
        } catch (const sql::Error& e) {
            QCOMPARE(e.description(), error);
        }
    }

    void wholeSecondDatesAreFilteredLikeNanoseconds()
    {
        // Older systems store whole seconds; a date range must treat them as the same instants.
        const Instant old = Instant{1451649600}; // 2016-01-01 12:00 UTC
        const QString source = m_dir.filePath(QStringLiteral("seconds.db"));
        testsupport::writeDatabase(
            source, schema + QStringLiteral("INSERT INTO message (ROWID, text, date) VALUES (1, 'seconds', "
                                            "%1), (2, 'nanoseconds', %2);"
                                            "INSERT INTO chat_message_join VALUES (1, 1), (1, 2);")
                                 .arg(static_cast<qint64>(old.unixSeconds - AppleDate::referenceUnixSeconds))
                                 .arg(rawText(newYork("2024-03-09T09:00:00"))));
        SearchIndex index(m_dir.filePath(QStringLiteral("seconds-index.db")), source);
        index.build();
        const auto range = [&](std::optional<Instant> start, std::optional<Instant> end) {
            return idsOf(index.search(MessageFilter{{}, start, end}, 500));
        };
        QCOMPARE(range(Instant{old.unixSeconds - 86400}, std::nullopt), (QList<qint64>{2, 1}));
        QCOMPARE(range(std::nullopt, Instant{old.unixSeconds}), QList<qint64>{1});
        QCOMPARE(range(Instant{old.unixSeconds + 1}, std::nullopt), QList<qint64>{2});
    }

    void hitsAndSnippets()
    {
        const QList<SearchHit> hits = search(MessageFilter{"main"});
        QCOMPARE(hits.size(), 1);
        QCOMPARE(
            hits[0],
            (SearchHit{1, 5, newYork("2024-03-09T09:00:00"), false, QStringLiteral("+15551230001"), false,
                       QStringLiteral("Meet me at the café on \u0002Main\u0003 Street tomorrow")}));
        // Cut on both sides to at most 12 tokens.
        const QList<SearchHit> cut = search(MessageFilter{"needle"});
        QCOMPARE(cut.size(), 1);
        QVERIFY2(cut[0].snippet.startsWith(u'…') && cut[0].snippet.endsWith(u'…'),
                 qPrintable(cut[0].snippet));
        QCOMPARE(cut[0].snippet.count(u'\u0002'), 1);
        QCOMPARE(cut[0].snippet.count(u'\u0003'), 1);
        QVERIFY(cut[0].snippet.contains(QStringLiteral("\u0002needle\u0003")));
        QCOMPARE(cut[0].snippet.split(u' ').size(), 12);
        // Me: sender absent.
        const QList<SearchHit> mine = search(MessageFilter{"closed"});
        QCOMPARE(mine.size(), 1);
        QVERIFY(mine[0].isFromMe);
        QVERIFY(!mine[0].sender);
    }

    void filters_data()
    {
        QTest::addColumn<MessageFilter>("filter");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QList<qint64>>("ids");
        const Instant start = newYork("2024-03-09T09:00:00");
        const Instant sameDay = newYork("2024-03-09T10:00:00");
        const Instant previousDay = newYork("2024-03-08T23:00:00");
        QTest::addRow("empty, newest first")
            << MessageFilter{} << 500 << QList<qint64>{3, 2, 1, 4, 5, 6, 7, 8};
        QTest::addRow("limit") << MessageFilter{} << 2 << QList<qint64>{3, 2};
        QTest::addRow("attachments only, text or not")
            << MessageFilter{{}, {}, {}, SenderScope::all, true} << 500 << QList<qint64>{4, 5};
        QTest::addRow("me") << MessageFilter{{}, {}, {}, SenderScope::me} << 500 << QList<qint64>{2};
        QTest::addRow("them with words")
            << MessageFilter{"cafe", {}, {}, SenderScope::them} << 500 << QList<qint64>{1, 5};
        QTest::addRow("chats 5 and 9, them, words")
            << MessageFilter{"cafe", {}, {}, SenderScope::them, false, QList<std::int64_t>{5, 9}} << 500
            << QList<qint64>{1, 5};
        QTest::addRow("chat 9 only") << MessageFilter{{},    {},
                                                      {},    SenderScope::all,
                                                      false, QList<std::int64_t>{9}}
                                     << 500 << QList<qint64>{2, 5};
        QTest::addRow("an empty chat list is every chat")
            << MessageFilter{"cafe", {}, {}, SenderScope::all, false, QList<std::int64_t>{}} << 500
            << QList<qint64>{2, 1, 5};
        // From the start instant on (not the start of its day) to the end of the end date's day.
        QTest::addRow("same day") << MessageFilter{{}, start, sameDay} << 500 << QList<qint64>{2, 1};
        QTest::addRow("same day with words")
            << MessageFilter{"cafe", start, sameDay} << 500 << QList<qint64>{2, 1};
        // The end date counts to the end of its day, so an end earlier on the start's day still
        // includes the rest of that day.
        QTest::addRow("end earlier on the start's day")
            << MessageFilter{{}, sameDay, start} << 500 << QList<qint64>{2};
        QTest::addRow("end on the day before the start")
            << MessageFilter{{}, start, previousDay} << 500 << QList<qint64>{};
        QTest::addRow("end on the day before the start, with words")
            << MessageFilter{"cafe", start, previousDay} << 500 << QList<qint64>{};
    }

    void filters()
    {
        QFETCH(MessageFilter, filter);
        QFETCH(int, limit);
        QFETCH(QList<qint64>, ids);
        const QList<SearchHit> hits = search(filter, limit);
        QCOMPARE(idsOf(hits), ids);
        if (!SearchIndex::ftsQuery(filter.query)) {
            for (const SearchHit& hit : hits)
                QCOMPARE(hit.snippet, QString());
        }
    }

    void missingIndex()
    {
        const SearchIndex index(m_dir.filePath(QStringLiteral("nothing/index.db")),
                                m_dir.filePath("chat.db"));
        QVERIFY(!index.isBuilt());
        try {
            index.search(MessageFilter{}, 500);
            QFAIL("the search did not fail");
        } catch (const sql::Error& e) {
            QCOMPARE(e.description(), QStringLiteral("unable to open database file"));
        }
        QVERIFY(!QDir(m_dir.filePath(QStringLiteral("nothing"))).exists());
    }
};

int main(int argc, char** argv)
{
    // Before anything reads the zone: every date in these tests is a wall-clock time somewhere.
    setZone(defaultZone);
    QCoreApplication app(argc, argv);
    TestSearchQuery test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_searchquery.moc"
