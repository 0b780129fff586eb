// Reader for the platform's legacy non-keyed archive ("typedstream"), the format of
// message.attributedBody in the Messages database.
//
// What it reads:
//   header      04, integer 11 + "streamtyped" (little-endian numbers) or "typedstream" (big-endian),
//               then the system version (any integer).
//   stream      value groups; each group is a type encoding (a shared string of type letters) followed by
//               one value per letter. Only the first group is read: it must be "@", the root object.
//   integers    a head byte: literal -110..127, or 81/82/87 followed by 2/4/8 bytes in stream byte order.
//               84 "new", 85 "nil", 86 "end"; 80, 83 (outside f/d) and 88..91 are never integers.
//   references  entry k of a table is written as the integer k - 110.
//   tables      shared strings (class names, type encodings, C-string text) and one object table shared by
//               objects, classes and C strings; an entry is numbered when its 84 is read, before its parts.
//   objects     84, class, contents (value groups) up to 86. A class is 84 name version superclass, a
//               reference to a finished class, or 85 ending the chain.
//   root        an attributed string: "@" group with an NSString-chain object holding one "+" value (the
//               UTF-8 bytes), then runs ("iI": dictionary number, length in UTF-16 units, plus an "@" group
//               with the dictionary when the number is new) that cover the string exactly, then 86.
//               Or a bare NSString-chain object holding one "+" value.
//               A new run's dictionary is a new object or nil, never a reference; a run that does not
//               open a new dictionary names one already opened.
//   scalars     c/C/B are one raw byte; f/d are 83 + raw IEEE bytes or a whole number as an integer.
//
// Anything else — a different root, any damage, any limit exceeded — is "undecodable" and gives
// std::nullopt; the reader never reports a partial string. Bytes after the root object are ignored.
//
// Unknown objects inside attribute dictionaries are walked generically: every value is preceded by its type
// encoding, so no class needs to be understood to skip it.
//
// The reader makes one pass and allocates nothing for ordinary bodies: both tables keep their first entries
// inline and spill to a vector only for large archives. Recursion is bounded (64 nested objects, 16 nested
// type levels) and the total work is capped in proportion to the input size.

#include "typedstream.h"

#include <cstring>
#include <new>
#include <vector>

namespace trovane::typedstream {
namespace {

constexpr std::uint8_t kTagInt16 = 0x81;
constexpr std::uint8_t kTagInt32 = 0x82;
constexpr std::uint8_t kTagFloat = 0x83;
constexpr std::uint8_t kTagNew = 0x84;
constexpr std::uint8_t kTagNil = 0x85;
constexpr std::uint8_t kTagEnd = 0x86;
constexpr std::uint8_t kTagInt64 = 0x87;

constexpr std::int64_t kReferenceBias = 110;
constexpr int kMaxObjectDepth = 64;
constexpr int kMaxTypeDepth = 16;

constexpr std::string_view kLittleEndianSignature = "streamtyped";
constexpr std::string_view kBigEndianSignature = "typedstream";

// Fixed inline capacity with a vector behind it. Elements in the inline part are left uninitialised until
// pushed, so constructing a table costs nothing.
template <typename T, std::size_t N> class SmallTable
{
public:
    std::size_t size() const { return m_size; }

    T& operator[](std::size_t i) { return i < N ? m_inline[i] : m_overflow[i - N]; }

    void push(const T& value)
    {
        if (m_size < N) [[likely]] {
            m_inline[m_size++] = value;
            return;
        }
        pushOverflow(value);
    }

private:
    // Kept out of line so the common path stays small enough to inline.
    [[gnu::noinline]] void pushOverflow(const T& value)
    {
        m_overflow.push_back(value); // may throw bad_alloc; caught at the public boundary
        ++m_size;
    }

    T m_inline[N];
    std::vector<T> m_overflow;
    std::size_t m_size = 0;
};

struct SharedString
{
    std::uint32_t offset;
    std::uint32_t length;
};

enum class EntryKind : std::uint8_t { Object, PendingClass, Class, CString };

// Superclass-chain facts the root check needs, accumulated down the chain.
enum ClassFlags : std::uint8_t {
    kChainHasString = 1,
    kChainHasAttributedString = 2,
};

struct Entry
{
    EntryKind kind;
    std::uint8_t flags;
};

// Counts the UTF-16 units of strictly valid UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool utf16Length(const std::uint8_t* p, std::size_t n, std::uint64_t& units)
{
    const std::uint8_t* const end = p + n;
    std::uint64_t count = 0;
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                count += 8;
                continue;
            }
        }
        const std::uint8_t b = *p;
        if (b < 0x80) {
            ++p;
            ++count;
            continue;
        }
        const auto cont = [](std::uint8_t c) { return (c & 0xC0) == 0x80; };
        const std::ptrdiff_t left = end - p;
        if (b >= 0xC2 && b <= 0xDF) {
            if (left < 2 || !cont(p[1]))
                return false;
            p += 2;
            count += 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            if (left < 3 || !cont(p[1]) || !cont(p[2]))
                return false;
            if ((b == 0xE0 && p[1] < 0xA0) || (b == 0xED && p[1] > 0x9F)) // overlong / surrogate
                return false;
            p += 3;
            count += 1;
        } else if (b >= 0xF0 && b <= 0xF4) {
            if (left < 4 || !cont(p[1]) || !cont(p[2]) || !cont(p[3]))
                return false;
            if ((b == 0xF0 && p[1] < 0x90) || (b == 0xF4 && p[1] > 0x8F)) // overlong / above U+10FFFF
                return false;
            p += 4;
            count += 2;
        } else {
            return false; // stray continuation byte, C0/C1 overlong lead, or F5..FF
        }
    }
    units = count;
    return true;
}

