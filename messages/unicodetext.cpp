#include "unicodetext.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <QScopeGuard>

#include <memory>

namespace trovane::unicode {

namespace {

char32_t firstScalar(QStringView text)
{
    if (text.isEmpty())
        return 0;
    if (text.size() > 1 && text[0].isHighSurrogate() && text[1].isLowSurrogate())
        return QChar::surrogateToUcs4(text[0], text[1]);
    return text[0].unicode();
}

icu::UnicodeString aliasOf(QStringView text)
{
    // A read-only alias: no copy of the characters.
    return icu::UnicodeString(false, reinterpret_cast<const char16_t*>(text.utf16()),
                              static_cast<int32_t>(text.size()));
}

icu::BreakIterator& characterBreaks()
{
    // One iterator per thread: creating one costs far more than using it.
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(it) : nullptr;
    }();
    return *iterator;
}

} // namespace

void forEachCharacter(QStringView text, const std::function<void(QStringView)>& fn)
{
    if (text.isEmpty())
        return;
    // The shared iterator serves the outermost walk; a walk started from inside `fn` gets its own.
    thread_local int depth = 0;
    std::unique_ptr<icu::BreakIterator> own;
    if (depth > 0)
        own.reset(characterBreaks().clone());
    icu::BreakIterator& breaks = own ? *own : characterBreaks();
    ++depth;
    const auto leave = qScopeGuard([&] {
        --depth;
        // The iterator keeps a pointer to the alias; leave it on something that outlives this call.
        breaks.setText(icu::UnicodeString());
    });
    icu::UnicodeString alias = aliasOf(text);
    breaks.setText(alias);
    int32_t start = breaks.first();
    for (int32_t end = breaks.next(); end != icu::BreakIterator::DONE; start = end, end = breaks.next())
        fn(text.mid(start, end - start));
}

bool isLetter(QStringView character)
{
    return u_hasBinaryProperty(static_cast<UChar32>(firstScalar(character)), UCHAR_ALPHABETIC);
}

bool isNumber(QStringView character)
{
    return u_getIntPropertyValue(static_cast<UChar32>(firstScalar(character)), UCHAR_NUMERIC_TYPE) !=
           U_NT_NONE;
}

QString trimmed(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto scalarAt = [&](qsizetype i, qsizetype& width) {
        if (i + 1 < text.size() && text[i].isHighSurrogate() && text[i + 1].isLowSurrogate()) {
            width = 2;
            return static_cast<UChar32>(QChar::surrogateToUcs4(text[i], text[i + 1]));
        }
        width = 1;
        return static_cast<UChar32>(text[i].unicode());
    };
    while (begin < end) {
        qsizetype width = 1;
        if (!u_isUWhiteSpace(scalarAt(begin, width)))
            break;
        begin += width;
    }
    while (end > begin) {
        // White space is all in the BMP, so one unit back is a whole scalar when it is white space.
        if (!u_isUWhiteSpace(text[end - 1].unicode()) || text[end - 1].isSurrogate())
            break;
        --end;
    }
    return text.mid(begin, end - begin).toString();
}

QString lowercased(QStringView text)
{
    icu::UnicodeString copy(reinterpret_cast<const char16_t*>(text.utf16()),
                            static_cast<int32_t>(text.size()));
    copy.toLower(icu::Locale::getRoot());
    return QString(reinterpret_cast<const QChar*>(copy.getBuffer()), copy.length());
}

} // namespace trovane::unicode
