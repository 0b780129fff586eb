#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace trovane::typedstream {

// Returns the UTF-8 bytes of the archive's root string: the characters of a root
// NSAttributedString/NSMutableAttributedString (its inner NSString), or of a root NSString/NSMutableString.
// std::nullopt for anything else: foreign data, a non-string root, any damage (truncation, lengths beyond
// the input, dangling or wrong-kind references, looping class chains, excessive nesting or work, reserved
// tag bytes, invalid UTF-8, attribute runs that do not cover the string exactly).
// The view points into `blob`. Never throws, never reads out of bounds.
std::optional<std::string_view> rootStringUtf8(std::span<const std::uint8_t> blob);

} // namespace trovane::typedstream