// Type qualifiers (const, in, inout, out, bycopy, byref, oneway) carry no data.
bool isQualifier(char c)
{
    switch (c) {
    case 'r':
    case 'n':
    case 'N':
    case 'o':
    case 'O':
    case 'R':
    case 'V':
        return true;
    default:
        return false;
    }
}

class Reader
{
public:
    explicit Reader(std::span<const std::uint8_t> blob)
        : m_begin(blob.data())
        , m_p(blob.data())
        , m_end(blob.data() + blob.size())
        // Legitimate archives spend about one unit per byte; the slack only matters for hostile type
        // encodings that describe values costing no bytes at all (e.g. "[999999999{}]").
        , m_budget(static_cast<std::int64_t>(blob.size()) * 8 + 256)
    {
    }

    std::optional<std::string_view> rootString();

private:
    std::size_t left() const { return static_cast<std::size_t>(m_end - m_p); }

    bool spend(std::int64_t units)
    {
        m_budget -= units;
        return m_budget >= 0;
    }

    bool readByte(std::uint8_t& b)
    {
        if (m_p == m_end)
            return false;
        b = *m_p++;
        return true;
    }

    bool peekByte(std::uint8_t& b) const
    {
        if (m_p == m_end)
            return false;
        b = *m_p;
        return true;
    }

    bool readFixed(int width, std::uint64_t& bits)
    {
        if (left() < static_cast<std::size_t>(width))
            return false;
        std::uint64_t v = 0;
        if (m_bigEndian) {
            for (int i = 0; i < width; ++i)
                v = (v << 8) | m_p[i];
        } else {
            for (int i = width - 1; i >= 0; --i)
                v = (v << 8) | m_p[i];
        }
        m_p += width;
        bits = v;
        return true;
    }

    // The rest of an integer whose head byte has already been consumed.
    bool integerAfterHead(std::uint8_t head, std::int64_t& value)
    {
        if (head <= 0x7F || head >= 0x92) {
            value = static_cast<std::int8_t>(head);
            return true;
        }
        std::uint64_t bits;
        switch (head) {
        case kTagInt16:
            if (!readFixed(2, bits))
                return false;
            value = static_cast<std::int16_t>(bits);
            return true;
        case kTagInt32:
            if (!readFixed(4, bits))
                return false;
            value = static_cast<std::int32_t>(bits);
            return true;
        case kTagInt64:
            if (!readFixed(8, bits))
                return false;
            value = static_cast<std::int64_t>(bits);
            return true;
        default:
            return false; // 80, 83..86, 88..91: not an integer
        }
    }

    bool readInteger(std::int64_t& value)
    {
        std::uint8_t head;
        return readByte(head) && integerAfterHead(head, value);
    }

