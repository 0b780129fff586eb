// Benchmarks of the reader against the sqlite3 shell running the same statements on the same file,
// measured in one run. Prints one JSON object; timings are medians of several rounds in seconds.
//
//   trovane-bench-reader conversations DB   fetchConversations() vs. its two statements
//   trovane-bench-reader messages DB        fetchMessages() of the largest conversation vs. its two
//                                           statements; with the peak memory of the fetch

#include "benchtiming.h"

#include "messages/messagestore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace trovane;

namespace {

constexpr int rounds = 5;

// The shell reads the statements from a file and writes every row to /dev/null.
double timeShell(const QString& db, const QString& statements)
{
    QTemporaryFile script;
    script.open();
    script.write(statements.toUtf8());
    script.flush();
    return bench::medianSeconds(rounds, [&] {
        QProcess shell;
        shell.setStandardInputFile(script.fileName());
        shell.setStandardOutputFile(QProcess::nullDevice());
        shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), db});
        if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
            throw std::runtime_error("the sqlite3 shell failed");
    });
}

// Peak resident memory of this process so far, in KiB (VmHWM).
qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Resets the peak to the current size, so that the next reading is the peak of what follows.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QString messageStatements(const QList<std::int64_t>& chatIDs)
{
    QStringList ids;
    for (const std::int64_t id : chatIDs)
        ids.append(QString::number(id));
    const QString list = ids.join(u',');
    return QStringLiteral(
               R"(SELECT m.ROWID AS id, m.guid AS guid, m.text AS text, m.attributedBody AS attributed_body,
       m.date AS date, m.date_read AS date_read, m.date_edited AS date_edited, m.date_retracted AS date_retracted,
       m.is_from_me AS is_from_me, m.item_type AS item_type, m.cache_has_attachments AS has_attachments,
       m.associated_message_type AS assoc_type, m.associated_message_guid AS assoc_guid, h.id AS sender
FROM message m
JOIN chat_message_join cmj ON cmj.message_id = m.ROWID
LEFT JOIN handle h ON h.ROWID = m.handle_id
WHERE cmj.chat_id IN (%1)
ORDER BY m.date ASC, m.ROWID ASC;
SELECT maj.message_id AS mid, a.ROWID AS id, a.filename AS filename, a.mime_type AS mime_type, a.uti AS uti,
       a.transfer_name AS transfer_name, a.total_bytes AS total_bytes
FROM message_attachment_join maj
JOIN attachment a ON a.ROWID = maj.attachment_id
JOIN chat_message_join cmj ON cmj.message_id = maj.message_id
WHERE cmj.chat_id IN (%1);
)")
        .arg(list);
}

QJsonObject conversations(const QString& db)
{
    MessageStore store(db);
    qsizetype count = 0;
    const double ours = bench::medianSeconds(rounds, [&] { count = store.fetchConversations().size(); });
    const QString statements = QString::fromUtf8(MessageStore::participantsStatement()) +
                               QStringLiteral(";\n") + QString::fromUtf8(MessageStore::chatsStatement()) +
                               QStringLiteral(";\n");
    const double shell = timeShell(db, statements);
    return QJsonObject{{"benchmark", "fetchConversations"},
                       {"conversations", count},
                       {"seconds", ours},
                       {"sqlite3ShellSeconds", shell},
                       {"ratio", ours / shell}};
}

QJsonObject messages(const QString& db)
{
    MessageStore store(db);
    const auto list = store.fetchConversations();
    const auto largest =
        std::max_element(list.begin(), list.end(), [](const Conversation& a, const Conversation& b) {
            return a.messageCount < b.messageCount;
        });
    if (largest == list.end())
        throw std::runtime_error("the database has no conversations");

    const qint64 before = peakKiB();
    resetPeak();
    const qint64 baseline = peakKiB();
    qsizetype count = 0, withText = 0;
    const double ours = bench::medianSeconds(rounds, [&] {
        const QList<Message> loaded = store.fetchMessages(largest->chatIDs);
        count = loaded.size();
        withText =
            std::count_if(loaded.begin(), loaded.end(), [](const Message& m) { return m.text.has_value(); });
    });
    const qint64 peak = peakKiB();
    const double shell = timeShell(db, messageStatements(largest->chatIDs));
    return QJsonObject{{"benchmark", "fetchMessages"},
                       {"chatIDs", static_cast<qint64>(largest->chatIDs.size())},
                       {"rowsJoined", static_cast<qint64>(largest->messageCount)},
                       {"messages", count},
                       {"messagesWithText", withText},
                       {"seconds", ours},
                       {"sqlite3ShellSeconds", shell},
                       {"ratio", ours / shell},
                       {"peakKiBBefore", before},
                       {"peakKiBDuringFetch", peak},
                       {"peakGrowthKiB", peak - baseline}};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2 || (args[0] != u"conversations" && args[0] != u"messages")) {
        std::fputs("usage: trovane-bench-reader conversations|messages DB\n", stderr);
        return 2;
    }
    try {
        const QJsonObject result = args[0] == u"conversations" ? conversations(args[1]) : messages(args[1]);
        std::fputs(QJsonDocument(result).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "trovane-bench-reader: %s\n", e.what());
        return 1;
    }
}
