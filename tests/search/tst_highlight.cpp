// Highlighting: snippets with the index's markers, and search terms inside a message body counted in
// whole characters, with combining marks, emoji sequences, flags, surrogate pairs and lower-casing
// that changes the length of the text.

#include "search/highlight.h"

#include <QTest>

using namespace trovane;

namespace {

// The runs with highlighted ones in brackets; also checks the runs' shape.
QString render(const StyledText& styled)
{
    QString out;
    for (qsizetype i = 0; i < styled.runs.size(); ++i) {
        const StyledRun& run = styled.runs[i];
        if (run.text.isEmpty())
            return QStringLiteral("<empty run>");
        if (i > 0 && styled.runs[i - 1].highlighted == run.highlighted)
            return QStringLiteral("<neighbouring runs alike>");
        out += run.highlighted ? u'[' + run.text + u']' : run.text;
    }
    return out;
}

} // namespace

class TestHighlight : public QObject
{
    Q_OBJECT

private slots:
    void snippet_data()
    {
        QTest::addColumn<QString>("snippet");
        QTest::addColumn<QString>("expected");
        QTest::addRow("one match") << QStringLiteral("…we met at the\u0002cafe\u0003 on Main…")
                                   << QStringLiteral("…we met at the[cafe] on Main…");
        QTest::addRow("two matches") << QStringLiteral("\u0002a\u0003 b \u0002c\u0003")
                                     << QStringLiteral("[a] b [c]");
        QTest::addRow("no markers") << QStringLiteral("plain text") << QStringLiteral("plain text");
        QTest::addRow("empty") << QString() << QString();
        QTest::addRow("unbalanced opening") << QStringLiteral("ab\u0002cd") << QStringLiteral("ab[cd]");
        QTest::addRow("closing without opening") << QStringLiteral("ab\u0003cd") << QStringLiteral("abcd");
        QTest::addRow("opened twice") << QStringLiteral("a\u0002b\u0002c\u0003d") << QStringLiteral("a[bc]d");
        QTest::addRow("markers only") << QStringLiteral("\u0002\u0003\u0003\u0002") << QString();
        QTest::addRow("marker around emoji")
            << QStringLiteral("x\u0002👨‍👩‍👧\u0003y") << QStringLiteral("x[👨‍👩‍👧]y");
    }

    void snippet()
    {
        QFETCH(QString, snippet);
        QFETCH(QString, expected);
        const StyledText styled = Highlight::snippet(snippet);
        QCOMPARE(render(styled), expected);
        QCOMPARE(styled.strength, HighlightStrength::snippet);
    }

    void snippetRuns()
    {
        const StyledText styled =
            Highlight::snippet(QStringLiteral("…we met at the\u0002cafe\u0003 on Main…"));
        QCOMPARE(styled.runs, (QList<StyledRun>{{QStringLiteral("…we met at the"), false},
                                                {QStringLiteral("cafe"), true},
                                                {QStringLiteral(" on Main…"), false}}));
        QCOMPARE(Highlight::snippet(QString()).runs, QList<StyledRun>());
        QCOMPARE(backgroundOpacity(HighlightStrength::snippet), 0.35);
        QCOMPARE(backgroundOpacity(HighlightStrength::message), 0.45);
    }

    void text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const char* text, QStringList terms, const char* expected) {
            QTest::addRow("%s", name) << QString::fromUtf8(text) << terms << QString::fromUtf8(expected);
        };
        // Positions 1–2 and 3–4: two occurrences next to each other, not overlapping.
        row("Banana, an", "Banana", {"an"}, "B[anan]a");
        row("Banana, ANA", "Banana", {"ANA"}, "B[ana]na");
        row("overlapping occurrences of one term", "aaa", {"aa"}, "[aa]a");
        row("inside words", "Hello, HELLO world", {"llo"}, "He[llo], HE[LLO] world");
        row("diacritics not folded", "café", {"cafe"}, "café");
        row("decomposed diacritic not split", "cafe\u0301 cafe", {"cafe"}, "cafe\u0301 [cafe]");
        row("decomposed term", "cafe\u0301!", {"CAFE\u0301"}, "[cafe\u0301]!");
        row("no terms", "hello", {}, "hello");
        row("an empty term", "hello", {""}, "hello");
        row("terms are independent", "hello", {"hello", "lo"}, "[hello]");
        row("two terms meet", "abcd", {"ab", "cd"}, "[abcd]");
        row("term longer than the text", "ab", {"abc"}, "ab");
        row("empty text", "", {"a"}, "");
        row("combining marks", "e\u0301te\u0301 ne\u0301", {"t", "n"}, "e\u0301[t]e\u0301 [n]e\u0301");
        // Lower-casing İ gives i and a combining dot: one character still, but two UTF-16 units.
        row("lower-casing lengthens the text", "İSTANBUL İzmir", {"izmir", "stan"}, "İ[STAN]BUL İzmir");
        row("lengthened before the match", "İİ 👨‍👩‍👧 ok", {"ok"},
            "İİ 👨‍👩‍👧 [ok]");
        row("term that lower-cases longer", "İzmir", {"İz"}, "[İz]mir");
        row("half of a lower-cased character", "İSTANBUL", {"i"}, "İSTANBUL");
        row("emoji sequence", "hi 👨‍👩‍👧 there 👨‍👩‍👧", {"👨‍👩‍👧"},
            "hi [👨‍👩‍👧] there [👨‍👩‍👧]");
        row("part of an emoji sequence", "👨‍👩‍👧", {"👩"}, "👨‍👩‍👧");
        row("skin tone", "👍🏽 👍", {"👍"}, "👍🏽 [👍]");
        row("flags", "🇫🇷🇩🇪 x", {"🇩🇪"}, "🇫🇷[🇩🇪] x");
        row("regional indicators across two flags", "🇫🇷🇩🇪", {"🇷🇩"}, "🇫🇷🇩🇪");
        row("surrogate pairs with case", "𐐀𐐁x", {"𐐩"}, "𐐀[𐐁]x");
        row("surrogate pairs without case", "𝐀bc", {"BC"}, "𝐀[bc]");
        row("CRLF is one character", "a\r\nb", {"b"}, "a\r\n[b]");
    }

    void text()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, terms);
        QFETCH(QString, expected);
        const StyledText styled = Highlight::text(text, terms);
        QCOMPARE(render(styled), expected);
        QCOMPARE(styled.plainText(), text);
        QCOMPARE(styled.strength, HighlightStrength::message);
    }
};

QTEST_GUILESS_MAIN(TestHighlight)
#include "tst_highlight.moc"
