// ExpandEscapes and its digit readers.
//
// Every expansion runs in a buffer of at least MAX_ARG_LEN units followed by a
// guard of sentinel units, with a map filled with a sentinel, so that a write
// past what the call may touch shows up as a changed sentinel.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "escape/expand.h"
#include "text_util.h"

namespace {

using Text = std::u16string;
using Map = std::vector<int32_t>;

constexpr size_t kGuard = 64;
constexpr Unit kTextFill = 0xA5A5;
constexpr int32_t kMapFill = -0x5A5A5A5B; // no offset, no closing 0

std::string ShowMap(const Map& map)
{
    std::string s = "[";
    const size_t n = map.size();
    for (size_t k = 0; k < n; ++k) {
        if (n > 40 && k == 8) {
            s += "...";
            k = n - 24;
        }
        if (k > 0)
            s += ", ";
        s += map[k] == kMapFill ? "untouched" : std::to_string(map[k]);
    }
    return s + "]";
}

// The input, its NUL, then sentinels: MAX_ARG_LEN units or the text's length
// + 1 when longer, plus the guard.
std::vector<Unit> TextBuffer(const Text& input)
{
    std::vector<Unit> buffer(std::max<size_t>(MAX_ARG_LEN, input.size() + 1) + kGuard, kTextFill);
    std::copy(input.begin(), input.end(), buffer.begin());
    buffer[input.size()] = 0;
    return buffer;
}

Map MapBuffer() { return Map(MAX_ARG_LEN + kGuard, kMapFill); }

// Expands `input` with and without a map and checks the count, the text, the
// map with its closing 0, and that nothing past the expanded text's NUL or
// past the closing 0 was written. `offsets` leaves out the closing 0.
::testing::AssertionResult Expands(const Text& input, const Text& expected, int count, const Map& offsets)
{
    const std::vector<Unit> before = TextBuffer(input);
    std::vector<Unit> text = before;
    Map map = MapBuffer();
    const int result = ExpandEscapes(text.data(), map.data());

    const size_t length = size_t(std::find(text.begin(), text.end(), Unit(0)) - text.begin());
    const Text actual(text.begin(), text.begin() + long(length));
    const Map actualMap(map.begin(), map.begin() + long(std::min(length + 1, map.size())));

    const char* problem = nullptr;
    if (result != count)
        problem = "wrong result";
    else if (actual != expected)
        problem = "wrong text";
    else if (!std::equal(offsets.begin(), offsets.end(), map.begin()))
        problem = "wrong map";
    else if (map[length] != 0)
        problem = "no closing 0 in the map";
    else if (std::any_of(map.begin() + long(length) + 1, map.end(), [](int32_t e) { return e != kMapFill; }))
        problem = "map written past its closing 0";
    else if (!std::equal(text.begin() + long(length) + 1, text.end(), before.begin() + long(length) + 1))
        problem = "text written past its NUL";
    else {
        std::vector<Unit> plain = before;
        if (ExpandEscapes(plain.data(), nullptr) != result || plain != text)
            problem = "differs when expanded without a map";
    }
    if (problem == nullptr)
        return ::testing::AssertionSuccess();
    Map expectedMap = offsets;
    expectedMap.push_back(0);
    return ::testing::AssertionFailure()
           << problem << "\n  input:    " << Show(input) << "\n  expected: " << Show(expected) << " count "
           << count << " map " << ShowMap(expectedMap) << "\n  actual:   " << Show(actual) << " result "
           << result << " map " << ShowMap(actualMap);
}

// Expects RESULT_OVERFLOW with text and map exactly as they were, guard included.
::testing::AssertionResult Overflows(const Text& input)
{
    const std::vector<Unit> before = TextBuffer(input);
    std::vector<Unit> text = before;
    Map map = MapBuffer();
    const int result = ExpandEscapes(text.data(), map.data());
    std::vector<Unit> plain = before;
    const int plainResult = ExpandEscapes(plain.data(), nullptr);

    const char* problem = nullptr;
    if (result != RESULT_OVERFLOW || plainResult != RESULT_OVERFLOW)
        problem = "wrong result";
    else if (text != before || plain != before)
        problem = "text changed";
    else if (map != MapBuffer())
        problem = "map changed";
    if (problem == nullptr)
        return ::testing::AssertionSuccess();
    const size_t length = size_t(std::find(text.begin(), text.end(), Unit(0)) - text.begin());
    return ::testing::AssertionFailure()
           << problem << "\n  input:    " << Show(input) << "\n  expected: result " << RESULT_OVERFLOW
           << ", text and map unchanged\n  actual:   result " << result << " (" << plainResult
           << " without map), text " << Show(text.data(), length);
}

struct Row {
    const char16_t* input;
    const char16_t* output;
    int count;
    Map map; // one offset per output unit; the closing 0 is checked apart
};

void ExpectRows(const std::vector<Row>& rows)
{
    for (const Row& row : rows)
        EXPECT_TRUE(Expands(row.input, row.output, row.count, row.map));
}

// ---------------------------------------------------------------------------
// The escape language

TEST(ExpandEscapes, NamedEscapesProduceTheirCharacters)
{
    ExpectRows({
        {u"\\a", u"\u0007", 1, {0}},
        {u"\\b", u"\u0008", 1, {0}},
        {u"\\c", u",", 1, {0}},
        {u"\\e", u"\u001B", 1, {0}},
        {u"\\f", u"\u000C", 1, {0}},
        {u"\\k", u"`", 1, {0}},
        {u"\\n", u"\n", 1, {0}},
        {u"\\q", u"\"", 1, {0}},
        {u"\\r", u"\r", 1, {0}},
        {u"\\s", u" ", 1, {0}},
        {u"\\t", u"\t", 1, {0}},
        {u"\\v", u"\u000B", 1, {0}},
        {u"a\\tb", u"a\tb", 1, {0, 1, 3}},
        {u"\\q,\\c\\s\\k", u"\",, `", 4, {0, 2, 3, 5, 7}},
        {u"\\n\\n", u"\n\n", 2, {0, 2}},
    });
}

TEST(ExpandEscapes, BackslashBeforeAnyOtherUnitStandsForThatUnit)
{
    ExpectRows({
        {u"\\z", u"z", 0, {0}},
        {u"\\\\", u"\\", 0, {0}},
        {u"\\\"", u"\"", 0, {0}}, // how @exp's argument gets a double quote
        {u"\\,", u",", 0, {0}},
        {u"\\ ", u" ", 0, {0}},
        {u"\\8", u"8", 0, {0}}, // not an octal digit
        {u"\\9", u"9", 0, {0}},
        {u"\\T", u"T", 0, {0}}, // the letters are case-sensitive
        {u"\\N", u"N", 0, {0}},
        {u"\\X41", u"X41", 0, {0, 2, 3}},
        {u"\\d", u"d", 0, {0}},
        {u"\\\u00E9", u"\u00E9", 0, {0}},
        // A pair after a backslash: the high unit stands for itself, the low
        // unit is ordinary text with its own offset.
        {u"\\\xD83D\xDE00", u"\xD83D\xDE00", 0, {0, 2}},
        {u"a\\zb", u"azb", 0, {0, 1, 3}},
    });
}

TEST(ExpandEscapes, TrailingBackslashIsDropped)
{
    ExpectRows({
        {u"\\", u"", 0, {}},
        {u"ab\\", u"ab", 0, {0, 1}},
        {u"\\\\\\", u"\\", 0, {0}},
        {u"\\t\\", u"\t", 1, {0}},
    });
}

TEST(ExpandEscapes, MakesOnePassAndNeverExpandsItsOutput)
{
    ExpectRows({
        {u"\\\\x41", u"\\x41", 0, {0, 2, 3, 4}},
        {u"\\\\\\x41", u"\\A", 1, {0, 2}},
        {u"\\\\t", u"\\t", 0, {0, 2}},
        {u"\\\\\\\\", u"\\\\", 0, {0, 2}},
        {u"\\\\101", u"\\101", 0, {0, 2, 3, 4}},
        {u"\\x5C" u"t", u"\\t", 1, {0, 4}}, // \x5C produces a backslash, which stays one
    });
}

TEST(ExpandEscapes, OctalEscapes)
{
    ExpectRows({
        {u"\\101", u"A", 1, {0}},
        {u"\\1", u"\u0001", 1, {0}},
        {u"\\7", u"\u0007", 1, {0}},
        {u"\\12", u"\n", 1, {0}},
        {u"\\777", u"\u01FF", 1, {0}},
        {u"\\400", u"\u0100", 1, {0}},
        {u"\\001", u"\u0001", 1, {0}},           // leading zeros are digits
        {u"\\1017", u"A7", 1, {0, 4}},           // three digits at most
        {u"\\0101", u"\u00081", 1, {0, 4}},      // 010 then the digit 1
        {u"\\18", u"\u00018", 1, {0, 2}},        // 8 ends the digits
        {u"\\1\u0661", u"\u0001\u0661", 1, {0, 2}}, // so does a digit of another script
        {u"x\\101y", u"xAy", 1, {0, 1, 5}},
    });
}

TEST(ExpandEscapes, OctalEscapeOfZeroDigitsYieldsNothing)
{
    // The backslash and the first 0 go; the digits after it are text again.
    ExpectRows({
        {u"\\0", u"", 0, {}},
        {u"a\\0b", u"ab", 0, {0, 3}},
        {u"\\00", u"0", 0, {2}},
        {u"\\000", u"00", 0, {2, 3}},
        {u"\\08", u"8", 0, {2}},
        {u"\\0\\t", u"\t", 1, {2}},
        {u"\\0001", u"001", 0, {2, 3, 4}}, // the three zeros read make no escape
    });
}

TEST(ExpandEscapes, DecimalEscapes)
{
    ExpectRows({
        {u"\\#65", u"A", 1, {0}},
        {u"\\#1", u"\u0001", 1, {0}},
        {u"\\#65535", u"\uFFFF", 1, {0}},
        {u"\\#00065", u"A", 1, {0}},                // leading zeros are digits
        {u"\\#000650", u"A0", 1, {0, 7}},           // five digits at most
        {u"\\#123456", u"\u30396", 1, {0, 7}},      // 12345, then 6
        {u"\\#9x", u"\u0009x", 1, {0, 3}},
        {u"\\#6\uFF15", u"\u0006\uFF15", 1, {0, 3}}, // a fullwidth digit ends the digits
        {u"\\#55296", u"\xD800", 1, {0}},           // any unit value, surrogates too
    });
}

TEST(ExpandEscapes, HexEscapes)
{
    ExpectRows({
        {u"\\x41", u"A", 1, {0}},
        {u"\\x0041", u"A", 1, {0}},
        {u"\\x00410", u"A0", 1, {0, 6}}, // four digits at most
        {u"\\x4g", u"\u0004g", 1, {0, 3}},
        {u"\\xff", u"\u00FF", 1, {0}},
        {u"\\xfFfF", u"\uFFFF", 1, {0}},
        {u"\\xD800", u"\xD800", 1, {0}}, // x writes units, so lone surrogates are allowed
        {u"\\xdc00", u"\xDC00", 1, {0}},
        {u"\\x41\\x42", u"AB", 2, {0, 4}},
        {u"\\x1\uFF10", u"\u0001\uFF10", 1, {0, 3}}, // fullwidth 0 is no digit
    });
}

TEST(ExpandEscapes, CodePointEscapes)
{
    ExpectRows({
        {u"\\u20AC", u"\u20AC", 1, {0}},
        {u"\\u20ac", u"\u20AC", 1, {0}},
        {u"\\u41", u"A", 1, {0}},
        {u"\\u00410", u"A0", 1, {0, 6}}, // four digits at most
        {u"\\uD7FF", u"\uD7FF", 1, {0}},
        {u"\\uE000", u"\uE000", 1, {0}},
        {u"\\uFFFF", u"\uFFFF", 1, {0}},
        {u"\\U1F600z", u"\xD83D\xDE00z", 1, {0, 0, 7}}, // both units of a pair share the offset
        {u"\\U1f600", u"\xD83D\xDE00", 1, {0, 0}},
        {u"\\U0010FFFF", u"\xDBFF\xDFFF", 1, {0, 0}},
        {u"\\U10000", u"\xD800\xDC00", 1, {0, 0}},
        {u"\\U41", u"A", 1, {0}},
        {u"\\U0000FFFF", u"\uFFFF", 1, {0}},
        {u"\\U000000410", u"A0", 1, {0, 10}}, // eight digits at most
        {u"\\U1F600\\U1F601", u"\xD83D\xDE00\xD83D\xDE01", 2, {0, 0, 7, 7}},
    });
}

// Invalid numeric escapes: the backslash goes, the letter (or #) and the
// digits stay as ordinary text with their own offsets, and nothing is counted.
TEST(ExpandEscapes, MalformedNumericEscapesStayAsText)
{
    struct Malformed {
        const char16_t* input;
        const char16_t* output;
        Map map;
        const char* why;
    };
    const Malformed rows[] = {
        {u"\\#65536", u"#65536", {1, 2, 3, 4, 5, 6}, "above 65535"},
        {u"\\#99999", u"#99999", {1, 2, 3, 4, 5, 6}, "above 65535"},
        {u"\\#0", u"#0", {1, 2}, "value 0"},
        {u"\\#00000", u"#00000", {1, 2, 3, 4, 5, 6}, "value 0 however many zeros"},
        {u"\\#", u"#", {1}, "no digit: the text ends"},
        {u"\\#a", u"#a", {1, 2}, "no digit: a is not decimal"},
        {u"\\#\uFF11", u"#\uFF11", {1, 2}, "no digit: fullwidth 1 is not ASCII"},
        {u"\\#\u0661", u"#\u0661", {1, 2}, "no digit: Arabic-Indic 1 is not ASCII"},
        {u"\\xg", u"xg", {1, 2}, "no digit: g is not hexadecimal"},
        {u"\\x0", u"x0", {1, 2}, "value 0"},
        {u"\\x0000", u"x0000", {1, 2, 3, 4, 5}, "value 0"},
        {u"\\x", u"x", {1}, "no digit: the text ends"},
        {u"\\x\uFF21", u"x\uFF21", {1, 2}, "no digit: fullwidth A is not ASCII"},
        {u"\\uD800", u"uD800", {1, 2, 3, 4, 5}, "u names characters: no surrogates"},
        {u"\\uDFFF", u"uDFFF", {1, 2, 3, 4, 5}, "u names characters: no surrogates"},
        {u"\\u0000", u"u0000", {1, 2, 3, 4, 5}, "value 0"},
        {u"\\u", u"u", {1}, "no digit: the text ends"},
        {u"\\uz", u"uz", {1, 2}, "no digit"},
        {u"\\U110000", u"U110000", {1, 2, 3, 4, 5, 6, 7}, "above U+10FFFF"},
        {u"\\U10FFFF0", u"U10FFFF0", {1, 2, 3, 4, 5, 6, 7, 8}, "above U+10FFFF, though U10FFFF alone is valid"},
        {u"\\UFFFFFFFF", u"UFFFFFFFF", {1, 2, 3, 4, 5, 6, 7, 8, 9}, "the largest eight digits"},
        {u"\\U0000D800", u"U0000D800", {1, 2, 3, 4, 5, 6, 7, 8, 9}, "U names characters: no surrogates"},
        {u"\\UDFFF", u"UDFFF", {1, 2, 3, 4, 5}, "U names characters: no surrogates"},
        {u"\\U00000000", u"U00000000", {1, 2, 3, 4, 5, 6, 7, 8, 9}, "value 0"},
        {u"\\U0", u"U0", {1, 2}, "value 0"},
        {u"\\U", u"U", {1}, "no digit: the text ends"},
        {u"ab\\U110000", u"abU110000", {0, 1, 3, 4, 5, 6, 7, 8, 9}, "offsets count from the text's start"},
    };
    for (const Malformed& row : rows)
        EXPECT_TRUE(Expands(row.input, row.output, 0, row.map)) << "  why:      " << row.why;
}

TEST(ExpandEscapes, MapOfMixedText)
{
    ExpectRows({
        {u"a\\tb\\U1F600z", u"a\tb\xD83D\xDE00z", 2, {0, 1, 3, 4, 4, 11}},
        {u"\\x41\\u0042\\U43\\#68\\105\\n", u"ABCDE\n", 6, {0, 4, 10, 14, 18, 22}},
        {u"\\0\\00\\#0\\8x", u"0#08x", 0, {4, 6, 7, 8, 10}},
        {u"\\x\\t", u"x\t", 1, {1, 2}}, // x without digits is text; the next backslash still escapes
        {u"\xD83D\xDE00\\t", u"\xD83D\xDE00\t", 1, {0, 1, 2}}, // a pair in the text is two ordinary units
    });
}

// ---------------------------------------------------------------------------
// Arguments

TEST(ExpandEscapes, EmptyTextReturnsZeroAndLeavesTheMap)
{
    std::vector<Unit> text = TextBuffer(u"");
    const std::vector<Unit> before = text;
    Map map = MapBuffer();
    EXPECT_EQ(ExpandEscapes(text.data(), map.data()), 0);
    EXPECT_EQ(text, before);
    EXPECT_EQ(map, MapBuffer());
    EXPECT_EQ(ExpandEscapes(text.data(), nullptr), 0);
    EXPECT_EQ(text, before);
}

TEST(ExpandEscapes, NullTextIsMissing)
{
    Map map = MapBuffer();
    EXPECT_EQ(ExpandEscapes(nullptr, map.data()), RESULT_MISSING);
    EXPECT_EQ(map, MapBuffer());
    EXPECT_EQ(ExpandEscapes(nullptr, nullptr), RESULT_MISSING);
}

TEST(ExpandEscapes, TextWithoutBackslashesIsUnchanged)
{
    ExpectRows({
        {u"a", u"a", 0, {0}},
        {u"plain text, \"quoted\"", u"plain text, \"quoted\"", 0,
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        {u"\u00E9\xD83D\xDE00\uFFFF\t", u"\u00E9\xD83D\xDE00\uFFFF\t", 0, {0, 1, 2, 3, 4}},
        {u"#41 x41 u41 U41", u"#41 x41 u41 U41", 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
    });
}

// ---------------------------------------------------------------------------
// The limits at the end of the buffer. The texts of more than 8191 units are
// longer than any caller passes; they sit in buffers of their length + 1.

Text Ordinary(int n)
{
    Text t;
    for (int k = 0; k < n; ++k)
        t += char16_t('a' + k % 26);
    return t;
}

TEST(ExpandEscapes, LimitsAtTheEndOfTheBuffer)
{
    struct Limit {
        int ordinary;          // ordinary units before the tail
        const char16_t* tail;
        int result;            // the count, or RESULT_OVERFLOW
        const char16_t* tailOutput;
        Map tailMap;           // offsets counted from the tail's start
        const char* why;
    };
    const Limit rows[] = {
        {8189, u"", 0, u"", {}, "short of the limit"},
        {8190, u"", 0, u"", {}, "short of the limit"},
        {8191, u"", 0, u"", {}, "the longest text, accepted whole"},
        {8192, u"", RESULT_OVERFLOW, u"", {}, "one ordinary unit too many"},

        {8187, u"\\t", 1, u"\t", {0}, "8189 units ending in a named escape"},
        {8188, u"\\t", 1, u"\t", {0}, "8190 units ending in a named escape"},
        {8189, u"\\t", 1, u"\t", {0}, "8191 units ending in a named escape"},
        {8190, u"\\t", 1, u"\t", {0}, "a named escape may bring the text to 8191 units"},
        {8191, u"\\t", RESULT_OVERFLOW, u"", {}, "no room for a named escape after 8191 units"},
        {8190, u"\\\\", 0, u"\\", {0}, "a doubled backslash may bring the text to 8191 units"},

        {8185, u"\\x41", 1, u"A", {0}, "8189 units ending in a numeric escape"},
        {8186, u"\\x41", 1, u"A", {0}, "8190 units ending in a numeric escape"},
        {8187, u"\\x41", 1, u"A", {0}, "8191 units ending in a numeric escape"},
        {8188, u"\\x41", 1, u"A", {0}, "8192 units ending in a numeric escape"},
        {8189, u"\\x41", 1, u"A", {0}, "a numeric escape may bring the text to 8190 units"},
        {8190, u"\\x41", RESULT_OVERFLOW, u"", {}, "a numeric escape may not reach 8191 units"},
        {8189, u"\\101", 1, u"A", {0}, "octal: up to 8190 units"},
        {8190, u"\\101", RESULT_OVERFLOW, u"", {}, "octal: not to 8191"},
        {8189, u"\\#65", 1, u"A", {0}, "decimal: up to 8190 units"},
        {8190, u"\\#65", RESULT_OVERFLOW, u"", {}, "decimal: not to 8191"},
        {8189, u"\\u20AC", 1, u"\u20AC", {0}, "u: up to 8190 units"},
        {8190, u"\\u20AC", RESULT_OVERFLOW, u"", {}, "u: not to 8191"},
        {8189, u"\\U41", 1, u"A", {0}, "U below U+10000 needs room for one unit only"},

        {8182, u"\\U1F600", 1, u"\xD83D\xDE00", {0, 0}, "8189 units ending in a pair escape"},
        {8185, u"\\U1F600", 1, u"\xD83D\xDE00", {0, 0}, "8192 units ending in a pair escape"},
        {8188, u"\\U1F600", 1, u"\xD83D\xDE00", {0, 0}, "a pair may bring the text to 8190 units"},
        {8189, u"\\U1F600", RESULT_OVERFLOW, u"", {}, "a pair may not reach 8191 units"},
        {8190, u"\\U0010FFFF", RESULT_OVERFLOW, u"", {}, "no room for a pair at 8190 units"},

        {8188, u"\\", 0, u"", {}, "8189 units ending in a lone backslash"},
        {8190, u"\\", 0, u"", {}, "8191 units ending in a lone backslash"},
        {8191, u"\\", RESULT_OVERFLOW, u"", {}, "a lone backslash after 8191 units still fails"},
        {8190, u"\\0", 0, u"", {}, "a zero octal escape yields nothing"},
        {8191, u"\\0", RESULT_OVERFLOW, u"", {}, "... but after 8191 units it fails all the same"},
        {8190, u"\\x", 0, u"x", {1}, "an escape cut off at the end: the letter is text"},
        {8191, u"\\x", RESULT_OVERFLOW, u"", {}, "... which does not fit after 8191 units"},
        {8185, u"\\#65536", 0, u"#65536", {1, 2, 3, 4, 5, 6}, "an invalid escape's text up to 8191 units"},
        {8186, u"\\#65536", RESULT_OVERFLOW, u"", {}, "an invalid escape's text beyond 8191 units"},
    };
    for (const Limit& row : rows) {
        const Text input = Ordinary(row.ordinary) + row.tail;
        if (row.result == RESULT_OVERFLOW) {
            EXPECT_TRUE(Overflows(input)) << "  why:      " << row.why;
            continue;
        }
        Map map;
        for (int k = 0; k < row.ordinary; ++k)
            map.push_back(k);
        for (int32_t offset : row.tailMap)
            map.push_back(row.ordinary + offset);
        EXPECT_TRUE(Expands(input, Ordinary(row.ordinary) + row.tailOutput, row.result, map))
            << "  why:      " << row.why;
    }
}

// ---------------------------------------------------------------------------
// Every unit and every code point

// One buffer and map for the long loops: only the first few units are reset
// between calls, and a sentinel after them shows stray writes.
struct Scratch {
    std::vector<Unit> text = std::vector<Unit>(MAX_ARG_LEN, kTextFill);
    Map map = Map(MAX_ARG_LEN, kMapFill);

    int Expand(const Text& input)
    {
        std::fill(text.begin(), text.begin() + 64, kTextFill);
        std::fill(map.begin(), map.begin() + 64, kMapFill);
        std::copy(input.begin(), input.end(), text.begin());
        text[input.size()] = 0;
        return ExpandEscapes(text.data(), map.data());
    }
};

constexpr int kMaxReported = 10;

TEST(ExpandEscapes, EveryUnitAloneExpandsToItself)
{
    Scratch s;
    int failures = 0;
    for (unsigned c = 1; c <= 0xFFFF && failures < kMaxReported; ++c) {
        if (c == '\\')
            continue;
        const int result = s.Expand(Text(1, char16_t(c)));
        if (result != 0 || s.text[0] != c || s.text[1] != 0 || s.text[2] != kTextFill || s.map[0] != 0 ||
            s.map[1] != 0 || s.map[2] != kMapFill) {
            ++failures;
            ADD_FAILURE() << "input " << Show(Text(1, char16_t(c))) << ": result " << result << ", text "
                          << Show(s.text.data(), 3) << ", map " << ShowMap(Map(s.map.begin(), s.map.begin() + 3));
        }
    }
}

TEST(ExpandEscapes, EveryUnitWithoutAnEscapeMeaningStandsForItselfAfterBackslash)
{
    // The units that do start something after a backslash; the tables above
    // cover them.
    const Text special = u"abcefknqrstv01234567#xuU";
    Scratch s;
    int failures = 0;
    for (unsigned c = 1; c <= 0xFFFF && failures < kMaxReported; ++c) {
        if (special.find(char16_t(c)) != Text::npos)
            continue;
        const Text input = Text(u"y\\") + char16_t(c);
        const int result = s.Expand(input);
        if (result != 0 || s.text[0] != 'y' || s.text[1] != c || s.text[2] != 0 || s.map[0] != 0 ||
            s.map[1] != 1 || s.map[2] != 0 || s.map[3] != kMapFill) {
            ++failures;
            ADD_FAILURE() << "input " << Show(input) << ": result " << result << ", text "
                          << Show(s.text.data(), 3) << ", map " << ShowMap(Map(s.map.begin(), s.map.begin() + 4));
        }
    }
}

Text HexDigits(uint32_t value, int digits)
{
    Text t(size_t(digits), u'0');
    for (int k = digits - 1; k >= 0; --k, value >>= 4)
        t[size_t(k)] = u"0123456789abcdef"[value & 0xF];
    return t;
}

TEST(ExpandEscapes, EveryCodePointThroughLongEscapeGivesItsUtf16Form)
{
    Scratch s;
    int failures = 0;
    for (uint32_t cp = 1; cp <= 0x10FFFF && failures < kMaxReported; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        const Text input = u"a\\U" + HexDigits(cp, 8);
        const int result = s.Expand(input);
        // Decode what came out rather than encode what should.
        uint32_t decoded = 0;
        size_t units = 0;
        const Unit u0 = s.text[1], u1 = s.text[2];
        if (u0 >= 0xD800 && u0 <= 0xDBFF && u1 >= 0xDC00 && u1 <= 0xDFFF) {
            decoded = 0x10000 + ((uint32_t(u0) - 0xD800) << 10) + (uint32_t(u1) - 0xDC00);
            units = 2;
        } else {
            decoded = u0;
            units = 1;
        }
        const bool mapOk = s.map[0] == 0 && s.map[1] == 1 && (units == 1 || s.map[2] == 1) &&
                           s.map[1 + units] == 0 && s.map[2 + units] == kMapFill;
        if (result != 1 || s.text[0] != 'a' || decoded != cp || units != (cp > 0xFFFF ? 2u : 1u) ||
            s.text[1 + units] != 0 || !mapOk) {
            ++failures;
            ADD_FAILURE() << "input " << Show(input) << ": result " << result << ", text "
                          << Show(s.text.data(), 4) << ", map " << ShowMap(Map(s.map.begin(), s.map.begin() + 5));
        }
    }
}

TEST(ExpandEscapes, SurrogateValuesExpandOnlyThroughX)
{
    Scratch s;
    int failures = 0;
    for (uint32_t v = 0xD800; v <= 0xDFFF && failures < kMaxReported; ++v) {
        const Text x = u"\\x" + HexDigits(v, 4);
        const Text u4 = u"\\u" + HexDigits(v, 4);
        const Text u8 = u"\\U" + HexDigits(v, 8);
        int result = s.Expand(x);
        if (result != 1 || s.text[0] != v || s.text[1] != 0) {
            ++failures;
            ADD_FAILURE() << "input " << Show(x) << ": result " << result << ", text " << Show(s.text.data(), 2);
        }
        for (const Text& input : {u4, u8}) {
            result = s.Expand(input);
            if (result != 0 || Text(s.text.data()) != input.substr(1)) {
                ++failures;
                ADD_FAILURE() << "input " << Show(input) << ": result " << result << ", text "
                              << Show(s.text.data(), input.size());
            }
        }
    }
}

// Random texts rich in backslashes, digits and escape letters, checked
// against what any expansion must satisfy. The seed is fixed; a failure
// prints it with the text.
TEST(ExpandEscapes, RandomTextsKeepTheMapInvariants)
{
    const unsigned seed = 20240611;
    std::mt19937 random(seed);
    const Text pool = u"\\\\\\\\\\abcefknqrstvzX0123456789#xuUFfDd \u00E9\uFF10\xD83D\xDE00";
    std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<size_t> length(1, 24);
    Scratch s;
    for (int iteration = 0; iteration < 20000; ++iteration) {
        Text input;
        for (size_t n = length(random); n > 0; --n)
            input += pool[pick(random)];
        const int result = s.Expand(input);
        const Text out(s.text.data());
        const size_t n = out.size();
        const long backslashes = std::count(input.begin(), input.end(), u'\\');

        const char* problem = nullptr;
        if (result < 0 || result > backslashes)
            problem = "count out of range";
        else if (n > input.size())
            problem = "longer than the input";
        else if (s.map[n] != 0 || s.map[n + 1] != kMapFill)
            problem = "bad closing 0";
        for (size_t k = 0; k < n && problem == nullptr; ++k) {
            const int32_t at = s.map[k];
            if (at < 0 || size_t(at) >= input.size())
                problem = "offset outside the input";
            else if (input[size_t(at)] != u'\\' && input[size_t(at)] != out[k])
                problem = "an ordinary unit's offset points at another unit";
            else if (k > 0 && at < s.map[k - 1])
                problem = "offsets decrease";
            else if (k > 0 && at == s.map[k - 1] &&
                     !(out[k - 1] >= 0xD800 && out[k - 1] <= 0xDBFF && out[k] >= 0xDC00 && out[k] <= 0xDFFF &&
                       input[size_t(at)] == u'\\'))
                problem = "an offset repeats outside a pair from one escape";
        }
        if (problem == nullptr) {
            std::vector<Unit> plain = TextBuffer(input);
            if (ExpandEscapes(plain.data(), nullptr) != result || Text(plain.data()) != out)
                problem = "differs when expanded without a map";
        }
        if (problem != nullptr) {
            ADD_FAILURE() << problem << " (seed " << seed << ", iteration " << iteration << ")\n  input:  "
                          << Show(input) << "\n  output: " << Show(out) << " result " << result << " map "
                          << ShowMap(Map(s.map.begin(), s.map.begin() + long(n) + 1));
            break;
        }
    }
}

// ---------------------------------------------------------------------------
// The digit readers, called directly

using ReadFn = int (*)(const Unit*, ExpandOutput*);

struct Reader {
    const char* name;
    ReadFn read;
};

const Reader kOctal{"ReadOctalEscape", ReadOctalEscape};
const Reader kDecimal{"ReadDecimalEscape", ReadDecimalEscape};
const Reader kHex{"ReadHexEscape", ReadHexEscape};
const Reader kCode4{"ReadCodePointEscape(4)", [](const Unit* d, ExpandOutput* o) { return ReadCodePointEscape(d, o, 4); }};
const Reader kCode8{"ReadCodePointEscape(8)", [](const Unit* d, ExpandOutput* o) { return ReadCodePointEscape(d, o, 8); }};

// Runs a reader on `digits` with an output that already holds `before`
// units, and checks the result, the appended units, and that nothing but the
// appended units (and at most the slot behind them) was written.
::testing::AssertionResult Reads(const Reader& reader, const Text& digits, int before, int expected,
                                 const Text& appended)
{
    std::vector<Unit> buffer(MAX_ARG_LEN + kGuard, kTextFill);
    for (int k = 0; k < before; ++k)
        buffer[size_t(k)] = Unit('a' + k % 26);
    const std::vector<Unit> original = buffer;
    ExpandOutput out{buffer.data(), before};
    const int result = reader.read(digits.c_str(), &out);

    const char* problem = nullptr;
    const size_t end = size_t(before) + appended.size();
    if (result != expected)
        problem = "wrong result";
    else if (out.units != buffer.data() || out.length != int(end))
        problem = "wrong output length";
    else if (!std::equal(buffer.begin(), buffer.begin() + before, original.begin()))
        problem = "units before the output's end changed";
    else if (!std::equal(appended.begin(), appended.end(), buffer.begin() + before))
        problem = "wrong units appended";
    else if (!std::equal(buffer.begin() + long(end) + (end > size_t(before) ? 1 : 0), buffer.end(),
                         original.begin() + long(end) + (end > size_t(before) ? 1 : 0)))
        problem = "written past the appended units";
    if (problem == nullptr)
        return ::testing::AssertionSuccess();
    const size_t shown = std::min(buffer.size(), size_t(std::max(out.length, before)) + 1) - size_t(before);
    return ::testing::AssertionFailure()
           << problem << "\n  " << reader.name << " on " << Show(digits) << " after " << before
           << " units\n  expected: " << expected << ", appending " << Show(appended) << "\n  actual:   " << result
           << ", length " << out.length << ", units from " << before << ": " << Show(buffer.data() + before, shown);
}

TEST(DigitReaders, ReadTheirDigitsAndAppendTheUnits)
{
    struct ReadRow {
        const Reader& reader;
        const char16_t* digits;
        int result; // digits consumed, or 0 for an invalid escape
        const char16_t* appended;
    };
    const ReadRow rows[] = {
        {kOctal, u"101", 3, u"A"},
        {kOctal, u"1017", 3, u"A"},
        {kOctal, u"1", 1, u"\u0001"},
        {kOctal, u"18", 1, u"\u0001"},
        {kOctal, u"777", 3, u"\u01FF"},
        {kOctal, u"0", 0, u""},
        {kOctal, u"000", 0, u""},
        {kOctal, u"8", 0, u""},
        {kOctal, u"", 0, u""},
        {kDecimal, u"65", 2, u"A"},
        {kDecimal, u"65535", 5, u"\uFFFF"},
        {kDecimal, u"123456", 5, u"\u3039"},
        {kDecimal, u"00065", 5, u"A"},
        {kDecimal, u"6\uFF15", 1, u"\u0006"},
        {kDecimal, u"65536", 0, u""},
        {kDecimal, u"0", 0, u""},
        {kDecimal, u"a", 0, u""},
        {kDecimal, u"\uFF16\uFF15", 0, u""},
        {kDecimal, u"\u0666\u0665", 0, u""},
        {kHex, u"41", 2, u"A"},
        {kHex, u"0041", 4, u"A"},
        {kHex, u"00410", 4, u"A"},
        {kHex, u"4g", 1, u"\u0004"},
        {kHex, u"dC00", 4, u"\xDC00"},
        {kHex, u"g", 0, u""},
        {kHex, u"0", 0, u""},
        {kHex, u"\uFF21", 0, u""},
        {kHex, u"\uFF41", 0, u""},
        {kCode4, u"20AC", 4, u"\u20AC"},
        {kCode4, u"10000", 4, u"\u1000"},
        {kCode4, u"41", 2, u"A"},
        {kCode4, u"D800", 0, u""},
        {kCode4, u"0000", 0, u""},
        {kCode8, u"1F600", 5, u"\xD83D\xDE00"},
        {kCode8, u"0010FFFF", 8, u"\xDBFF\xDFFF"},
        {kCode8, u"000000410", 8, u"A"},
        {kCode8, u"41", 2, u"A"},
        {kCode8, u"110000", 0, u""},
        {kCode8, u"10FFFF0", 0, u""},
        {kCode8, u"FFFFFFFF", 0, u""},
        {kCode8, u"DFFF", 0, u""},
    };
    for (const ReadRow& row : rows)
        EXPECT_TRUE(Reads(row.reader, row.digits, 3, row.result, row.appended));
}

TEST(DigitReaders, NullPointersReadNothing)
{
    for (const Reader& reader : {kOctal, kDecimal, kHex, kCode4, kCode8}) {
        Unit units[4] = {'p', 0, 0, 0};
        ExpandOutput out{units, 1};
        EXPECT_EQ(reader.read(nullptr, &out), 0) << reader.name;
        EXPECT_EQ(out.length, 1) << reader.name;
        EXPECT_EQ(units[0], 'p') << reader.name;
        EXPECT_EQ(units[1], 0) << reader.name;
        EXPECT_EQ(reader.read(u"41", nullptr), 0) << reader.name;
    }
}

TEST(DigitReaders, AppendOnlyWhatFitsIn8191Units)
{
    struct RoomRow {
        const Reader& reader;
        const char16_t* digits;
        int before; // units in the output already
        int result;
        const char16_t* appended;
    };
    const RoomRow rows[] = {
        {kHex, u"41", 8190, 2, u"A"},
        {kHex, u"41", 8191, RESULT_OVERFLOW, u""},
        {kOctal, u"101", 8190, 3, u"A"},
        {kOctal, u"101", 8191, RESULT_OVERFLOW, u""},
        {kDecimal, u"65", 8190, 2, u"A"},
        {kDecimal, u"65", 8191, RESULT_OVERFLOW, u""},
        {kCode4, u"20AC", 8190, 4, u"\u20AC"},
        {kCode4, u"20AC", 8191, RESULT_OVERFLOW, u""},
        {kCode8, u"41", 8190, 2, u"A"},                        // one unit needs one slot
        {kCode8, u"1F600", 8189, 5, u"\xD83D\xDE00"},          // a pair needs two
        {kCode8, u"1F600", 8190, RESULT_OVERFLOW, u""},
        {kCode8, u"10FFFF", 8191, RESULT_OVERFLOW, u""},
        {kHex, u"g", 8191, 0, u""},                            // invalid comes before room
        {kCode8, u"110000", 8191, 0, u""},
    };
    for (const RoomRow& row : rows)
        EXPECT_TRUE(Reads(row.reader, row.digits, row.before, row.result, row.appended));
}

} // namespace
