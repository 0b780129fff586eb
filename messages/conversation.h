#pragma once
// One entry of the conversation list: one chat, or several chats of the same person merged.

#include "platform/instant.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace trovane {

struct Conversation
{
    std::int64_t id = 0;                // the chat's ROWID; for a merged entry the smallest of its chats
    QList<std::int64_t> chatIDs;        // every chat shown under this entry, ascending
    QString guid;                       // empty when NULL
    QString chatIdentifier;             // empty when NULL; stands in for the other party when no participants
    std::optional<QString> displayName; // may be present but empty
    bool isGroup = false;               // style 43
    QStringList participants;           // handle ids in database order, without duplicates after merging
    std::int64_t messageCount = 0;      // message rows joined, tapbacks included
    std::optional<Instant> firstDate;
    std::optional<Instant> lastDate;

    bool operator==(const Conversation&) const = default;
};

size_t qHash(const Conversation& conversation, size_t seed = 0) noexcept;

} // namespace trovane
