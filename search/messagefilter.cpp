#include "messagefilter.h"

#include <QHashFunctions>

namespace trovane {

QString SenderScope::text() const
{
    switch (m_value) {
    case me:
        return QStringLiteral("me");
    case them:
        return QStringLiteral("them");
    case all:
        break;
    }
    return QStringLiteral("all");
}

std::optional<SenderScope> SenderScope::fromText(QStringView text)
{
    for (const SenderScope scope : allCases()) {
        if (text == scope.text())
            return scope;
    }
    return std::nullopt;
}

bool MessageFilter::isEmpty() const
{
    qsizetype begin = 0;
    qsizetype end = query.size();
    auto isBlank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && isBlank(query[begin]))
        ++begin;
    while (end > begin && isBlank(query[end - 1]))
        --end;
    return begin == end && !startDate && !endDate && sender == SenderScope::all && !attachmentsOnly;
}

namespace {

template <class T> size_t hashOptional(const std::optional<T>& value, size_t seed)
{
    return value ? qHashMulti(seed, true, *value) : ::qHash(false, seed);
}

} // namespace

size_t qHash(const SearchHit& hit, size_t seed) noexcept
{
    seed = qHashMulti(seed, hit.id, hit.chatID, hit.isFromMe, hit.hasAttachments, hit.snippet);
    seed = hashOptional(hit.date, seed);
    return hashOptional(hit.sender, seed);
}

} // namespace trovane
