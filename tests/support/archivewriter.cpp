// Writes little-endian archives shaped like the platform's: shared strings and classes are written once and
// referred to afterwards, C strings and equal NSNumbers are shared, every key string is a fresh object.

#include "archivewriter.h"

#include <map>
#include <utility>

namespace trovane::testsupport {
namespace {

constexpr std::uint8_t kNew = 0x84;
constexpr std::uint8_t kNil = 0x85;
constexpr std::uint8_t kEnd = 0x86;

struct ClassInfo
{
    std::string_view name;
    int version;
};

constexpr ClassInfo kNSObject{"NSObject", 0};
constexpr ClassInfo kNSString{"NSString", 1};
constexpr ClassInfo kNSAttributedString{"NSAttributedString", 0};
constexpr ClassInfo kNSDictionary{"NSDictionary", 0};
constexpr ClassInfo kNSNumber{"NSNumber", 0};
constexpr ClassInfo kNSValue{"NSValue", 0};

std::int64_t utf16Length(std::string_view utf8)
{
    std::int64_t units = 0;
    for (const char c : utf8) {
        const auto b = static_cast<std::uint8_t>(c);
        if ((b & 0xC0) != 0x80)
            units += b >= 0xF0 ? 2 : 1;
    }
    return units;
}

class Writer
{
public:
    Writer()
    {
        m_out.push_back(4);
        byteString("streamtyped");
        integer(1000);
    }

    std::vector<std::uint8_t> take() { return std::move(m_out); }

    void integer(std::int64_t v)
    {
        if (v >= -110 && v <= 127) {
            m_out.push_back(static_cast<std::uint8_t>(v));
        } else if (v >= INT16_MIN && v <= INT16_MAX) {
            m_out.push_back(0x81);
            little(static_cast<std::uint64_t>(v), 2);
        } else if (v >= INT32_MIN && v <= INT32_MAX) {
            m_out.push_back(0x82);
            little(static_cast<std::uint64_t>(v), 4);
        } else {
            m_out.push_back(0x87);
            little(static_cast<std::uint64_t>(v), 8);
        }
    }

    void byteString(std::string_view bytes)
    {
        integer(static_cast<std::int64_t>(bytes.size()));
        m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    }

    // Also used for the type encoding that opens every group.
    void sharedString(std::string_view s)
    {
        if (const auto it = m_shared.find(std::string(s)); it != m_shared.end())
            return reference(it->second);
        m_out.push_back(kNew);
        byteString(s);
        m_shared.emplace(std::string(s), static_cast<int>(m_shared.size()));
    }

    // The class chain from the most derived class up; stops at the first class already written.
    void classChain(std::initializer_list<ClassInfo> chain)
    {
        for (const ClassInfo& c : chain) {
            if (const auto it = m_classes.find(std::string(c.name)); it != m_classes.end())
                return reference(it->second);
            m_out.push_back(kNew);
            m_classes.emplace(std::string(c.name), newEntry());
            sharedString(c.name);
            integer(c.version);
        }
        m_out.push_back(kNil);
    }

    void string(std::string_view utf8)
    {
        beginObject();
        classChain({kNSString, kNSObject});
        sharedString("+");
        byteString(utf8);
        m_out.push_back(kEnd);
    }

    void number(std::int64_t value)
    {
        if (const auto it = m_numbers.find(value); it != m_numbers.end())
            return reference(it->second);
        m_numbers.emplace(value, m_objects);
        beginObject();
        classChain({kNSNumber, kNSValue, kNSObject});
        sharedString("*");
        cString("q");
        sharedString("q");
        integer(value);
        m_out.push_back(kEnd);
    }

    void dictionary(const std::vector<std::pair<std::string_view, std::string_view>>& strings,
                    const std::vector<std::pair<std::string_view, std::int64_t>>& numbers)
    {
        beginObject();
        classChain({kNSDictionary, kNSObject});
        sharedString("i");
        integer(static_cast<std::int64_t>(strings.size() + numbers.size()));
        for (const auto& [key, value] : strings) {
            sharedString("@");
            string(key);
            sharedString("@");
            string(value);
        }
        for (const auto& [key, value] : numbers) {
            sharedString("@");
            string(key);
            sharedString("@");
            number(value);
        }
    }

    void endObject() { m_out.push_back(kEnd); }

    void beginObject()
    {
        m_out.push_back(kNew);
        newEntry();
    }

private:
    void little(std::uint64_t v, int width)
    {
        for (int i = 0; i < width; ++i)
            m_out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }

    void reference(int index) { integer(index - 110); }

    int newEntry() { return m_objects++; }

    void cString(std::string_view s)
    {
        if (const auto it = m_cStrings.find(std::string(s)); it != m_cStrings.end())
            return reference(it->second);
        m_out.push_back(kNew);
        m_cStrings.emplace(std::string(s), newEntry());
        sharedString(s);
    }

    std::vector<std::uint8_t> m_out;
    std::map<std::string, int> m_shared;
    std::map<std::string, int> m_classes;
    std::map<std::string, int> m_cStrings;
    std::map<std::int64_t, int> m_numbers;
    int m_objects = 0;
};

} // namespace

std::vector<std::uint8_t> encodeAttributedString(std::string_view utf8)
{
    const MessagePart part{std::string(utf8), {}};
    return encodeAttributedString(std::span(&part, 1));
}

std::vector<std::uint8_t> encodeAttributedString(std::span<const MessagePart> parts)
{
    std::string text;
    for (const MessagePart& part : parts)
        text += part.attachmentGuid.empty() ? part.utf8 : std::string("\xEF\xBF\xBC");

    Writer w;
    w.sharedString("@");
    w.beginObject();
    w.classChain({kNSAttributedString, kNSObject});
    w.sharedString("@");
    w.string(text);

    std::int64_t dictionaries = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const MessagePart& part = parts[i];
        const bool attachment = !part.attachmentGuid.empty();
        const std::int64_t units = attachment ? 1 : utf16Length(part.utf8);
        if (units == 0)
            continue;
        w.sharedString("iI");
        w.integer(++dictionaries);
        w.integer(units);
        w.sharedString("@");
        const auto partIndex = static_cast<std::int64_t>(i);
        if (attachment)
            w.dictionary({{"__kIMFileTransferGUIDAttributeName", part.attachmentGuid}},
                         {{"__kIMMessagePartAttributeName", partIndex}});
        else
            w.dictionary({}, {{"__kIMBaseWritingDirectionAttributeName", -1},
                              {"__kIMMessagePartAttributeName", partIndex}});
        w.endObject();
    }
    w.endObject();
    return w.take();
}

std::vector<std::uint8_t> encodePlainString(std::string_view utf8)
{
    Writer w;
    w.sharedString("@");
    w.string(utf8);
    return w.take();
}

} // namespace trovane::testsupport
