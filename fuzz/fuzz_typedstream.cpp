// libFuzzer target: the reader must never crash, hang or read outside the input, and whatever it returns must
// be a view into the input holding valid UTF-8.

#include "messages/typedstream.h"

#include <cstdlib>

namespace {

// Deliberately written independently of the reader's validator, as a cross-check.
bool isValidUtf8(const unsigned char* s, std::size_t n)
{
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        std::uint32_t cp;
        std::size_t len;
        if (b < 0x80) {
            cp = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            len = 4;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        static constexpr std::uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto text = trovane::typedstream::rootStringUtf8({data, size});
    if (!text)
        return 0;
    const auto* first = reinterpret_cast<const std::uint8_t*>(text->data());
    if (!text->empty() && (first < data || first + text->size() > data + size))
        std::abort();
    if (!isValidUtf8(first, text->size()))
        std::abort();
    return 0;
}
