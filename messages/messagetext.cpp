#include "messagetext.h"

#include "typedstream.h"
#include "unicodetext.h"

#include <span>

namespace trovane {

std::optional<QString> MessageText::resolve(const std::optional<QString>& text,
                                            std::optional<std::string_view> attributedBody)
{
    if (text && !text->isEmpty())
        return text;
    if (!attributedBody || attributedBody->empty())
        return std::nullopt;

    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(attributedBody->data()),
                                              attributedBody->size());
    const auto utf8 = typedstream::rootStringUtf8(bytes);
    if (!utf8 || utf8->empty())
        return std::nullopt;

    const QString characters = QString::fromUtf8(utf8->data(), static_cast<qsizetype>(utf8->size()));
    // Placeholders first, then white space: a placeholder behind a blank at an end stays.
    QStringView view(characters);
    while (view.startsWith(u'\uFFFC'))
        view = view.mid(1);
    while (view.endsWith(u'\uFFFC'))
        view.chop(1);
    return unicode::trimmed(view);
}

} // namespace trovane
