// Benchmarks of the search index against the sqlite3 shell doing the same work on the same file,
// measured in one run. Prints one JSON object; timings are medians of several rounds in seconds.
//
//   trovane-bench-search INDEX_DB          search() for 20 typical filters (limit 500) vs. the shell
//                                          running the same statement with its arguments inlined
//   trovane-bench-search build SOURCE_DB   build() vs. the shell filling the same two tables with one
//                                          INSERT … SELECT each from message.text (journal and sync off)
//
// The query words come from the index itself (its vocabulary by document frequency), so any index
// serves. The shell's times include starting the process; "shellStartupSeconds" says how much that is.

#include "benchtiming.h"

#include "search/searchindex.h"

#include "messages/appledate.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <variant>

using namespace trovane;

namespace {

constexpr int searchRounds = 7;
constexpr int buildRounds = 3;
constexpr int limit = 500;

// The shell reads the statements from a file and writes every row to /dev/null.
double timeShell(int rounds,
                 const QStringList& arguments,
                 const QString& statements,
                 const std::function<void()>& before = {})
{
    QTemporaryFile script;
    if (!script.open())
        throw std::runtime_error("cannot write a temporary script");
    script.write(statements.toUtf8());
    script.flush();
    return bench::medianSeconds(
        rounds,
        [&] {
            QProcess shell;
            shell.setStandardInputFile(script.fileName());
            shell.setStandardOutputFile(QProcess::nullDevice());
            shell.start(QStringLiteral("sqlite3"), arguments);
            if (!shell.waitForFinished(-1) || shell.exitStatus() != QProcess::NormalExit ||
                shell.exitCode() != 0)
                throw std::runtime_error("the sqlite3 shell failed: " +
                                         shell.readAllStandardError().toStdString());
        },
        before);
}

QString quoted(const QString& text)
{
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("''")) + u'\'';
}

// The statement with each "?" replaced by its argument, as SQL literals.
QString inlined(const SearchStatement& statement)
{
    const QString sql = QString::fromStdString(statement.sql);
    QString out;
    std::size_t next = 0;
    bool inString = false;
    for (const QChar c : sql) {
        if (c == u'\'')
            inString = !inString;
        if (c != u'?' || inString) {
            out += c;
            continue;
        }
        const sql::Value& value = statement.arguments.at(next++);
        if (const auto* i = std::get_if<std::int64_t>(&value))
            out += QString::number(*i);
        else if (const auto* s = std::get_if<QString>(&value))
            out += quoted(*s);
        else
            throw std::runtime_error("unexpected argument type");
    }
    return out + QStringLiteral(";\n");
}

struct Query
{
    QString name;
    MessageFilter filter;
};

// Words of the index by the number of messages holding them: letters only, at least 4 long.
QStringList vocabulary(const QString& indexPath)
{
    sql::Connection db(indexPath, sql::OpenOptions{sql::Access::ReadOnly});
    db.execute("CREATE VIRTUAL TABLE temp.vocab USING fts5vocab(main, messages_fts, row)");
    sql::Statement words =
        db.prepare("SELECT term FROM temp.vocab WHERE length(term) >= 4 AND term NOT GLOB '*[^a-z]*' "
                   "ORDER BY doc DESC LIMIT 2000");
    QStringList out;
    while (words.step())
        out.append(words.row().text(0));
    if (out.size() < 4)
        throw std::runtime_error("the index holds too few words to search for");
    return out;
}

QList<Query> typicalQueries(const QString& indexPath)
{
    const QStringList words = vocabulary(indexPath);
    const QString common = words.first();
    const QString middle = words[words.size() / 20];
    const QString rare = words[words.size() * 9 / 10];
    const QString prefix = common.left(2);

    sql::Connection db(indexPath, sql::OpenOptions{sql::Access::ReadOnly});
    sql::Statement range = db.prepare("SELECT MIN(date), MAX(date) FROM msg_meta WHERE date > 100000000000");
    range.step();
    const auto first = AppleDate::date(range.row().optInt64(0)).value_or(AppleDate::earliest);
    const auto last = AppleDate::date(range.row().optInt64(1)).value_or(AppleDate::earliest);
    const Instant middleDate{(first.unixSeconds + last.unixSeconds) / 2};
    const Instant monthLater{middleDate.unixSeconds + 30 * 86400.0};
    sql::Statement chats =
        db.prepare("SELECT chat_id FROM msg_meta GROUP BY chat_id ORDER BY COUNT(*) DESC LIMIT 2");
    QList<std::int64_t> largest;
    while (chats.step())
        largest.append(chats.row().int64(0));

    using S = SenderScope;
    return {
        {"one common term", {common}},
        {"one middling term", {middle}},
        {"one rare term", {rare}},
        {"two-letter prefix", {prefix}},
        {"two terms, common and middling", {common + u' ' + middle}},
        {"two terms, middling and rare", {middle + u' ' + rare}},
        {"common term, me", {common, {}, {}, S::me}},
        {"common term, them", {common, {}, {}, S::them}},
        {"middling term, from a date", {middle, middleDate}},
        {"common term, one month", {common, middleDate, monthLater}},
        {"common term, attachments", {common, {}, {}, S::all, true}},
        {"two terms, them, one month", {common + u' ' + middle, middleDate, monthLater, S::them}},
        {"common term, largest chats", {common, {}, {}, S::all, false, largest}},
        {"prefix, me, attachments", {prefix, {}, {}, S::me, true}},
        {"no words", {}},
        {"no words, me", {{}, {}, {}, S::me}},
        {"no words, attachments", {{}, {}, {}, S::all, true}},
        {"no words, one month", {{}, middleDate, monthLater}},
        {"no words, them, attachments", {{}, {}, {}, S::them, true}},
        {"no words, largest chats", {{}, {}, {}, S::all, false, largest}},
    };
}

