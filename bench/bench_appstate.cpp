// The application state's overhead over the reader calls it wraps, on one case, in one run:
//   reopenMostRecent() until `conversations` is set   vs. MessageStore::fetchConversations()
//   selectConversation(largest) until `messages` set   vs. MessageStore::fetchMessages()
// Each is the median of several rounds in seconds; prints JSON.
//   trovane-bench-appstate DB

#include "benchtiming.h"

#include "core/appstate.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace trovane;

namespace {

constexpr int rounds = 5;

// Runs the event loop until `signal` of `state` fires.
template <class Signal> void waitFor(AppState& state, Signal signal)
{
    QEventLoop loop;
    QObject::connect(&state, signal, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 1) {
        std::fputs("usage: trovane-bench-appstate DB\n", stderr);
        return 2;
    }
    try {
        // A case library holding one case whose copy is the given database (linked, not copied)
        // and an index already in place, so that opening does not start a build.
        QTemporaryDir dir;
        const QString support = dir.filePath(QStringLiteral("support"));
        const ImportManager manager({[support] { return support; }, [&dir] { return dir.path(); }});
        ImportRecord record;
        record.id = QUuid::createUuid();
        record.sourcePath = QFileInfo(args[0]).absoluteFilePath();
        record.importedAt = Instant::now();
        record.sha256 = QString(64, u'0');
        const QString folder = manager.caseFolder(record);
        QDir().mkpath(folder);
        QFile::link(record.sourcePath, folder + QStringLiteral("/chat.db"));
        QFile index(folder + QStringLiteral("/index.db"));
        index.open(QIODevice::WriteOnly);
        index.write("not consulted");
        index.close();
        QFile json(folder + QStringLiteral("/import.json"));
        json.open(QIODevice::WriteOnly);
        json.write(record.encoded());
        json.close();

        std::vector<double> open, bareList, select, bareLoad;
        qint64 largestID = 0;
        QList<std::int64_t> largestChats;
        qsizetype messageCount = 0;
        for (int i = 0; i < rounds; ++i) {
            AppState state(manager);
            open.push_back(bench::secondsOf([&] {
                state.reopenMostRecent();
                waitFor(state, &AppState::conversationsChanged);
            }));
            const auto largest = std::max_element(
                state.conversations().begin(), state.conversations().end(),
                [](const Conversation& a, const Conversation& b) { return a.messageCount < b.messageCount; });
            largestID = largest->id;
            largestChats = largest->chatIDs;
            select.push_back(bench::secondsOf([&] {
                state.selectConversation(largestID);
                waitFor(state, &AppState::messagesChanged);
            }));
            messageCount = state.messages().size();

            MessageStore store(folder + QStringLiteral("/chat.db"));
            bareList.push_back(bench::secondsOf([&] { store.fetchConversations(); }));
            bareLoad.push_back(bench::secondsOf([&] { store.fetchMessages(largestChats); }));
        }
        const QJsonObject result{
            {"benchmark", "appstate"},
            {"messagesOfLargest", messageCount},
            {"openUntilConversationsSeconds", bench::median(open)},
            {"fetchConversationsSeconds", bench::median(bareList)},
            {"openRatio", bench::median(open) / bench::median(bareList)},
            {"selectUntilMessagesSeconds", bench::median(select)},
            {"fetchMessagesSeconds", bench::median(bareLoad)},
            {"selectRatio", bench::median(select) / bench::median(bareLoad)},
        };
        std::fputs(QJsonDocument(result).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "trovane-bench-appstate: %s\n", e.what());
        return 1;
    }
}
