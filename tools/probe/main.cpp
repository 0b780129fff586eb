// trovane-probe: the libraries from the command line. Prints one JSON value on standard output;
// on failure one line on standard error and exit status 1 (2 for a usage error).
// Field names are those of the records; dates are Unix seconds (null when absent).

#include "cases/importmanager.h"
#include "messages/messagestore.h"
#include "messages/messagetext.h"
#include "search/searchindex.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <map>

using namespace trovane;

namespace {

struct UsageError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

template <class T> QJsonValue optional(const std::optional<T>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QJsonValue date(const std::optional<Instant>& instant)
{
    return instant ? QJsonValue(instant->unixSeconds) : QJsonValue(QJsonValue::Null);
}

QJsonObject toJson(const Conversation& c)
{
    QJsonArray chatIDs;
    for (const std::int64_t id : c.chatIDs)
        chatIDs.append(static_cast<qint64>(id));
    return QJsonObject{
        {"id", static_cast<qint64>(c.id)},
        {"chatIDs", chatIDs},
        {"guid", c.guid},
        {"chatIdentifier", c.chatIdentifier},
        {"displayName", optional(c.displayName)},
        {"isGroup", c.isGroup},
        {"participants", QJsonArray::fromStringList(c.participants)},
        {"messageCount", static_cast<qint64>(c.messageCount)},
        {"firstDate", date(c.firstDate)},
        {"lastDate", date(c.lastDate)},
    };
}

QJsonObject toJson(const Attachment& a)
{
    return QJsonObject{
        {"id", static_cast<qint64>(a.id)},          {"filename", optional(a.filename)},
        {"mimeType", optional(a.mimeType)},         {"uti", optional(a.uti)},
        {"transferName", optional(a.transferName)}, {"totalBytes", static_cast<qint64>(a.totalBytes)},
    };
}

QJsonObject toJson(const Reaction& r)
{
    return QJsonObject{{"emoji", r.emoji}, {"fromMe", r.fromMe}, {"sender", optional(r.sender)}};
}

QJsonObject toJson(const Message& m)
{
    QJsonArray reactions;
    for (const Reaction& r : m.reactions)
        reactions.append(toJson(r));
    QJsonArray attachments;
    for (const Attachment& a : m.attachments)
        attachments.append(toJson(a));
    return QJsonObject{
        {"id", static_cast<qint64>(m.id)},
        {"guid", m.guid},
        {"text", optional(m.text)},
        {"date", date(m.date)},
        {"dateRead", date(m.dateRead)},
        {"isFromMe", m.isFromMe},
        {"sender", optional(m.sender)},
        {"hasAttachments", m.hasAttachments},
        {"dateEdited", date(m.dateEdited)},
        {"dateRetracted", date(m.dateRetracted)},
        {"isSystemMessage", m.isSystemMessage},
        {"wasEdited", m.wasEdited()},
        {"wasUnsent", m.wasUnsent()},
        {"reactions", reactions},
        {"attachments", attachments},
    };
}

QJsonValue messages(const QStringList& args)
{
    if (args.size() < 2)
        throw UsageError("usage: trovane-probe messages DB CHATID...");
    QList<std::int64_t> chatIDs;
    for (const QString& arg : args.mid(1)) {
        bool ok = false;
        chatIDs.append(arg.toLongLong(&ok));
        if (!ok)
            throw UsageError("usage: trovane-probe messages DB CHATID... (a chat id is a whole number)");
    }
    MessageStore store(args[0]);
    QJsonArray list;
    for (const Message& m : store.fetchMessages(chatIDs))
        list.append(toJson(m));
    return list;
}

// The resolved text of a file holding one attributedBody blob (no plain text column).
QJsonValue text(const QStringList& args)
{
    if (args.size() != 1)
        throw UsageError("usage: trovane-probe text FILE");
    QFile file(args[0]);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + args[0].toStdString() + ": " +
                                 file.errorString().toStdString());
    const QByteArray blob = file.readAll();
    return optional(MessageText::resolve(std::nullopt, std::string_view(blob.constData(), blob.size())));
}

QJsonValue conversations(const QStringList& args)
{
    if (args.size() != 1)
        throw UsageError("usage: trovane-probe conversations DB");
    MessageStore store(args[0]);
    QJsonArray list;
    for (const Conversation& c : store.fetchConversations())
        list.append(toJson(c));
    return list;
}

QJsonObject recordJson(const ImportRecord& record)
{
    return QJsonDocument::fromJson(record.encoded()).object();
}

QJsonValue latest(const QStringList& args)
{
    if (!args.isEmpty())
        throw UsageError("usage: trovane-probe latest");
    const auto found = ImportManager::shared().loadMostRecentRecord();
    if (!found)
        return QJsonValue(QJsonValue::Null);
    QJsonObject object = recordJson(found->record);
    object.insert("dbURL", found->dbURL);
    return object;
}

// Imports into the case library of the current user (the home and data folders of the environment).
QJsonValue importCommand(const QStringList& args)
{
    QStringList rest = args;
    std::optional<QString> attachments;
    const qsizetype flag = rest.indexOf(QStringLiteral("--attachments"));
    if (flag >= 0) {
        if (flag + 1 >= rest.size())
            throw UsageError("usage: trovane-probe import SRC [--attachments DIR]");
        attachments = rest[flag + 1];
        rest.remove(flag, 2);
    }
    if (rest.size() != 1)
        throw UsageError("usage: trovane-probe import SRC [--attachments DIR]");
    return recordJson(
        ImportManager::shared().importDatabase(QFileInfo(rest[0]).absoluteFilePath(), attachments));
}

QJsonValue reimportCommand(const QStringList& args)
{
    if (args.size() != 1)
        throw UsageError("usage: trovane-probe reimport CASE_ID");
    const ImportManager& manager = ImportManager::shared();
    const QUuid id = QUuid::fromString(args[0]);
    QFile file(manager.casesRoot() + u'/' + id.toString(QUuid::WithoutBraces).toUpper() +
               QStringLiteral("/import.json"));
    if (id.isNull() || !file.open(QIODevice::ReadOnly))
        throw std::runtime_error("no case " + args[0].toStdString() + " in " +
                                 manager.casesRoot().toStdString());
    const auto record = ImportRecord::decode(file.readAll());
    if (!record)
        throw std::runtime_error("the import.json of case " + args[0].toStdString() + " is unreadable");
    return recordJson(manager.reimport(*record));
}

// Builds the index of a case folder, printing each progress fraction on standard error.
QJsonValue indexCommand(const QStringList& args)
{
    if (args.size() != 1)
        throw UsageError("usage: trovane-probe index CASE_DIR");
    const QString folder = QFileInfo(args[0]).absoluteFilePath();
    const SearchIndex index(folder + QStringLiteral("/index.db"), folder + QStringLiteral("/chat.db"));
    index.build([](double fraction) { std::fprintf(stderr, "%.6f\n", fraction); });
    sql::Connection db(index.indexURL(), sql::OpenOptions{sql::Access::ReadOnly});
    const auto count = [&](const char* sql) {
        auto statement = db.prepare(sql);
        statement.step();
        return static_cast<qint64>(statement.row().int64(0));
    };
    return QJsonObject{{"msg_meta", count("SELECT count(*) FROM msg_meta")},
                       {"messages_fts", count("SELECT count(*) FROM messages_fts")}};
}

QJsonObject toJson(const SearchHit& hit)
{
    return QJsonObject{
        {"id", static_cast<qint64>(hit.id)},
        {"chatID", static_cast<qint64>(hit.chatID)},
        {"date", date(hit.date)},
        {"isFromMe", hit.isFromMe},
        {"sender", optional(hit.sender)},
        {"hasAttachments", hit.hasAttachments},
        {"snippet", hit.snippet},
    };
}

QJsonValue searchCommand(const QStringList& args)
{
    const char* usage = "usage: trovane-probe search CASE_DIR [--query TEXT] [--sender all|me|them] "
                        "[--start ISO8601] [--end ISO8601] [--attachments-only] [--chats ID,...] [--limit N]";
    if (args.isEmpty())
        throw UsageError(usage);
    MessageFilter filter;
    int limit = 500;
    const auto parseDate = [&](const QString& text) {
        const QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
        if (!parsed.isValid())
            throw UsageError(usage);
        return Instant::fromDateTime(parsed);
    };
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& flag = args[i];
        if (flag == u"--attachments-only") {
            filter.attachmentsOnly = true;
            continue;
        }
        if (i + 1 >= args.size())
            throw UsageError(usage);
        const QString value = args[++i];
        if (flag == u"--query") {
            filter.query = value;
        } else if (flag == u"--sender") {
            const auto scope = SenderScope::fromText(value);
            if (!scope)
                throw UsageError(usage);
            filter.sender = *scope;
        } else if (flag == u"--start") {
            filter.startDate = parseDate(value);
        } else if (flag == u"--end") {
            filter.endDate = parseDate(value);
        } else if (flag == u"--chats") {
            QList<std::int64_t> chats;
            for (const QString& id : value.split(u',', Qt::SkipEmptyParts)) {
                bool ok = false;
                chats.append(id.toLongLong(&ok));
                if (!ok)
                    throw UsageError(usage);
            }
            filter.chatIDs = chats;
        } else if (flag == u"--limit") {
            bool ok = false;
            limit = value.toInt(&ok);
            if (!ok || limit < 0)
                throw UsageError(usage);
        } else {
            throw UsageError(usage);
        }
    }
    const QString folder = QFileInfo(args[0]).absoluteFilePath();
    const SearchIndex index(folder + QStringLiteral("/index.db"), folder + QStringLiteral("/chat.db"));
    QJsonArray hits;
    for (const SearchHit& hit : index.search(filter, limit))
        hits.append(toJson(hit));
    return hits;
}

