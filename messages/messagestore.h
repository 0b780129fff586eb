#pragma once
// The read-only reader of a case's copy of the Messages database.
//
// The store keeps no cache: every call queries the file afresh through one serialised connection,
// so a listing and a message load on the same store queue behind each other. Calls come from
// background tasks; any thread may call. Failures throw sql::Error carrying SQLite's message.

#include "conversation.h"
#include "records.h"

#include "platform/sqlite.h"

#include <QList>
#include <QString>

namespace trovane {

class MessageStore
{
public:
    // Opens `path` read-only: the connection can never write the file, and no companion files are
    // created beside it. Throws sql::Error when the file is missing, unreadable or not a database.
    explicit MessageStore(const QString& path);

    const QString& databaseURL() const { return m_databaseURL; }

    // The conversation list, chats of one person merged, newest first.
    QList<Conversation> fetchConversations();

    // Every message of the given chats in transcript order (raw date ascending, then row id; NULL
    // dates first), each once, with its attachments in database order and the tapbacks standing on
    // it folded into `reactions`. Tapback rows themselves are not listed. No ids: no query.
    QList<Message> fetchMessages(const QList<std::int64_t>& chatIDs);

    // The two statements fetchConversations() runs (participants, then chats), for benchmarks that
    // run exactly the same text elsewhere.
    static const char* participantsStatement();
    static const char* chatsStatement();

    // Merges one-to-one chats whose first participant (or chat identifier) is the same handle
    // after PhoneNumber::canonical; group chats never merge. Sorted by last date, newest first,
    // stable; a missing last date counts as the distant past.
    static QList<Conversation> merged(const QList<Conversation>& conversations);
    // One conversation from a group of two or more, in the order given.
    static Conversation combine(const QList<Conversation>& group);

private:
    QString m_databaseURL;
    sql::Queue m_dbQueue;
    // The head of the message statement, adjusted once at open for files whose message table lacks
    // a column it reads (older systems have no date_edited or date_retracted).
    std::string m_messagesSQL;
};

} // namespace trovane
