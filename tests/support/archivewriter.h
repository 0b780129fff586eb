#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Test-support writer: builds message bodies byte for byte the way the platform's archiver writes them,
// so tests and fuzz seeds need no checked-in binaries. Not for production use.
namespace trovane::testsupport {

// One message part; each becomes one attribute run with its own dictionary.
struct MessagePart
{
    // Text of a text part (valid UTF-8). Ignored for an attachment part.
    std::string utf8;
    // Non-empty: the part is a single U+FFFC standing for the file transfer with this GUID, and its
    // dictionary carries __kIMFileTransferGUIDAttributeName.
    std::string attachmentGuid;
};

// A single-part body, e.g. encodeAttributedString("Test 3") gives the platform's 235-byte body.
// An empty text gives an attributed string with no runs.
std::vector<std::uint8_t> encodeAttributedString(std::string_view utf8);

// A body made of the given parts in order; parts with no characters get no run.
std::vector<std::uint8_t> encodeAttributedString(std::span<const MessagePart> parts);

// An archive whose root is a plain NSString.
std::vector<std::uint8_t> encodePlainString(std::string_view utf8);

} // namespace trovane::testsupport