    // A length in front of bytes that must all be present.
    bool readLength(std::size_t& length)
    {
        std::int64_t v;
        if (!readInteger(v) || v < 0 || static_cast<std::uint64_t>(v) > left())
            return false;
        length = static_cast<std::size_t>(v);
        return true;
    }

    bool referenceIndex(std::uint8_t head, std::size_t tableSize, std::size_t& index)
    {
        std::int64_t v;
        if (!integerAfterHead(head, v))
            return false;
        const std::int64_t k = v + kReferenceBias;
        if (k < 0 || static_cast<std::uint64_t>(k) >= tableSize)
            return false;
        index = static_cast<std::size_t>(k);
        return true;
    }

    // A shared string where one is required (class name, type encoding, C-string text); nil is a fault.
    bool readSharedString(std::string_view& text)
    {
        std::uint8_t head;
        if (!readByte(head) || head == kTagNil)
            return false;
        if (head == kTagNew) {
            std::size_t length;
            if (!readLength(length))
                return false;
            const auto offset = static_cast<std::uint32_t>(m_p - m_begin);
            m_shared.push({offset, static_cast<std::uint32_t>(length)});
            text = {reinterpret_cast<const char*>(m_p), length};
            m_p += length;
            return true;
        }
        std::size_t index;
        if (!referenceIndex(head, m_shared.size(), index))
            return false;
        const SharedString s = m_shared[index];
        text = {reinterpret_cast<const char*>(m_begin + s.offset), s.length};
        return true;
    }

    // A class where an object's class is expected: a new chain or a reference to a finished class.
    // Nil is refused here; a chain ends in nil only as some class's superclass.
    bool readClass(std::uint8_t& flags)
    {
        std::uint8_t head;
        if (!readByte(head) || head == kTagNil)
            return false;
        if (head != kTagNew)
            return classReference(head, flags);

        // A new chain is numbered consecutively (each class is numbered before its superclass), so it is
        // read in a loop and the flags are folded back up afterwards: no recursion however long it is.
        const std::size_t first = m_objects.size();
        std::uint8_t inherited = 0;
        for (;;) {
            if (!spend(1))
                return false;
            m_objects.push({EntryKind::PendingClass, 0});
            std::string_view name;
            std::int64_t version;
            if (!readSharedString(name) || !readInteger(version))
                return false;
            std::uint8_t own = 0;
            if (name == "NSString")
                own = kChainHasString;
            else if (name == "NSAttributedString")
                own = kChainHasAttributedString;
            m_objects[m_objects.size() - 1].flags = own;

            if (!readByte(head))
                return false;
            if (head == kTagNew)
                continue;
            if (head != kTagNil && !classReference(head, inherited))
                return false;
            break;
        }
        for (std::size_t i = m_objects.size(); i-- > first;) {
            Entry& e = m_objects[i];
            inherited |= e.flags;
            e.flags = inherited;
            e.kind = EntryKind::Class;
        }
        flags = m_objects[first].flags;
        return true;
    }

    // Only finished classes may be referenced; an unfinished one means the chain loops back into itself.
    bool classReference(std::uint8_t head, std::uint8_t& flags)
    {
        std::size_t index;
        if (!referenceIndex(head, m_objects.size(), index))
            return false;
        const Entry e = m_objects[index];
        if (e.kind != EntryKind::Class)
            return false;
        flags = e.flags;
        return true;
    }

    bool readClassValue()
    {
        std::uint8_t head;
        if (!peekByte(head))
            return false;
        if (head == kTagNil) {
            ++m_p;
            return true;
        }
        std::uint8_t flags;
        return readClass(flags);
    }

    bool readCString()
    {
        std::uint8_t head;
        if (!readByte(head))
            return false;
        if (head == kTagNil)
            return true;
        if (head == kTagNew) {
            m_objects.push({EntryKind::CString, 0});
            std::string_view text;
            return readSharedString(text);
        }
        std::size_t index;
        return referenceIndex(head, m_objects.size(), index) && m_objects[index].kind == EntryKind::CString;
    }

    // An "@" value anywhere below the root. `depth` is the nesting level of the object holding it.
    bool readObjectValue(int depth)
    {
        std::uint8_t head;
        if (!readByte(head))
            return false;
        if (head == kTagNil)
            return true;
        if (head != kTagNew) {
            // Objects still being read may be referenced: archives of cyclic graphs do that.
            std::size_t index;
            return referenceIndex(head, m_objects.size(), index) &&
                   m_objects[index].kind == EntryKind::Object;
        }
        if (depth + 1 > kMaxObjectDepth)
            return false;
        m_objects.push({EntryKind::Object, 0});
        std::uint8_t flags;
        return readClass(flags) && readContents(depth + 1);
    }

