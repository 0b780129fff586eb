#pragma once
// What a search asks for (`MessageFilter` with its `SenderScope`) and what comes back (`SearchHit`).
// Plain values: copied freely between threads, compared field by field, hashed over all fields.

#include "platform/instant.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

namespace trovane {

// Whose messages a search includes. The cases are listed in the order the sender picker shows them;
// each has a stable text value ("all", "me", "them") by which it is identified.
class SenderScope
{
public:
    enum Value { all, me, them };

    constexpr SenderScope(Value value = all) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    // "all", "me" or "them".
    QString text() const;
    // The scope with this exact text value; absent for any other text (no trimming, no case folding).
    static std::optional<SenderScope> fromText(QStringView text);
    // all, me, them: the picker's order.
    static constexpr std::array<SenderScope, 3> allCases() { return {all, me, them}; }

private:
    Value m_value;
};

// The criteria of one search. Dates are points in time; the end date counts up to the end of its
// calendar day in the current time zone (see SearchIndex::search).
struct MessageFilter
{
    QString query;                    // the words as typed
    std::optional<Instant> startDate; // messages at or after this instant; absent: no lower bound
    std::optional<Instant> endDate;   // messages up to the end of this instant's day; absent: no bound
    SenderScope sender = SenderScope::all;
    bool attachmentsOnly = false;
    // The chats to search (a conversation's chat ids). Absent or empty: every chat.
    std::optional<QList<std::int64_t>> chatIDs;

    bool operator==(const MessageFilter&) const = default;

    // True exactly when the query is empty once blanks and tabs (only those: not line breaks) are
    // trimmed from both ends, both dates are absent, the sender is `all` and attachmentsOnly is off.
    // chatIDs does not count: a filter that only names chats is empty.
    bool isEmpty() const;
};

// One result row of a search, identified by the message's row id.
struct SearchHit
{
    std::int64_t id = 0;         // the message's ROWID in the Messages database
    std::int64_t chatID = 0;     // the chat it is indexed under; 0 when NULL
    std::optional<Instant> date; // AppleDate::date of the stored raw date
    bool isFromMe = false;
    std::optional<QString> sender; // the sending handle's id
    bool hasAttachments = false;
    // For a word search: FTS5's snippet of the body, matched terms between U+0002 and U+0003, "…"
    // where text was cut (see Highlight::snippet). For a search without words: empty.
    QString snippet;

    bool operator==(const SearchHit&) const = default;
};

size_t qHash(const SearchHit& hit, size_t seed = 0) noexcept;

} // namespace trovane
