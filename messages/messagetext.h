#pragma once
// The one rule for a message's words, shared by message loading and the search index so that the
// transcript and the index always agree.

#include <QString>

#include <optional>
#include <string_view>

namespace trovane {

struct MessageText
{
    // `text` exactly as stored when it is present and not empty. Otherwise the characters of the
    // archived body (its root attributed string or string), with U+FFFC placeholders trimmed from
    // both ends and then white space and line breaks trimmed from both ends; this may leave an
    // empty text. Absent when there is no body, it is empty, damaged, foreign, or holds no
    // characters. Pure; never fails; any thread.
    static std::optional<QString> resolve(const std::optional<QString>& text,
                                          std::optional<std::string_view> attributedBody);
};

} // namespace trovane