    // Value groups up to and including the object's end byte.
    bool readContents(int depth)
    {
        for (;;) {
            std::uint8_t head;
            if (!peekByte(head))
                return false;
            if (head == kTagEnd) {
                ++m_p;
                return true;
            }
            std::string_view type;
            if (!spend(1) || !readSharedString(type) || !readGroup(type, depth))
                return false;
        }
    }

    bool readGroup(std::string_view type, int depth)
    {
        if (type.empty())
            return false;
        const char* t = type.data();
        const char* const end = t + type.size();
        while (t != end) {
            if (!readValue(t, end, 0, depth, false))
                return false;
        }
        return true;
    }

    // Reads one value of the type starting at `t` and advances `t` past that type. With `dry` set only the
    // type is parsed (the element type of a zero-length array still has to be skipped).
    bool readValue(const char*& t, const char* end, int typeDepth, int depth, bool dry)
    {
        if (!spend(1))
            return false;
        const char* const qualifiers = t;
        while (t != end && isQualifier(*t))
            ++t;
        if (t == end || !spend(t - qualifiers))
            return false;

        const char letter = *t++;
        switch (letter) {
        case '@':
            return dry || readObjectValue(depth);
        case '#':
            return dry || readClassValue();
        case '*':
            return dry || readCString();
        case '+': {
            std::size_t length;
            if (dry)
                return true;
            if (!readLength(length))
                return false;
            m_p += length;
            return true;
        }
        case 'i':
        case 'I':
        case 's':
        case 'S':
        case 'l':
        case 'L':
        case 'q':
        case 'Q': {
            std::int64_t v;
            return dry || readInteger(v);
        }
        case 'f':
        case 'd': {
            if (dry)
                return true;
            std::uint8_t head;
            if (!readByte(head))
                return false;
            if (head == kTagFloat) {
                std::uint64_t bits;
                return readFixed(letter == 'f' ? 4 : 8, bits);
            }
            std::int64_t v;
            return integerAfterHead(head, v);
        }
        case 'c':
        case 'C':
        case 'B': {
            std::uint8_t b;
            return dry || readByte(b);
        }
        case '[':
            return readArray(t, end, typeDepth, depth, dry);
        case '{':
            return readStruct(t, end, typeDepth, depth, dry);
        default:
            return false; // pointers, unions, bit-fields, selectors, ...: never in a body
        }
    }

    bool readArray(const char*& t, const char* end, int typeDepth, int depth, bool dry)
    {
        if (typeDepth + 1 > kMaxTypeDepth)
            return false;
        std::uint64_t count = 0;
        const char* const digits = t;
        while (t != end && *t >= '0' && *t <= '9') {
            count = count * 10 + static_cast<unsigned>(*t - '0');
            if (count > 0xFFFFFFFFu)
                return false;
            ++t;
        }
        if (t == digits || t == end || !spend(t - digits))
            return false;

        // Raw byte arrays ("[6c]" inside NSData) are one bulk read.
        if ((*t == 'c' || *t == 'C') && end - t >= 2 && t[1] == ']') {
            t += 2;
            if (dry)
                return true;
            if (count > left())
                return false;
            m_p += count;
            return true;
        }

        const char* const element = t;
        if (dry || count == 0) {
            if (!readValue(t, end, typeDepth + 1, depth, true))
                return false;
        } else {
            for (std::uint64_t i = 0; i < count; ++i) {
                t = element;
                if (!readValue(t, end, typeDepth + 1, depth, false))
                    return false;
            }
        }
        if (t == end || *t != ']')
            return false;
        ++t;
        return true;
    }

    bool readStruct(const char*& t, const char* end, int typeDepth, int depth, bool dry)
    {
        if (typeDepth + 1 > kMaxTypeDepth)
            return false;
        const char* const name = t;
        while (t != end && *t != '=' && *t != '}')
            ++t;
        if (t == end || !spend(t - name))
            return false;
        if (*t == '=') {
            ++t;
            while (t != end && *t != '}') {
                if (!readValue(t, end, typeDepth + 1, depth, dry))
                    return false;
            }
            if (t == end)
                return false;
        }
        ++t; // '}'
        return true;
    }

