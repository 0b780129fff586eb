#include "records.h"

#include "conversation.h"

#include <QHashFunctions>

namespace trovane {

namespace {

// An absent optional hashes distinctly from every present value.
template <class T> size_t hashOptional(const std::optional<T>& value, size_t seed)
{
    return value ? qHashMulti(seed, true, *value) : ::qHash(false, seed);
}

} // namespace

bool Attachment::isImage() const
{
    if (mimeType)
        return mimeType->startsWith(QLatin1StringView("image/"));
    if (uti) {
        for (const char* word : {"image", "heic", "jpeg", "png"}) {
            if (uti->contains(QLatin1StringView(word)))
                return true;
        }
    }
    return false;
}

QString Attachment::displayName() const
{
    if (transferName && !transferName->isEmpty())
        return *transferName;
    if (filename) {
        // The last path component, as a file URL would give it (a trailing slash is not a name).
        QStringView path(*filename);
        while (path.endsWith(u'/') && path.size() > 1)
            path.chop(1);
        const qsizetype slash = path.lastIndexOf(u'/');
        return (slash < 0 ? path : path.mid(slash + 1)).toString();
    }
    return QStringLiteral("Attachment");
}

size_t qHash(const Attachment& a, size_t seed) noexcept
{
    seed = qHashMulti(seed, a.id, a.totalBytes);
    seed = hashOptional(a.filename, seed);
    seed = hashOptional(a.mimeType, seed);
    seed = hashOptional(a.uti, seed);
    return hashOptional(a.transferName, seed);
}

size_t qHash(const Reaction& r, size_t seed) noexcept
{
    return hashOptional(r.sender, qHashMulti(seed, r.emoji, r.fromMe));
}

size_t qHash(const Message& m, size_t seed) noexcept
{
    seed = qHashMulti(seed, m.id, m.guid, m.isFromMe, m.hasAttachments, m.isSystemMessage);
    seed = hashOptional(m.text, seed);
    seed = hashOptional(m.date, seed);
    seed = hashOptional(m.dateRead, seed);
    seed = hashOptional(m.sender, seed);
    seed = hashOptional(m.dateEdited, seed);
    seed = hashOptional(m.dateRetracted, seed);
    seed = qHashRange(m.reactions.begin(), m.reactions.end(), seed);
    return qHashRange(m.attachments.begin(), m.attachments.end(), seed);
}

size_t qHash(const DayGroup& g, size_t seed) noexcept
{
    return qHashRange(g.messages.begin(), g.messages.end(), trovane::qHash(g.day, seed));
}

size_t qHash(const Conversation& c, size_t seed) noexcept
{
    seed = qHashMulti(seed, c.id, c.guid, c.chatIdentifier, c.isGroup, c.participants, c.messageCount);
    seed = qHashRange(c.chatIDs.begin(), c.chatIDs.end(), seed);
    seed = hashOptional(c.displayName, seed);
    seed = hashOptional(c.firstDate, seed);
    return hashOptional(c.lastDate, seed);
}

} // namespace trovane
