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
    const Unit* input;
    const Unit* output;
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
        {U16("\\a"), U16("\u0007"), 1, {0}},
        {U16("\\b"), U16("\u0008"), 1, {0}},
        {U16("\\c"), U16(","), 1, {0}},
        {U16("\\e"), U16("\u001B"), 1, {0}},
        {U16("\\f"), U16("\u000C"), 1, {0}},
        {U16("\\k"), U16("`"), 1, {0}},
        {U16("\\n"), U16("\n"), 1, {0}},
        {U16("\\q"), U16("\""), 1, {0}},
        {U16("\\r"), U16("\r"), 1, {0}},
        {U16("\\s"), U16(" "), 1, {0}},
        {U16("\\t"), U16("\t"), 1, {0}},
        {U16("\\v"), U16("\u000B"), 1, {0}},
        {U16("a\\tb"), U16("a\tb"), 1, {0, 1, 3}},
        {U16("\\q,\\c\\s\\k"), U16("\",, `"), 4, {0, 2, 3, 5, 7}},
        {U16("\\n\\n"), U16("\n\n"), 2, {0, 2}},
    });
}

TEST(ExpandEscapes, BackslashBeforeAnyOtherUnitStandsForThatUnit)
{
    ExpectRows({
        {U16("\\z"), U16("z"), 0, {0}},
        {U16("\\\\"), U16("\\"), 0, {0}},
        {U16("\\\""), U16("\""), 0, {0}}, // how @exp's argument gets a double quote
        {U16("\\,"), U16(","), 0, {0}},
        {U16("\\ "), U16(" "), 0, {0}},
        {U16("\\8"), U16("8"), 0, {0}}, // not an octal digit
        {U16("\\9"), U16("9"), 0, {0}},
        {U16("\\T"), U16("T"), 0, {0}}, // the letters are case-sensitive
        {U16("\\N"), U16("N"), 0, {0}},
        {U16("\\X41"), U16("X41"), 0, {0, 2, 3}},
        {U16("\\d"), U16("d"), 0, {0}},
        {U16("\\\u00E9"), U16("\u00E9"), 0, {0}},
        // A pair after a backslash: the high unit stands for itself, the low
        // unit is ordinary text with its own offset.
        {U16("\\\xD83D\xDE00"), U16("\xD83D\xDE00"), 0, {0, 2}},
        {U16("a\\zb"), U16("azb"), 0, {0, 1, 3}},
    });
}

TEST(ExpandEscapes, TrailingBackslashIsDropped)
{
    ExpectRows({
        {U16("\\"), U16(""), 0, {}},
        {U16("ab\\"), U16("ab"), 0, {0, 1}},
        {U16("\\\\\\"), U16("\\"), 0, {0}},
        {U16("\\t\\"), U16("\t"), 1, {0}},
    });
}

TEST(ExpandEscapes, MakesOnePassAndNeverExpandsItsOutput)
{
    ExpectRows({
        {U16("\\\\x41"), U16("\\x41"), 0, {0, 2, 3, 4}},
        {U16("\\\\\\x41"), U16("\\A"), 1, {0, 2}},
        {U16("\\\\t"), U16("\\t"), 0, {0, 2}},
        {U16("\\\\\\\\"), U16("\\\\"), 0, {0, 2}},
        {U16("\\\\101"), U16("\\101"), 0, {0, 2, 3, 4}},
        {U16("\\x5C") U16("t"), U16("\\t"), 1, {0, 4}}, // \x5C produces a backslash, which stays one
    });
}