const std::map<QString, std::function<QJsonValue(const QStringList&)>>& commands()
{
    static const std::map<QString, std::function<QJsonValue(const QStringList&)>> table{
        {"conversations", conversations}, {"import", importCommand},
        {"index", indexCommand},          {"search", searchCommand},
        {"reimport", reimportCommand},    {"latest", latest},
        {"messages", messages},           {"text", text},
    };
    return table;
}

QString usage()
{
    QStringList names;
    for (const auto& [name, _] : commands())
        names.append(name);
    return QStringLiteral("usage: trovane-probe COMMAND ARGS… (commands: %1)").arg(names.join(", "));
}

// Arrays and objects indented; the lone null or string of a command without a list compact.
QByteArray jsonText(const QJsonValue& value)
{
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented);
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented);
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2) + '\n';
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    if (args.isEmpty()) {
        err << usage() << Qt::endl;
        return 2;
    }
    const auto command = commands().find(args.takeFirst());
    if (command == commands().end()) {
        err << usage() << Qt::endl;
        return 2;
    }
    try {
        std::fputs(jsonText(command->second(args)).constData(), stdout);
        return 0;
    } catch (const UsageError& e) {
        err << e.what() << Qt::endl;
        return 2;
    } catch (const std::exception& e) {
        err << "trovane-probe: " << e.what() << Qt::endl;
        return 1;
    }
}