    bool readHeader()
    {
        std::int64_t version;
        std::size_t length;
        if (!readInteger(version) || version != 4 || !readLength(length))
            return false;
        const std::string_view signature(reinterpret_cast<const char*>(m_p), length);
        m_p += length;
        if (signature == kBigEndianSignature)
            m_bigEndian = true;
        else if (signature != kLittleEndianSignature)
            return false;
        std::int64_t systemVersion;
        return readInteger(systemVersion);
    }

    // Contents of an NSString: exactly one "+" group, then the end byte.
    bool readStringContents(std::string_view& utf8)
    {
        std::string_view type;
        std::size_t length;
        if (!readSharedString(type) || type != "+" || !readLength(length))
            return false;
        utf8 = {reinterpret_cast<const char*>(m_p), length};
        m_p += length;
        std::uint8_t end;
        return readByte(end) && end == kTagEnd;
    }

    bool expectGroup(std::string_view wanted)
    {
        std::string_view type;
        return readSharedString(type) && type == wanted;
    }

    bool readAttributedContents(std::string_view& utf8)
    {
        // The string object, numbered like any other new object.
        std::uint8_t head;
        std::uint8_t flags;
        if (!expectGroup("@") || !readByte(head) || head != kTagNew)
            return false;
        m_objects.push({EntryKind::Object, 0});
        if (!readClass(flags) || (flags & kChainHasString) == 0 || (flags & kChainHasAttributedString) != 0)
            return false;
        if (!readStringContents(utf8))
            return false;
        std::uint64_t units;
        if (!utf16Length(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size(), units))
            return false;

        // No run count is stored: runs are read until they cover the string, and then the root must end.
        std::uint64_t covered = 0;
        std::int64_t highestDictionary = 0;
        while (covered < units) {
            std::int64_t dictionary;
            std::int64_t length;
            if (!spend(1) || !expectGroup("iI") || !readInteger(dictionary) || !readInteger(length))
                return false;
            if (dictionary < 1 || dictionary > highestDictionary + 1)
                return false;
            if (length < 0 || static_cast<std::uint64_t>(length) > units - covered)
                return false;
            covered += static_cast<std::uint64_t>(length);
            if (dictionary == highestDictionary + 1) {
                highestDictionary = dictionary;
                if (!expectGroup("@") || !peekByte(head) || (head != kTagNew && head != kTagNil))
                    return false;
                if (!readObjectValue(1))
                    return false;
            }
        }
        return readByte(head) && head == kTagEnd;
    }

    const std::uint8_t* const m_begin;
    const std::uint8_t* m_p;
    const std::uint8_t* const m_end;
    std::int64_t m_budget;
    bool m_bigEndian = false;
    SmallTable<SharedString, 64> m_shared;
    SmallTable<Entry, 128> m_objects;
};

std::optional<std::string_view> Reader::rootString()
{
    if (!readHeader() || !expectGroup("@"))
        return std::nullopt;
    std::uint8_t head;
    if (!readByte(head) || head != kTagNew)
        return std::nullopt;
    m_objects.push({EntryKind::Object, 0});
    std::uint8_t flags;
    if (!readClass(flags))
        return std::nullopt;

    std::string_view utf8;
    if (flags & kChainHasAttributedString) {
        if (!readAttributedContents(utf8))
            return std::nullopt;
        return utf8; // validated while counting the run coverage
    }
    if (flags & kChainHasString) {
        std::uint64_t units;
        if (!readStringContents(utf8) ||
            !utf16Length(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size(), units))
            return std::nullopt;
        return utf8;
    }
    return std::nullopt; // an array, dictionary, number, ...: not a message body
}

} // namespace

std::optional<std::string_view> rootStringUtf8(std::span<const std::uint8_t> blob)
{
    // Table offsets are 32-bit; nothing near this size is a message body.
    if (blob.size() > 0xFFFFFFF0u)
        return std::nullopt;
    try {
        Reader reader(blob);
        return reader.rootString();
    } catch (...) {
        return std::nullopt; // only a failed allocation for a huge archive's tables can get here
    }
}

} // namespace trovane::typedstream