TEST(ExpandEscapes, OctalEscapes)
{
    ExpectRows({
        {U16("\\101"), U16("A"), 1, {0}},
        {U16("\\1"), U16("\u0001"), 1, {0}},
        {U16("\\7"), U16("\u0007"), 1, {0}},
        {U16("\\12"), U16("\n"), 1, {0}},
        {U16("\\777"), U16("\u01FF"), 1, {0}},
        {U16("\\400"), U16("\u0100"), 1, {0}},
        {U16("\\001"), U16("\u0001"), 1, {0}},           // leading zeros are digits
        {U16("\\1017"), U16("A7"), 1, {0, 4}},           // three digits at most
        {U16("\\0101"), U16("\u00081"), 1, {0, 4}},      // 010 then the digit 1
        {U16("\\18"), U16("\u00018"), 1, {0, 2}},        // 8 ends the digits
        {U16("\\1\u0661"), U16("\u0001\u0661"), 1, {0, 2}}, // so does a digit of another script
        {U16("x\\101y"), U16("xAy"), 1, {0, 1, 5}},
    });
}

TEST(ExpandEscapes, OctalEscapeOfZeroDigitsYieldsNothing)
{
    // The backslash and the first 0 go; the digits after it are text again.
    ExpectRows({
        {U16("\\0"), U16(""), 0, {}},
        {U16("a\\0b"), U16("ab"), 0, {0, 3}},
        {U16("\\00"), U16("0"), 0, {2}},
        {U16("\\000"), U16("00"), 0, {2, 3}},
        {U16("\\08"), U16("8"), 0, {2}},
        {U16("\\0\\t"), U16("\t"), 1, {2}},
        {U16("\\0001"), U16("001"), 0, {2, 3, 4}}, // the three zeros read make no escape
    });
}

TEST(ExpandEscapes, DecimalEscapes)
{
    ExpectRows({
        {U16("\\#65"), U16("A"), 1, {0}},
        {U16("\\#1"), U16("\u0001"), 1, {0}},
        {U16("\\#65535"), U16("\uFFFF"), 1, {0}},
        {U16("\\#00065"), U16("A"), 1, {0}},                // leading zeros are digits
        {U16("\\#000650"), U16("A0"), 1, {0, 7}},           // five digits at most
        {U16("\\#123456"), U16("\u30396"), 1, {0, 7}},      // 12345, then 6
        {U16("\\#9x"), U16("\u0009x"), 1, {0, 3}},
        {U16("\\#6\uFF15"), U16("\u0006\uFF15"), 1, {0, 3}}, // a fullwidth digit ends the digits
        {U16("\\#55296"), U16("\xD800"), 1, {0}},           // any unit value, surrogates too
        {U16("\\#65\\a#66"), U16("A\a#66"), 2, {0, 4, 6, 7, 8}}, // a # after the next escape's letter is text
    });
}

TEST(ExpandEscapes, HexEscapes)
{
    ExpectRows({
        {U16("\\x41"), U16("A"), 1, {0}},
        {U16("\\x0041"), U16("A"), 1, {0}},
        {U16("\\x00410"), U16("A0"), 1, {0, 6}}, // four digits at most
        {U16("\\x4g"), U16("\u0004g"), 1, {0, 3}},
        {U16("\\xff"), U16("\u00FF"), 1, {0}},
        {U16("\\xfFfF"), U16("\uFFFF"), 1, {0}},
        {U16("\\xD800"), U16("\xD800"), 1, {0}}, // x writes units, so lone surrogates are allowed
        {U16("\\xdc00"), U16("\xDC00"), 1, {0}},
        {U16("\\x41\\x42"), U16("AB"), 2, {0, 4}},
        {U16("\\x41\\xg\\x42"), U16("AxgB"), 2, {0, 5, 6, 7}}, // an invalid one amid a run
        {U16("\\x41\\xg1\\x42"), U16("Axg1B"), 2, {0, 5, 6, 7, 8}}, // ... and one with a digit after its g
        {U16("\\x41\\x42\\x43\\x00\\x44"), U16("ABCx00D"), 4, {0, 4, 8, 13, 14, 15, 16}}, // a zero ends a long run
        {U16("\\x1\uFF10"), U16("\u0001\uFF10"), 1, {0, 3}}, // fullwidth 0 is no digit
    });
}

