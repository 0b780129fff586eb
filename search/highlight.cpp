#include "highlight.h"

#include "messages/unicodetext.h"

#include <algorithm>
#include <vector>

namespace trovane {

namespace {

constexpr char16_t openMarker = 0x0002;
constexpr char16_t closeMarker = 0x0003;

// Appends a run, joining it to the last one when both are styled alike.
void append(StyledText& styled, QStringView text, bool highlighted)
{
    if (text.isEmpty())
        return;
    if (!styled.runs.isEmpty() && styled.runs.last().highlighted == highlighted)
        styled.runs.last().text += text;
    else
        styled.runs.append(StyledRun{text.toString(), highlighted});
}

// The UTF-16 offsets at which whole characters start, followed by the length of the text: entry k
// is where character k starts, so there are (number of characters + 1) entries.
std::vector<qsizetype> characterStarts(QStringView text)
{
    std::vector<qsizetype> starts;
    starts.reserve(static_cast<std::size_t>(text.size()) + 1);
    qsizetype offset = 0;
    unicode::forEachCharacter(text, [&](QStringView character) {
        starts.push_back(offset);
        offset += character.size();
    });
    starts.push_back(text.size());
    return starts;
}

// The number of whole characters before `offset`, or -1 when `offset` falls inside a character.
qsizetype characterCountAt(const std::vector<qsizetype>& starts, qsizetype offset)
{
    const auto it = std::lower_bound(starts.begin(), starts.end(), offset);
    if (it == starts.end() || *it != offset)
        return -1;
    return it - starts.begin();
}

} // namespace

double backgroundOpacity(HighlightStrength strength)
{
    return strength == HighlightStrength::snippet ? 0.35 : 0.45;
}

QString StyledText::plainText() const
{
    QString out;
    for (const StyledRun& run : runs)
        out += run.text;
    return out;
}

StyledText Highlight::snippet(QStringView text)
{
    // The markers are control characters, so each is a whole character of its own: walking UTF-16
    // units meets them exactly where a walk over whole characters would.
    StyledText styled{{}, HighlightStrength::snippet};
    bool highlighted = false;
    qsizetype bufferStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit != openMarker && unit != closeMarker)
            continue;
        append(styled, text.sliced(bufferStart, i - bufferStart), highlighted);
        bufferStart = i + 1;
        highlighted = unit == openMarker;
    }
    append(styled, text.sliced(bufferStart), highlighted);
    return styled;
}

StyledText Highlight::text(QStringView text, const QStringList& terms)
{
    StyledText styled{{}, HighlightStrength::message};
    if (terms.isEmpty() || text.isEmpty()) {
        append(styled, text, false);
        return styled;
    }

    const QString lower = unicode::lowercased(text);
    const std::vector<qsizetype> lowerStarts = characterStarts(lower);
    const std::vector<qsizetype> textStarts = characterStarts(text);
    // One flag per UTF-16 unit of `text`; runs are formed from them at the end.
    std::vector<bool> marked(static_cast<std::size_t>(text.size()), false);

    for (const QString& term : terms) {
        const QString needle = unicode::lowercased(term);
        if (needle.isEmpty())
            continue;
        qsizetype from = 0;
        while (from <= lower.size()) {
            const qsizetype at = lower.indexOf(needle, from, Qt::CaseSensitive);
            if (at < 0)
                break;
            const qsizetype first = characterCountAt(lowerStarts, at);
            const qsizetype last = characterCountAt(lowerStarts, at + needle.size());
            if (first < 0 || last < 0) {
                from = at + 1; // inside a character: not an occurrence
                continue;
            }
            from = at + needle.size();
            const auto count = static_cast<qsizetype>(textStarts.size()); // characters + 1
            if (first >= count || last >= count)
                continue;
            const qsizetype begin = textStarts[static_cast<std::size_t>(first)];
            const qsizetype end = textStarts[static_cast<std::size_t>(last)];
            for (qsizetype i = begin; i < end; ++i)
                marked[static_cast<std::size_t>(i)] = true;
        }
    }

    qsizetype runStart = 0;
    for (qsizetype i = 1; i <= text.size(); ++i) {
        if (i == text.size() ||
            marked[static_cast<std::size_t>(i)] != marked[static_cast<std::size_t>(runStart)]) {
            append(styled, text.sliced(runStart, i - runStart), marked[static_cast<std::size_t>(runStart)]);
            runStart = i;
        }
    }
    return styled;
}

} // namespace trovane
