// SplitArgs, the number parsers and TrimWhitespace.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "escape/args.h"
#include "escape/numbers.h"
#include "text_util.h"

namespace {

// The list every split here fills.
ArgList g_list;

// One expected argument: null for a missing one.
struct Arg {
    const Unit* text;
};

struct SplitCase {
    const Unit* input;
    int count;
    std::vector<Arg> args;
};

void ExpectArgs(const SplitCase& c)
{
    SCOPED_TRACE("input " + Show(c.input));
    EXPECT_EQ(SplitArgs(c.input, &g_list), c.count);
    EXPECT_EQ(g_list.count, c.count);
    for (size_t k = 0; k < c.args.size(); ++k) {
        SCOPED_TRACE("argument " + std::to_string(k));
        if (c.args[k].text == nullptr) {
            EXPECT_EQ(g_list.args[k], nullptr);
            EXPECT_EQ(g_list.lengths[k], 0);
        } else {
            ASSERT_NE(g_list.args[k], nullptr);
            EXPECT_EQ(Show(g_list.args[k]), Show(c.args[k].text));
            EXPECT_EQ(size_t(g_list.lengths[k]), std::char_traits<Unit>::length(c.args[k].text));
        }
    }
    // Entries beyond the arguments are missing.
    for (size_t k = c.args.size(); k < 8; ++k)
        EXPECT_EQ(g_list.args[k], nullptr) << "argument " << k;
}

class SplitArgsTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitArgsTable, SplitsAtUnquotedCommas) { ExpectArgs(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitArgsTable,
    ::testing::Values(
        SplitCase{U16(""), 0, {}}, SplitCase{U16("   \t "), 0, {}}, SplitCase{U16("abc"), 1, {{U16("abc")}}},
        SplitCase{U16("abc,"), 1, {{U16("abc")}}},                         // a trailing comma adds nothing
        SplitCase{U16(",abc"), 2, {{nullptr}, {U16("abc")}}},              // an empty first argument is missing
        SplitCase{U16("a,,b"), 3, {{U16("a")}, {nullptr}, {U16("b")}}},
        SplitCase{U16(",,"), 2, {{nullptr}, {nullptr}}},
        SplitCase{U16("  a b  , c"), 2, {{U16("a b")}, {U16("c")}}},       // inner space stays
        SplitCase{U16("\"a,b\",c"), 2, {{U16("a,b")}, {U16("c")}}},        // a quoted comma is text
        SplitCase{U16("a\"b\"c"), 1, {{U16("abc")}}},                      // quotes vanish mid-argument
        SplitCase{U16("\" a\""), 1, {{U16(" a")}}},                        // quoted leading space stays
        SplitCase{U16("\"a \""), 1, {{U16("a")}}},                         // trailing space goes, quoted or not
        SplitCase{U16("\"\""), 0, {{nullptr}}},                            // only quotes: missing
        SplitCase{U16("\" \""), 1, {{U16("")}}},                           // quoted space: present, empty
        SplitCase{U16("\" \",x"), 2, {{U16("")}, {U16("x")}}},
        SplitCase{U16("\"a,b"), 1, {{U16("a,b")}}},                        // unbalanced quote runs to the end
        SplitCase{U16("a\\,b"), 2, {{U16("a\\")}, {U16("b")}}},            // a backslash protects nothing
        SplitCase{U16("a\\\"b"), 1, {{U16("a\\b")}}},
        SplitCase{U16("\u00a0a\u3000,\u2003b"), 2, {{U16("a")}, {U16("b")}}}, // Unicode whitespace trims
        SplitCase{U16("\u0085a"), 1, {{U16("\u0085a")}}}                      // NEL is no whitespace here
        ));

TEST(SplitArgs, NullTextKeepsThePreviousList)
{
    ASSERT_EQ(SplitArgs(U16("x,y"), &g_list), 2);
    EXPECT_EQ(SplitArgs(nullptr, &g_list), RESULT_MISSING);
    EXPECT_EQ(SplitArgs(U16("z"), nullptr), RESULT_MISSING);
    EXPECT_EQ(g_list.count, 2);
    EXPECT_EQ(Show(g_list.args[1]), Show(U16("y")));
}

TEST(SplitArgs, EveryArgumentEndsInItsOwnNulInsideTheBuffer)
{
    ASSERT_EQ(SplitArgs(U16("ab, c ,,d"), &g_list), 4);
    const Unit* b = g_list.buffer;
    EXPECT_EQ(g_list.args[0], b + 0);
    EXPECT_EQ(g_list.args[1], b + 3);
    EXPECT_EQ(g_list.args[3], b + 7); // the missing argument still took a NUL
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(b[4], 0); // the trailing space was trimmed to a NUL
}

TEST(SplitArgs, MoreThan1024ArgumentsAreCountedButNotStored)
{
    Text text = U16("word");
    text.append(1100, U16(','));
    ASSERT_EQ(SplitArgs(text.c_str(), &g_list), 1100);
    EXPECT_EQ(Show(g_list.args[0]), Show(U16("word")));
    for (int k = 1; k < MAX_ARGS; ++k)
        ASSERT_EQ(g_list.args[k], nullptr) << k;

    // Arguments beyond the tables are dropped, the tables stay intact.
    text.clear();
    for (int k = 0; k < 1100; ++k)
        text += U16("x") + Text(k % 3, U16('y')) + U16(",");
    ASSERT_EQ(SplitArgs(text.c_str(), &g_list), 1100);
    EXPECT_EQ(Show(g_list.args[1022]), Show(U16("xyy")));
    EXPECT_EQ(g_list.lengths[1022], 3);
    EXPECT_EQ(Show(g_list.args[1023]), Show(U16("x")));
}

TEST(SplitArgs, ATextOfMaximalLengthFitsWhateverItHolds)
{
    const Text kinds[] = {Text(8191, U16(',')), Text(8191, U16('a')), Text(8191, U16('"')), Text(8191, U16(' '))};
    for (const auto& text : kinds) {
        SplitOverflowReports().clear();
        EXPECT_GE(SplitArgs(text.c_str(), &g_list), 0) << Show(text.substr(0, 4));
        EXPECT_TRUE(SplitOverflowReports().empty());
    }
    Text mixed;
    while (mixed.size() < 8191)
        mixed += U16("a,");
    mixed.resize(8191);
    // The last "a" lies beyond the tables and is dropped, so it is not
    // counted: the count is that of the commas.
    EXPECT_EQ(SplitArgs(mixed.c_str(), &g_list), 4095);
    EXPECT_EQ(Show(g_list.args[1023]), Show(U16("a")));
}

TEST(SplitArgs, OverflowIsReportedNeverWritten)
{
    // Only a text longer than a shell buffer can get here.
    for (const Unit fill : {U16('a'), U16(',')}) {
        SplitOverflowReports().clear();
        Text text(8200, fill);
        EXPECT_EQ(SplitArgs(text.c_str(), &g_list), RESULT_OVERFLOW);
        ASSERT_EQ(SplitOverflowReports().size(), 1u);
        EXPECT_EQ(SplitOverflowReports()[0], std::make_pair(8191, 8192));
        EXPECT_EQ(g_list.count, 0);
    }
}

struct NumberCase {
    const Unit* text;
    int result;
    uint32_t value;
};

class ParseNumberWhole : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumberWhole, ReadsTheWholeText)
{
    const NumberCase& c = GetParam();
    uint32_t value = 777;
    EXPECT_EQ(ParseNumber(c.text, nullptr, &value), c.result) << Show(c.text);
    EXPECT_EQ(value, c.result == 0 ? c.value : 777u) << Show(c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseNumberWhole,
                         ::testing::Values(NumberCase{U16("10"), 0, 10}, NumberCase{U16("0x1F"), 0, 31},
                                           NumberCase{U16("0X1f"), 0, 31}, NumberCase{U16("010"), 0, 10},
                                           NumberCase{U16("0"), 0, 0}, NumberCase{U16("4294967295"), 0, 4294967295u},
                                           NumberCase{U16("0xFFFFFFFF"), 0, 4294967295u},
                                           NumberCase{U16("00000000000000000000042"), 0, 42},
                                           NumberCase{U16("4294967296"), RESULT_RANGE, 0},
                                           NumberCase{U16("0x100000000"), RESULT_RANGE, 0},
                                           NumberCase{U16("99999999999999999999999"), RESULT_RANGE, 0},
                                           NumberCase{U16(""), RESULT_NOT_NUMBER, 0}, NumberCase{U16(" 5"), RESULT_NOT_NUMBER, 0},
                                           NumberCase{U16("+5"), RESULT_NOT_NUMBER, 0}, NumberCase{U16("-5"), RESULT_NOT_NUMBER, 0},
                                           NumberCase{U16("5x"), RESULT_NOT_NUMBER, 0}, NumberCase{U16("0x"), RESULT_NOT_NUMBER, 0},
                                           NumberCase{U16("0xg"), RESULT_NOT_NUMBER, 0}, NumberCase{U16("5 "), RESULT_NOT_NUMBER, 0},
                                           NumberCase{U16("\u0663"), RESULT_NOT_NUMBER, 0},   // Arabic-Indic three
                                           NumberCase{U16("\uff15"), RESULT_NOT_NUMBER, 0},   // fullwidth five
                                           NumberCase{U16("0x0x5"), 0, 5}));   // the runtime's own prefix rule

TEST(ParseNumber, WithRestStopsAfterTheDigits)
{
    struct {
        const Unit* text;
        uint32_t value;
        size_t restAt;
    } cases[] = {{U16("5x"), 5, 1},      {U16("0x"), 0, 1},    {U16("0xg"), 0, 1},
                 {U16("0x1f,z"), 31, 4}, {U16("12 ,"), 12, 2}, {U16("7"), 7, 1}};
    for (const auto& c : cases) {
        uint32_t value = 0;
        const Unit* rest = nullptr;
        EXPECT_EQ(ParseNumber(c.text, &rest, &value), 0) << Show(c.text);
        EXPECT_EQ(value, c.value) << Show(c.text);
        EXPECT_EQ(rest, c.text + c.restAt) << Show(c.text);
    }
}

TEST(ParseNumber, FailureLeavesRestAndValueAlone)
{
    uint32_t value = 9;
    const Unit* rest = U16("untouched");
    const Unit* before = rest;
    EXPECT_EQ(ParseNumber(U16("x5"), &rest, &value), RESULT_NOT_NUMBER);
    EXPECT_EQ(ParseNumber(U16("4294967296z"), &rest, &value), RESULT_RANGE);
    EXPECT_EQ(rest, before);
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(ParseNumber(nullptr, &rest, &value), RESULT_MISSING);
    EXPECT_EQ(ParseNumber(U16("5"), &rest, nullptr), RESULT_MISSING);
}

TEST(ParseHandle, ReadsNumbersAsWideAsAPointer)
{
    const bool wide = sizeof(uintptr_t) == 8;
    struct {
        const Unit* text;
        int result;       // with 64-bit pointers
        int narrowResult; // with 32-bit pointers
        uint64_t value;
        size_t restAt;
    } cases[] = {
        {U16("4294967295,x"), 0, 0, 0xFFFFFFFFu, 10},
        {U16("4294967296,x"), 0, RESULT_RANGE, 0x100000000u, 10},
        {U16("0x00000001000000FC;"), 0, RESULT_RANGE, 0x1000000FCu, 18},
        {U16("18446744073709551615 ,"), 0, RESULT_RANGE, UINT64_MAX, 20},
        {U16("0xFFFFFFFFFFFFFFFF"), 0, RESULT_RANGE, UINT64_MAX, 18},
        {U16("18446744073709551616,"), RESULT_RANGE, RESULT_RANGE, 0, 0},
        {U16("0x10000000000000000"), RESULT_RANGE, RESULT_RANGE, 0, 0},
        {U16("-1,"), RESULT_NOT_NUMBER, RESULT_NOT_NUMBER, 0, 0},
    };
    for (const auto& c : cases) {
        uintptr_t value = 3;
        const Unit* rest = nullptr;
        const int expected = wide ? c.result : c.narrowResult;
        EXPECT_EQ(ParseHandle(c.text, &rest, &value), expected) << Show(c.text);
        if (expected == 0) {
            EXPECT_EQ(value, uintptr_t(c.value)) << Show(c.text);
            EXPECT_EQ(rest, c.text + c.restAt) << Show(c.text);
        } else {
            EXPECT_EQ(value, 3u) << Show(c.text);
        }
    }
}

struct SignedCase {
    const Unit* text;
    int result;
    int32_t value;
};

class ParseSignedNumberTable : public ::testing::TestWithParam<SignedCase> {};

TEST_P(ParseSignedNumberTable, ReadsTheWholeText)
{
    const SignedCase& c = GetParam();
    int32_t value = 777;
    EXPECT_EQ(ParseSignedNumber(c.text, &value), c.result) << Show(c.text);
    EXPECT_EQ(value, c.result == 0 ? c.value : 777) << Show(c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseSignedNumberTable,
                         ::testing::Values(SignedCase{U16("-5"), 0, -5}, SignedCase{U16("0x10"), 0, 16},
                                           SignedCase{U16("0xFFFFFFFF"), 0, -1}, // 0xffffffff == -1
                                           SignedCase{U16("0x80000000"), 0, INT32_MIN},
                                           SignedCase{U16("2147483647"), 0, INT32_MAX},
                                           SignedCase{U16("-2147483648"), 0, INT32_MIN},
                                           SignedCase{U16("2147483648"), RESULT_RANGE, 0},
                                           SignedCase{U16("-2147483649"), RESULT_RANGE, 0},
                                           SignedCase{U16("0x100000000"), RESULT_RANGE, 0},
                                           SignedCase{U16("-0x5"), RESULT_NOT_NUMBER, 0}, // -0 then trailing x5
                                           SignedCase{U16("-0"), 0, 0}, SignedCase{U16("--5"), RESULT_NOT_NUMBER, 0},
                                           SignedCase{U16("-"), RESULT_NOT_NUMBER, 0}, SignedCase{U16("+5"), RESULT_NOT_NUMBER, 0},
                                           SignedCase{U16(" 1"), RESULT_NOT_NUMBER, 0}, SignedCase{U16("1 "), RESULT_NOT_NUMBER, 0},
                                           SignedCase{U16(""), RESULT_NOT_NUMBER, 0}));

TEST(ParseSignedNumber, NullArgumentsFail)
{
    int32_t value = 0;
    EXPECT_EQ(ParseSignedNumber(nullptr, &value), RESULT_MISSING);
    EXPECT_EQ(ParseSignedNumber(U16("1"), nullptr), RESULT_MISSING);
}

TEST(TrimWhitespace, TrimsBothEndsInPlace)
{
    struct {
        const Unit* text;
        const Unit* trimmed;
    } cases[] = {{U16("   "), U16("")}, {U16("\tx "), U16("x")}, {U16("x"), U16("x")}, {U16(""), U16("")},
                 {U16(" a b "), U16("a b")}, {U16("\u3000\u00a0z\u2028"), U16("z")}, {U16("\u0085"), U16("\u0085")}};
    for (const auto& c : cases) {
        Text buffer(c.text);
        buffer.resize(buffer.size() + 4, U16('#')); // trimming never reaches past the NUL
        buffer[std::char_traits<Unit>::length(c.text)] = 0;
        EXPECT_EQ(TrimWhitespace(buffer.data()), 0);
        EXPECT_EQ(Show(buffer.c_str()), Show(c.trimmed)) << "from " << Show(c.text);
    }
    EXPECT_EQ(TrimWhitespace(nullptr), RESULT_MISSING);
}

} // namespace