TEST(ExpandEscapes, CodePointEscapes)
{
    ExpectRows({
        {U16("\\u20AC"), U16("\u20AC"), 1, {0}},
        {U16("\\u20ac"), U16("\u20AC"), 1, {0}},
        {U16("\\u41"), U16("A"), 1, {0}},
        {U16("\\u00410"), U16("A0"), 1, {0, 6}}, // four digits at most
        {U16("\\uD7FF"), U16("\uD7FF"), 1, {0}},
        {U16("\\uE000"), U16("\uE000"), 1, {0}},
        {U16("\\uFFFF"), U16("\uFFFF"), 1, {0}},
        {U16("\\U1F600z"), U16("\xD83D\xDE00z"), 1, {0, 0, 7}}, // both units of a pair share the offset
        {U16("\\U1f600"), U16("\xD83D\xDE00"), 1, {0, 0}},
        {U16("\\U0010FFFF"), U16("\xDBFF\xDFFF"), 1, {0, 0}},
        {U16("\\U10000"), U16("\xD800\xDC00"), 1, {0, 0}},
        {U16("\\U41"), U16("A"), 1, {0}},
        {U16("\\U0000FFFF"), U16("\uFFFF"), 1, {0}},
        {U16("\\U000000410"), U16("A0"), 1, {0, 10}}, // eight digits at most
        {U16("\\U1F600\\U1F601"), U16("\xD83D\xDE00\xD83D\xDE01"), 2, {0, 0, 7, 7}},
        // Runs of four digits, ended by fewer digits, a fifth, a surrogate or 0.
        {U16("\\u0436\\u0435\\u0020\\u20ac"), U16("\u0436\u0435 \u20AC"), 4, {0, 6, 12, 18}},
        {U16("\\u0436\\u043"), U16("\u0436C"), 2, {0, 6}},
        {U16("\\u0436\\u04360"), U16("\u0436\u04360"), 2, {0, 6, 12}},
        {U16("\\u0041\\u004g"), U16("A\u0004g"), 2, {0, 6, 11}},
        {U16("\\u0041\\uD800"), U16("AuD800"), 1, {0, 7, 8, 9, 10, 11}},
        {U16("\\u0041\\uDFFF"), U16("AuDFFF"), 1, {0, 7, 8, 9, 10, 11}},
        {U16("\\u0041\\u0000"), U16("Au0000"), 1, {0, 7, 8, 9, 10, 11}},
        // ... and of eight.
        {U16("\\U0001F600\\U0001f601\\U00000041"), U16("\xD83D\xDE00\xD83D\xDE01" "A"), 3, {0, 0, 10, 10, 20}},
        {U16("\\U0001F600\\U0001F6"), U16("\xD83D\xDE00\u01F6"), 2, {0, 0, 10}},
        // The units beside the digits' ranges end them as any other unit.
        {U16("\\U0001F600\\U0001F60/"), U16("\xD83D\xDE00\u1F60/"), 2, {0, 0, 10, 19}},
        {U16("\\U0001F600\\U0001F60:"), U16("\xD83D\xDE00\u1F60:"), 2, {0, 0, 10, 19}},
        {U16("\\U0001F600\\U0001F60`"), U16("\xD83D\xDE00\u1F60`"), 2, {0, 0, 10, 19}},
        {U16("\\U0001F600\\U0001F60@"), U16("\xD83D\xDE00\u1F60@"), 2, {0, 0, 10, 19}},
        {U16("\\U0001F600\\U0001F60g"), U16("\xD83D\xDE00\u1F60g"), 2, {0, 0, 10, 19}},
        {U16("\\U0001F600\\U0001F60G"), U16("\xD83D\xDE00\u1F60G"), 2, {0, 0, 10, 19}},
        {U16("\\U0001F600\\U0001F60\u0161"), U16("\xD83D\xDE00\u1F60\u0161"), 2, {0, 0, 10, 19}},
        {U16("\\U0001F600\\U0001F60\uFF10"), U16("\xD83D\xDE00\u1F60\uFF10"), 2, {0, 0, 10, 19}},
        {U16("\\U0001F600\\U00110000"), U16("\xD83D\xDE00U00110000"), 1, {0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        {U16("\\U0001F600\\U0000DC00"), U16("\xD83D\xDE00U0000DC00"), 1, {0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        {U16("\\U0001F600\\U00000000"), U16("\xD83D\xDE00U00000000"), 1, {0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
    });
}

// Invalid numeric escapes: the backslash goes, the letter (or #) and the
// digits stay as ordinary text with their own offsets, and nothing is counted.
TEST(ExpandEscapes, MalformedNumericEscapesStayAsText)
{
    struct Malformed {
        const Unit* input;
        const Unit* output;
        Map map;
        const char* why;
    };
    const Malformed rows[] = {
        {U16("\\#65536"), U16("#65536"), {1, 2, 3, 4, 5, 6}, "above 65535"},
        {U16("\\#99999"), U16("#99999"), {1, 2, 3, 4, 5, 6}, "above 65535"},
        {U16("\\#0"), U16("#0"), {1, 2}, "value 0"},
        {U16("\\#00000"), U16("#00000"), {1, 2, 3, 4, 5, 6}, "value 0 however many zeros"},
        {U16("\\#"), U16("#"), {1}, "no digit: the text ends"},
        {U16("\\#a"), U16("#a"), {1, 2}, "no digit: a is not decimal"},
        {U16("\\#\uFF11"), U16("#\uFF11"), {1, 2}, "no digit: fullwidth 1 is not ASCII"},
        {U16("\\#\u0661"), U16("#\u0661"), {1, 2}, "no digit: Arabic-Indic 1 is not ASCII"},
        {U16("\\xg"), U16("xg"), {1, 2}, "no digit: g is not hexadecimal"},
        {U16("\\x0"), U16("x0"), {1, 2}, "value 0"},
        {U16("\\x0000"), U16("x0000"), {1, 2, 3, 4, 5}, "value 0"},
        {U16("\\x"), U16("x"), {1}, "no digit: the text ends"},
        {U16("\\x\uFF21"), U16("x\uFF21"), {1, 2}, "no digit: fullwidth A is not ASCII"},
        {U16("\\uD800"), U16("uD800"), {1, 2, 3, 4, 5}, "u names characters: no surrogates"},
        {U16("\\uDFFF"), U16("uDFFF"), {1, 2, 3, 4, 5}, "u names characters: no surrogates"},
        {U16("\\u0000"), U16("u0000"), {1, 2, 3, 4, 5}, "value 0"},
        {U16("\\u"), U16("u"), {1}, "no digit: the text ends"},
        {U16("\\uz"), U16("uz"), {1, 2}, "no digit"},
        {U16("\\U110000"), U16("U110000"), {1, 2, 3, 4, 5, 6, 7}, "above U+10FFFF"},
        {U16("\\U10FFFF0"), U16("U10FFFF0"), {1, 2, 3, 4, 5, 6, 7, 8}, "above U+10FFFF, though U10FFFF alone is valid"},
        {U16("\\UFFFFFFFF"), U16("UFFFFFFFF"), {1, 2, 3, 4, 5, 6, 7, 8, 9}, "the largest eight digits"},
        {U16("\\U0000D800"), U16("U0000D800"), {1, 2, 3, 4, 5, 6, 7, 8, 9}, "U names characters: no surrogates"},
        {U16("\\UDFFF"), U16("UDFFF"), {1, 2, 3, 4, 5}, "U names characters: no surrogates"},
        {U16("\\U00000000"), U16("U00000000"), {1, 2, 3, 4, 5, 6, 7, 8, 9}, "value 0"},
        {U16("\\U0"), U16("U0"), {1, 2}, "value 0"},
        {U16("\\U"), U16("U"), {1}, "no digit: the text ends"},
        {U16("ab\\U110000"), U16("abU110000"), {0, 1, 3, 4, 5, 6, 7, 8, 9}, "offsets count from the text's start"},
    };
    for (const Malformed& row : rows)
        EXPECT_TRUE(Expands(row.input, row.output, 0, row.map)) << "  why:      " << row.why;
}

TEST(ExpandEscapes, MapOfMixedText)
{
    ExpectRows({
        {U16("a\\tb\\U1F600z"), U16("a\tb\xD83D\xDE00z"), 2, {0, 1, 3, 4, 4, 11}},
        {U16("\\x41\\u0042\\U43\\#68\\105\\n"), U16("ABCDE\n"), 6, {0, 4, 10, 14, 18, 22}},
        {U16("\\0\\00\\#0\\8x"), U16("0#08x"), 0, {4, 6, 7, 8, 10}},
        {U16("\\x\\t"), U16("x\t"), 1, {1, 2}}, // x without digits is text; the next backslash still escapes
        {U16("\xD83D\xDE00\\t"), U16("\xD83D\xDE00\t"), 1, {0, 1, 2}}, // a pair in the text is two ordinary units
    });
}

// ---------------------------------------------------------------------------
// Arguments

TEST(ExpandEscapes, EmptyTextReturnsZeroAndLeavesTheMap)
{
    std::vector<Unit> text = TextBuffer(U16(""));
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
        {U16("a"), U16("a"), 0, {0}},
        {U16("plain text, \"quoted\""), U16("plain text, \"quoted\""), 0,
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        {U16("\u00E9\xD83D\xDE00\uFFFF\t"), U16("\u00E9\xD83D\xDE00\uFFFF\t"), 0, {0, 1, 2, 3, 4}},
        {U16("#41 x41 u41 U41"), U16("#41 x41 u41 U41"), 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
    });
}

// ---------------------------------------------------------------------------
// The limits at the end of the buffer. The texts of more than 8191 units are
// longer than any caller passes; they sit in buffers of their length + 1.

Text Ordinary(int n)
{
    Text t;
    for (int k = 0; k < n; ++k)
        t += Unit('a' + k % 26);
    return t;
}

TEST(ExpandEscapes, LimitsAtTheEndOfTheBuffer)
{
    struct Limit {
        int ordinary;          // ordinary units before the tail
        const Unit* tail;
        int result;            // the count, or RESULT_OVERFLOW
        const Unit* tailOutput;
        Map tailMap;           // offsets counted from the tail's start
        const char* why;
    };
    const Limit rows[] = {
        {8189, U16(""), 0, U16(""), {}, "short of the limit"},
        {8190, U16(""), 0, U16(""), {}, "short of the limit"},
        {8191, U16(""), 0, U16(""), {}, "the longest text, accepted whole"},
        {8192, U16(""), RESULT_OVERFLOW, U16(""), {}, "one ordinary unit too many"},

        {8187, U16("\\t"), 1, U16("\t"), {0}, "8189 units ending in a named escape"},
        {8188, U16("\\t"), 1, U16("\t"), {0}, "8190 units ending in a named escape"},
        {8189, U16("\\t"), 1, U16("\t"), {0}, "8191 units ending in a named escape"},
        {8190, U16("\\t"), 1, U16("\t"), {0}, "a named escape may bring the text to 8191 units"},
        {8191, U16("\\t"), RESULT_OVERFLOW, U16(""), {}, "no room for a named escape after 8191 units"},
        {8190, U16("\\\\"), 0, U16("\\"), {0}, "a doubled backslash may bring the text to 8191 units"},

        {8185, U16("\\x41"), 1, U16("A"), {0}, "8189 units ending in a numeric escape"},
        {8186, U16("\\x41"), 1, U16("A"), {0}, "8190 units ending in a numeric escape"},
        {8187, U16("\\x41"), 1, U16("A"), {0}, "8191 units ending in a numeric escape"},
        {8188, U16("\\x41"), 1, U16("A"), {0}, "8192 units ending in a numeric escape"},
        {8189, U16("\\x41"), 1, U16("A"), {0}, "a numeric escape may bring the text to 8190 units"},
        {8190, U16("\\x41"), RESULT_OVERFLOW, U16(""), {}, "a numeric escape may not reach 8191 units"},
        {8188, U16("\\x41\\x42"), 2, U16("AB"), {0, 4}, "escapes in a row up to 8190 units"},
        {8189, U16("\\x41\\x42"), RESULT_OVERFLOW, U16(""), {}, "... the second of them not to 8191"},
        {8189, U16("\\101"), 1, U16("A"), {0}, "octal: up to 8190 units"},
        {8190, U16("\\101"), RESULT_OVERFLOW, U16(""), {}, "octal: not to 8191"},
        {8189, U16("\\#65"), 1, U16("A"), {0}, "decimal: up to 8190 units"},
        {8190, U16("\\#65"), RESULT_OVERFLOW, U16(""), {}, "decimal: not to 8191"},
        {8189, U16("\\u20AC"), 1, U16("\u20AC"), {0}, "u: up to 8190 units"},
        {8190, U16("\\u20AC"), RESULT_OVERFLOW, U16(""), {}, "u: not to 8191"},
        {8189, U16("\\U41"), 1, U16("A"), {0}, "U below U+10000 needs room for one unit only"},

        {8182, U16("\\U1F600"), 1, U16("\xD83D\xDE00"), {0, 0}, "8189 units ending in a pair escape"},
        {8185, U16("\\U1F600"), 1, U16("\xD83D\xDE00"), {0, 0}, "8192 units ending in a pair escape"},
        {8188, U16("\\U1F600"), 1, U16("\xD83D\xDE00"), {0, 0}, "a pair may bring the text to 8190 units"},
        {8189, U16("\\U1F600"), RESULT_OVERFLOW, U16(""), {}, "a pair may not reach 8191 units"},
        {8190, U16("\\U0010FFFF"), RESULT_OVERFLOW, U16(""), {}, "no room for a pair at 8190 units"},

        {8188, U16("\\"), 0, U16(""), {}, "8189 units ending in a lone backslash"},
        {8190, U16("\\"), 0, U16(""), {}, "8191 units ending in a lone backslash"},
        {8191, U16("\\"), RESULT_OVERFLOW, U16(""), {}, "a lone backslash after 8191 units still fails"},
        {8190, U16("\\0"), 0, U16(""), {}, "a zero octal escape yields nothing"},
        {8191, U16("\\0"), RESULT_OVERFLOW, U16(""), {}, "... but after 8191 units it fails all the same"},
        {8190, U16("\\x"), 0, U16("x"), {1}, "an escape cut off at the end: the letter is text"},
        {8191, U16("\\x"), RESULT_OVERFLOW, U16(""), {}, "... which does not fit after 8191 units"},
        {8185, U16("\\#65536"), 0, U16("#65536"), {1, 2, 3, 4, 5, 6}, "an invalid escape's text up to 8191 units"},
        {8186, U16("\\#65536"), RESULT_OVERFLOW, U16(""), {}, "an invalid escape's text beyond 8191 units"},
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

// Each item expands as it does alone wherever it lies: after 0 to 70 ordinary
// units and before 40 more (so that it meets every block edge of the scans
// and of the reads of an escape's digits), and at the very end of a text of
// 8191 units. The expectation is the item's own expansion, moved.
TEST(ExpandEscapes, ItemsExpandAsAloneAtEveryPosition)
{
    const Text items[] = {
        U16("\\t"), U16("\\x41"), U16("\\x0041"), U16("\\u20ac"), U16("\\U1F600"), U16("\\101"),
        U16("\\#65"), U16("\\xg"), U16("\\\\"), U16("\xD83D\xDE00"), U16("\\"),
    };
    // No hexadecimal digit, so nothing here lengthens an escape.
    auto filler = [](size_t n) {
        Text t;
        for (size_t k = 0; k < n; ++k)
            t += Unit('p' + k % 10);
        return t;
    };
    for (const Text& item : items) {
        std::vector<Unit> alone = TextBuffer(item);
        Map aloneMap = MapBuffer();
        const int count = ExpandEscapes(alone.data(), aloneMap.data());
        const Text output(alone.data());
        const bool trailing = item == U16("\\"); // dropped only at the end
        auto expectAt = [&](size_t before, size_t after) {
            const Text input = filler(before) + item + filler(after);
            Map map;
            for (size_t k = 0; k < before; ++k)
                map.push_back(int32_t(k));
            for (size_t k = 0; k < output.size(); ++k)
                map.push_back(int32_t(before) + aloneMap[k]);
            for (size_t k = 0; k < after; ++k)
                map.push_back(int32_t(before + item.size() + k));
            const Text expected = filler(before) + output + filler(after);
            return Expands(input, expected, count, map);
        };
        for (size_t before = 0; before <= 70; ++before)
            EXPECT_TRUE(expectAt(before, trailing ? 0 : 40)) << "  after " << before << " units";
        EXPECT_TRUE(expectAt(size_t(MAX_TEXT_LEN) - item.size(), 0)) << "  at the end of 8191 units";
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
        const int result = s.Expand(Text(1, Unit(c)));
        if (result != 0 || s.text[0] != c || s.text[1] != 0 || s.text[2] != kTextFill || s.map[0] != 0 ||
            s.map[1] != 0 || s.map[2] != kMapFill) {
            ++failures;
            ADD_FAILURE() << "input " << Show(Text(1, Unit(c))) << ": result " << result << ", text "
                          << Show(s.text.data(), 3) << ", map " << ShowMap(Map(s.map.begin(), s.map.begin() + 3));
        }
    }
}

TEST(ExpandEscapes, EveryUnitWithoutAnEscapeMeaningStandsForItselfAfterBackslash)
{
    // The units that do start something after a backslash; the tables above
    // cover them.
    const Text special = U16("abcefknqrstv01234567#xuU");
    Scratch s;
    int failures = 0;
    for (unsigned c = 1; c <= 0xFFFF && failures < kMaxReported; ++c) {
        if (special.find(Unit(c)) != Text::npos)
            continue;
        const Text input = Text(U16("y\\")) + Unit(c);
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
    Text t(size_t(digits), U16('0'));
    for (int k = digits - 1; k >= 0; --k, value >>= 4)
        t[size_t(k)] = U16("0123456789abcdef")[value & 0xF];
    return t;
}

TEST(ExpandEscapes, EveryCodePointThroughLongEscapeGivesItsUtf16Form)
{
    Scratch s;
    int failures = 0;
    for (uint32_t cp = 1; cp <= 0x10FFFF && failures < kMaxReported; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        const Text input = U16("a\\U") + HexDigits(cp, 8);
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
        const Text x = U16("\\x") + HexDigits(v, 4);
        const Text u4 = U16("\\u") + HexDigits(v, 4);
        const Text u8 = U16("\\U") + HexDigits(v, 8);
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
    const Text pool = U16("\\\\\\\\\\abcefknqrstvzX0123456789#xuUFfDd \u00E9\uFF10\xD83D\xDE00");
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
        const long backslashes = std::count(input.begin(), input.end(), U16('\\'));

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
            else if (input[size_t(at)] != U16('\\') && input[size_t(at)] != out[k])
                problem = "an ordinary unit's offset points at another unit";
            else if (k > 0 && at < s.map[k - 1])
                problem = "offsets decrease";
            else if (k > 0 && at == s.map[k - 1] &&
                     !(out[k - 1] >= 0xD800 && out[k - 1] <= 0xDBFF && out[k] >= 0xDC00 && out[k] <= 0xDFFF &&
                       input[size_t(at)] == U16('\\')))
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
        const Unit* digits;
        int result; // digits consumed, or 0 for an invalid escape
        const Unit* appended;
    };
    const ReadRow rows[] = {
        {kOctal, U16("101"), 3, U16("A")},
        {kOctal, U16("1017"), 3, U16("A")},
        {kOctal, U16("1"), 1, U16("\u0001")},
        {kOctal, U16("18"), 1, U16("\u0001")},
        {kOctal, U16("777"), 3, U16("\u01FF")},
        {kOctal, U16("0"), 0, U16("")},
        {kOctal, U16("000"), 0, U16("")},
        {kOctal, U16("8"), 0, U16("")},
        {kOctal, U16(""), 0, U16("")},
        {kDecimal, U16("65"), 2, U16("A")},
        {kDecimal, U16("65535"), 5, U16("\uFFFF")},
        {kDecimal, U16("123456"), 5, U16("\u3039")},
        {kDecimal, U16("00065"), 5, U16("A")},
        {kDecimal, U16("6\uFF15"), 1, U16("\u0006")},
        {kDecimal, U16("65536"), 0, U16("")},
        {kDecimal, U16("0"), 0, U16("")},
        {kDecimal, U16("a"), 0, U16("")},
        {kDecimal, U16("\uFF16\uFF15"), 0, U16("")},
        {kDecimal, U16("\u0666\u0665"), 0, U16("")},
        {kHex, U16("41"), 2, U16("A")},
        {kHex, U16("0041"), 4, U16("A")},
        {kHex, U16("00410"), 4, U16("A")},
        {kHex, U16("4g"), 1, U16("\u0004")},
        {kHex, U16("dC00"), 4, U16("\xDC00")},
        {kHex, U16("g"), 0, U16("")},
        {kHex, U16("0"), 0, U16("")},
        {kHex, U16("\uFF21"), 0, U16("")},
        {kHex, U16("\uFF41"), 0, U16("")},
        {kCode4, U16("20AC"), 4, U16("\u20AC")},
        {kCode4, U16("10000"), 4, U16("\u1000")},
        {kCode4, U16("41"), 2, U16("A")},
        {kCode4, U16("D800"), 0, U16("")},
        {kCode4, U16("0000"), 0, U16("")},
        {kCode8, U16("1F600"), 5, U16("\xD83D\xDE00")},
        {kCode8, U16("0010FFFF"), 8, U16("\xDBFF\xDFFF")},
        {kCode8, U16("000000410"), 8, U16("A")},
        {kCode8, U16("41"), 2, U16("A")},
        {kCode8, U16("110000"), 0, U16("")},
        {kCode8, U16("10FFFF0"), 0, U16("")},
        {kCode8, U16("FFFFFFFF"), 0, U16("")},
        {kCode8, U16("DFFF"), 0, U16("")},
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
        EXPECT_EQ(reader.read(U16("41"), nullptr), 0) << reader.name;
    }
}

TEST(DigitReaders, AppendOnlyWhatFitsIn8191Units)
{
    struct RoomRow {
        const Reader& reader;
        const Unit* digits;
        int before; // units in the output already
        int result;
        const Unit* appended;
    };
    const RoomRow rows[] = {
        {kHex, U16("41"), 8190, 2, U16("A")},
        {kHex, U16("41"), 8191, RESULT_OVERFLOW, U16("")},
        {kOctal, U16("101"), 8190, 3, U16("A")},
        {kOctal, U16("101"), 8191, RESULT_OVERFLOW, U16("")},
        {kDecimal, U16("65"), 8190, 2, U16("A")},
        {kDecimal, U16("65"), 8191, RESULT_OVERFLOW, U16("")},
        {kCode4, U16("20AC"), 8190, 4, U16("\u20AC")},
        {kCode4, U16("20AC"), 8191, RESULT_OVERFLOW, U16("")},
        {kCode8, U16("41"), 8190, 2, U16("A")},                        // one unit needs one slot
        {kCode8, U16("1F600"), 8189, 5, U16("\xD83D\xDE00")},          // a pair needs two
        {kCode8, U16("1F600"), 8190, RESULT_OVERFLOW, U16("")},
        {kCode8, U16("10FFFF"), 8191, RESULT_OVERFLOW, U16("")},
        {kHex, U16("g"), 8191, 0, U16("")},                            // invalid comes before room
        {kCode8, U16("110000"), 8191, 0, U16("")},
    };
    for (const RoomRow& row : rows)
        EXPECT_TRUE(Reads(row.reader, row.digits, row.before, row.result, row.appended));
}

} // namespace
