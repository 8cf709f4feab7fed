// Character classification of the escape engine, checked over every unit.

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "escape/chars.h"
#include "text_util.h"

namespace {

struct Range {
    unsigned first, last;
};

bool InRanges(unsigned u, std::initializer_list<Range> ranges)
{
    for (const Range& r : ranges)
        if (u >= r.first && u <= r.last)
            return true;
    return false;
}

std::string Hex(unsigned u)
{
    char s[8];
    std::snprintf(s, sizeof s, "U+%04X", u);
    return s;
}

// Compares a classifier with the expected set over every unit and reports
// the first few units where they disagree.
template <typename Classify, typename Expected>
void ExpectOverEveryUnit(const char* name, Classify classify, Expected expected)
{
    int failures = 0;
    for (unsigned u = 0; u <= 0xFFFF && failures < 10; ++u) {
        if (classify(Unit(u)) != expected(u)) {
            ++failures;
            ADD_FAILURE() << name << "(" << Hex(u) << ") is " << classify(Unit(u)) << ", expected " << expected(u);
        }
    }
}

TEST(IsSpace, HoldsForExactlyTheRuntimeWhitespace)
{
    auto expected = [](unsigned u) {
        return InRanges(u, {{0x0009, 0x000D}, {0x0020, 0x0020}, {0x00A0, 0x00A0}, {0x1680, 0x1680},
                            {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F},
                            {0x3000, 0x3000}});
    };
    ExpectOverEveryUnit("IsSpace", IsSpace, expected);
    ExpectOverEveryUnit("TableIsSpace", TableIsSpace, expected);
}

TEST(IsSpace, ExcludesNextLineAndTheZeroWidthCharacters)
{
    // Unicode lists U+0085 as whitespace; the runtime does not, nor the
    // zero-width and byte-order characters, nor the Mongolian vowel separator.
    for (unsigned u : {0x0085u, 0x180Eu, 0x200Bu, 0x2060u, 0xFEFFu, 0x0000u, 0x001Fu})
        EXPECT_FALSE(IsSpace(Unit(u))) << Hex(u);
}

TEST(IsControl, HoldsForC0C1AndTheFormatCharacters)
{
    auto expected = [](unsigned u) {
        return InRanges(u, {{0x0000, 0x001F}, {0x007F, 0x009F}, {0x0600, 0x0605}, {0x061C, 0x061C},
                            {0x06DD, 0x06DD}, {0x070F, 0x070F}, {0x0890, 0x0891}, {0x08E2, 0x08E2},
                            {0x180E, 0x180E}, {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064},
                            {0x2066, 0x206F}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}});
    };
    ExpectOverEveryUnit("IsControl", IsControl, expected);
    ExpectOverEveryUnit("TableIsControl", TableIsControl, expected);
}

TEST(IsControl, EdgesOfTheControlBlocks)
{
    struct Edge {
        unsigned unit;
        bool control;
    };
    const Edge edges[] = {
        {0x001F, true}, {0x0020, false}, {0x007E, false}, {0x007F, true}, {0x009F, true},
        {0x00A0, false}, // no-break space is a space, not a control
        {0x00AD, false}, // the soft hyphen is printable here
        {0x200A, false}, {0x200B, true}, {0x200F, true}, {0x2010, false}, {0x2065, false},
        {0xD800, false}, {0xDFFF, false}, {0xE000, false}, {0xFFF8, false}, {0xFFFC, false}, {0xFFFF, false},
    };
    for (const Edge& e : edges)
        EXPECT_EQ(IsControl(Unit(e.unit)), e.control) << Hex(e.unit);
}

TEST(DigitHelpers, AcceptOnlyAsciiDigits)
{
    auto between = [](unsigned u, unsigned first, unsigned last) { return u >= first && u <= last; };
    ExpectOverEveryUnit("IsDecimalDigit", IsDecimalDigit, [&](unsigned u) { return between(u, '0', '9'); });
    ExpectOverEveryUnit("IsOctalDigit", IsOctalDigit, [&](unsigned u) { return between(u, '0', '7'); });
    ExpectOverEveryUnit("IsHexDigit", IsHexDigit, [&](unsigned u) {
        return between(u, '0', '9') || between(u, 'A', 'F') || between(u, 'a', 'f');
    });
}

TEST(DigitHelpers, DigitValueOfEveryUnit)
{
    ExpectOverEveryUnit("DigitValue", DigitValue, [](unsigned u) {
        const unsigned lower = u | 0x20;
        return u >= '0' && u <= '9' ? u - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : kNoDigit;
    });
}

TEST(SurrogateHelpers, SplitTheSurrogateBlockInTwo)
{
    ExpectOverEveryUnit("IsHighSurrogate", IsHighSurrogate, [](unsigned u) { return u >= 0xD800 && u <= 0xDBFF; });
    ExpectOverEveryUnit("IsLowSurrogate", IsLowSurrogate, [](unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; });
}

TEST(TextLength, CountsUnitsUpToTheNul)
{
    struct Row {
        const Unit* text;
        size_t length;
    };
    const Row rows[] = {
        {U16(""), 0},
        {U16("a"), 1},
        {U16("a\\tb"), 4},
        {U16("\xD83D\xDE00"), 2}, // a pair is two units
        {U16("ab\0cd"), 2},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TextLength(row.text), row.length);
}

} // namespace