QJsonObject searches(const QString& indexPath)
{
    const SearchIndex index(indexPath, QString());
    const double startup =
        timeShell(searchRounds, {QStringLiteral("-readonly"), indexPath}, QStringLiteral("SELECT 1;\n"));
    QJsonArray results;
    std::vector<double> ratios;
    for (const Query& query : typicalQueries(indexPath)) {
        qsizetype hits = 0;
        const double ours =
            bench::medianSeconds(searchRounds, [&] { hits = index.search(query.filter, limit).size(); });
        const double shell = timeShell(searchRounds, {QStringLiteral("-readonly"), indexPath},
                                       inlined(SearchIndex::statement(query.filter, limit)));
        ratios.push_back(ours / shell);
        results.append(QJsonObject{{"query", query.name},
                                   {"text", query.filter.query},
                                   {"hits", hits},
                                   {"seconds", ours},
                                   {"sqlite3ShellSeconds", shell},
                                   {"ratio", ours / shell}});
    }
    return QJsonObject{{"benchmark", "search"},  {"limit", limit},
                       {"rounds", searchRounds}, {"shellStartupSeconds", startup},
                       {"queries", results},     {"medianRatio", bench::median(ratios)}};
}

// The two tables filled by one INSERT … SELECT each, from message.text only (the shell cannot read
// archived bodies). INSERT OR IGNORE keeps the first row of a message in two chats.
QString shellBuildScript(const QString& sourcePath)
{
    const QString uri = sql::untouchedReadOnly(QFileInfo(sourcePath).absoluteFilePath()).uri;
    return QStringLiteral(R"(PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
PRAGMA temp_store = MEMORY;
ATTACH %1 AS src;
%2;
BEGIN;
INSERT OR IGNORE INTO msg_meta (message_rowid, chat_id, date, is_from_me, sender, has_attachments)
SELECT m.ROWID, cmj.chat_id, m.date, IFNULL(m.is_from_me, 0), h.id, IFNULL(m.cache_has_attachments, 0)
FROM src.message m
JOIN src.chat_message_join cmj ON cmj.message_id = m.ROWID
LEFT JOIN src.handle h ON h.ROWID = m.handle_id
WHERE IFNULL(m.associated_message_type, 0) < 2000
ORDER BY m.ROWID;
INSERT INTO messages_fts(rowid, body)
SELECT m.ROWID, m.text FROM src.message m JOIN msg_meta meta ON meta.message_rowid = m.ROWID
WHERE m.text IS NOT NULL AND m.text <> '';
COMMIT;
)")
        .arg(quoted(uri), SearchIndex::tableStatements().join(QStringLiteral(";\n")));
}

// `textSourcePath`: the same messages with every body in message.text, for the shell, which cannot
// read archived bodies; our build reads `sourcePath`, decoding them.
QJsonObject builds(const QString& sourcePath, const QString& textSourcePath)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        throw std::runtime_error("cannot make a temporary folder");
    const QString ourPath = dir.filePath(QStringLiteral("index.db"));
    const QString shellPath = dir.filePath(QStringLiteral("shell-index.db"));
    const SearchIndex index(ourPath, sourcePath);
    const double ours = bench::medianSeconds(buildRounds, [&] { index.build(); });
    const double shell = timeShell(buildRounds, {shellPath}, shellBuildScript(textSourcePath),
                                   [&] { QFile::remove(shellPath); });

    auto count = [](const QString& path, const char* sql) {
        sql::Connection db(path, sql::OpenOptions{sql::Access::ReadOnly});
        sql::Statement statement = db.prepare(sql);
        statement.step();
        return static_cast<qint64>(statement.row().int64(0));
    };
    return QJsonObject{{"benchmark", "build"},
                       {"rounds", buildRounds},
                       {"indexedMessages", count(ourPath, "SELECT COUNT(*) FROM msg_meta")},
                       {"bodies", count(ourPath, "SELECT COUNT(*) FROM messages_fts")},
                       {"shellIndexedMessages", count(shellPath, "SELECT COUNT(*) FROM msg_meta")},
                       {"shellBodies", count(shellPath, "SELECT COUNT(*) FROM messages_fts")},
                       {"indexBytes", QFileInfo(ourPath).size()},
                       {"seconds", ours},
                       {"sqlite3ShellSeconds", shell},
                       {"ratio", ours / shell}};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool build = (args.size() == 2 || args.size() == 3) && args[0] == u"build";
    if (!build && args.size() != 1) {
        std::fputs(
            "usage: trovane-bench-search INDEX_DB | trovane-bench-search build SOURCE_DB [TEXT_SOURCE_DB]\n",
            stderr);
        return 2;
    }
    try {
        const QJsonObject result = build ? builds(args[1], args.value(2, args[1])) : searches(args[0]);
        std::fputs(QJsonDocument(result).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "trovane-bench-search: %s\n", e.what());
        return 1;
    }
}
