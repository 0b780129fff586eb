#pragma once
// Styled text for searched terms, as plain values the screens render: a list of runs, each either
// plain or highlighted. A highlighted run is drawn with a yellow background at the opacity of its
// strength and in bold; plain runs carry no attributes. Not used for the PDF.

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace trovane {

// How strongly highlighted runs stand out: both are bold on the standard yellow background, at
// the opacity backgroundOpacity() gives.
enum class HighlightStrength {
    snippet, // a search hit's snippet: opacity 0.35
    message, // search terms inside a message body: opacity 0.45
};

double backgroundOpacity(HighlightStrength strength);

struct StyledRun
{
    QString text;             // never empty
    bool highlighted = false; // background and bold; otherwise no attributes

    bool operator==(const StyledRun&) const = default;
};

struct StyledText
{
    // In text order. Neighbouring runs differ in `highlighted`, so equal styling gives equal runs.
    // Empty exactly when the text is empty.
    QList<StyledRun> runs;
    HighlightStrength strength = HighlightStrength::message;

    bool operator==(const StyledText&) const = default;

    // The characters of all runs, in order.
    QString plainText() const;
};

struct Highlight
{
    // A search hit's snippet without its markers: U+0002 opens a highlighted run, U+0003 closes it.
    // An unbalanced U+0002 highlights the rest; a U+0003 without an opening marker only ends a plain
    // run. Strength `snippet`. Pure; any thread.
    static StyledText snippet(QStringView text);

    // `text` with every occurrence of every term highlighted, strength `message`. Matching compares
    // the full, locale-independent lower-casing of text and term exactly, so it ignores case but not
    // diacritics ("cafe" does not match "café"), and finds terms inside words. Occurrences of one
    // term do not overlap; terms are independent of each other; empty terms are skipped. An
    // occurrence must begin and end on whole characters (grapheme clusters) of the lower-cased text;
    // its place there, counted in whole characters, is carried over to `text` by advancing as many
    // whole characters, and a place beyond the end of `text` drops the occurrence. Pure; any thread.
    static StyledText text(QStringView text, const QStringList& terms);
};

} // namespace trovane
