// SplitArgs, the number parsers and TrimWhitespace.
#include <gtest/gtest.h>

#include <cerrno>
#include <cwchar>
#include <string>
#include <vector>

#include "escape/args.h"
#include "text_util.h"

namespace {

// One expected argument: null for a missing one.
struct Arg {
    const char16_t* text;
};

struct SplitCase {
    const char16_t* input;
    int count;
    std::vector<Arg> args;
};

void ExpectArgs(const SplitCase& c)
{
    SCOPED_TRACE("input " + Show(c.input));
    EXPECT_EQ(SplitArgs(c.input), c.count);
    EXPECT_EQ(g_argList.count, c.count);
    for (size_t k = 0; k < c.args.size(); ++k) {
        SCOPED_TRACE("argument " + std::to_string(k));
        if (c.args[k].text == nullptr) {
            EXPECT_EQ(g_argList.args[k], nullptr);
            EXPECT_EQ(g_argList.lengths[k], 0);
        } else {
            ASSERT_NE(g_argList.args[k], nullptr);
            EXPECT_EQ(Show(g_argList.args[k]), Show(c.args[k].text));
            EXPECT_EQ(size_t(g_argList.lengths[k]), std::char_traits<char16_t>::length(c.args[k].text));
        }
    }
    // Entries beyond the arguments are missing.
    for (size_t k = c.args.size(); k < 8; ++k)
        EXPECT_EQ(g_argList.args[k], nullptr) << "argument " << k;
}

class SplitArgsTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitArgsTable, SplitsAtUnquotedCommas) { ExpectArgs(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitArgsTable,
    ::testing::Values(
        SplitCase{u"", 0, {}}, SplitCase{u"   \t ", 0, {}}, SplitCase{u"abc", 1, {{u"abc"}}},
        SplitCase{u"abc,", 1, {{u"abc"}}},                     // a trailing comma adds nothing
        SplitCase{u",abc", 2, {{nullptr}, {u"abc"}}},          // an empty first argument is missing
        SplitCase{u"a,,b", 3, {{u"a"}, {nullptr}, {u"b"}}},
        SplitCase{u",,", 2, {{nullptr}, {nullptr}}},
        SplitCase{u"  a b  , c", 2, {{u"a b"}, {u"c"}}},       // inner space stays
        SplitCase{u"\"a,b\",c", 2, {{u"a,b"}, {u"c"}}},        // a quoted comma is text
        SplitCase{u"a\"b\"c", 1, {{u"abc"}}},                  // quotes vanish mid-argument
        SplitCase{u"\" a\"", 1, {{u" a"}}},                    // quoted leading space stays
        SplitCase{u"\"a \"", 1, {{u"a"}}},                     // trailing space goes, quoted or not
        SplitCase{u"\"\"", 0, {{nullptr}}},                    // only quotes: missing
        SplitCase{u"\" \"", 1, {{u""}}},                       // quoted space: present, empty
        SplitCase{u"\" \",x", 2, {{u""}, {u"x"}}},
        SplitCase{u"\"a,b", 1, {{u"a,b"}}},                    // unbalanced quote runs to the end
        SplitCase{u"a\\,b", 2, {{u"a\\"}, {u"b"}}},            // a backslash protects nothing
        SplitCase{u"a\\\"b", 1, {{u"a\\b"}}},
        SplitCase{u"\u00a0a\u3000,\u2003b", 2, {{u"a"}, {u"b"}}}, // Unicode whitespace trims
        SplitCase{u"\u0085a", 1, {{u"\u0085a"}}}                  // NEL is no whitespace here
        ));

TEST(SplitArgs, NullTextKeepsThePreviousList)
{
    ASSERT_EQ(SplitArgs(u"x,y"), 2);
    EXPECT_EQ(SplitArgs(nullptr), -1);
    EXPECT_EQ(g_argList.count, 2);
    EXPECT_EQ(Show(g_argList.args[1]), Show(u"y"));
}

TEST(SplitArgs, EveryArgumentEndsInItsOwnNulInsideTheBuffer)
{
    ASSERT_EQ(SplitArgs(u"ab, c ,,d"), 4);
    const char16_t* b = g_argList.buffer;
    EXPECT_EQ(g_argList.args[0], b + 0);
    EXPECT_EQ(g_argList.args[1], b + 3);
    EXPECT_EQ(g_argList.args[3], b + 7); // the missing argument still took a NUL
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(b[4], 0); // the trailing space was trimmed to a NUL
}

TEST(SplitArgs, MoreThan1024ArgumentsAreCountedButNotStored)
{
    std::u16string text = u"word";
    text.append(1100, u',');
    ASSERT_EQ(SplitArgs(text.c_str()), 1100);
    EXPECT_EQ(Show(g_argList.args[0]), Show(u"word"));
    for (int k = 1; k < MAX_ARGS; ++k)
        ASSERT_EQ(g_argList.args[k], nullptr) << k;

    // Arguments beyond the tables are dropped, the tables stay intact.
    text.clear();
    for (int k = 0; k < 1100; ++k)
        text += u"x" + std::u16string(k % 3, u'y') + u",";
    ASSERT_EQ(SplitArgs(text.c_str()), 1100);
    EXPECT_EQ(Show(g_argList.args[1022]), Show(u"xyy"));
    EXPECT_EQ(g_argList.lengths[1022], 3);
    EXPECT_EQ(Show(g_argList.args[1023]), Show(u"x"));
}

TEST(SplitArgs, ATextOfMaximalLengthFitsWhateverItHolds)
{
    const std::u16string kinds[] = {std::u16string(8191, u','), std::u16string(8191, u'a'),
                                    std::u16string(8191, u'"'), std::u16string(8191, u' ')};
    for (const auto& text : kinds) {
        SplitOverflowReports().clear();
        EXPECT_GE(SplitArgs(text.c_str()), 0) << Show(text.substr(0, 4));
        EXPECT_TRUE(SplitOverflowReports().empty());
    }
    std::u16string mixed;
    while (mixed.size() < 8191)
        mixed += u"a,";
    mixed.resize(8191);
    // The last "a" lies beyond the tables and is dropped, so it is not
    // counted: the count is that of the commas.
    EXPECT_EQ(SplitArgs(mixed.c_str()), 4095);
    EXPECT_EQ(Show(g_argList.args[1023]), Show(u"a"));
}

TEST(SplitArgs, OverflowIsReportedNeverWritten)
{
    // Only a text longer than a shell buffer can get here.
    for (const char16_t fill : {u'a', u','}) {
        SplitOverflowReports().clear();
        std::u16string text(8200, fill);
        EXPECT_EQ(SplitArgs(text.c_str()), -1);
        ASSERT_EQ(SplitOverflowReports().size(), 1u);
        EXPECT_EQ(SplitOverflowReports()[0], std::make_pair(8191, 8192));
        EXPECT_EQ(g_argList.count, 0);
    }
}

struct NumberCase {
    const char16_t* text;
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
                         ::testing::Values(NumberCase{u"10", 0, 10}, NumberCase{u"0x1F", 0, 31},
                                           NumberCase{u"0X1f", 0, 31}, NumberCase{u"010", 0, 10},
                                           NumberCase{u"0", 0, 0}, NumberCase{u"4294967295", 0, 4294967295u},
                                           NumberCase{u"0xFFFFFFFF", 0, 4294967295u},
                                           NumberCase{u"00000000000000000000042", 0, 42},
                                           NumberCase{u"4294967296", ERANGE, 0},
                                           NumberCase{u"0x100000000", ERANGE, 0},
                                           NumberCase{u"99999999999999999999999", ERANGE, 0},
                                           NumberCase{u"", -1, 0}, NumberCase{u" 5", -1, 0},
                                           NumberCase{u"+5", -1, 0}, NumberCase{u"-5", -1, 0},
                                           NumberCase{u"5x", -1, 0}, NumberCase{u"0x", -1, 0},
                                           NumberCase{u"0xg", -1, 0}, NumberCase{u"5 ", -1, 0},
                                           NumberCase{u"\u0663", -1, 0},   // Arabic-Indic three
                                           NumberCase{u"\uff15", -1, 0},   // fullwidth five
                                           NumberCase{u"0x0x5", 0, 5}));   // the runtime's own prefix rule

TEST(ParseNumber, WithRestStopsAfterTheDigits)
{
    struct {
        const char16_t* text;
        uint32_t value;
        size_t restAt;
    } cases[] = {{u"5x", 5, 1}, {u"0x", 0, 1}, {u"0xg", 0, 1}, {u"0x1f,z", 31, 4}, {u"12 ,", 12, 2}, {u"7", 7, 1}};
    for (const auto& c : cases) {
        uint32_t value = 0;
        const char16_t* rest = nullptr;
        EXPECT_EQ(ParseNumber(c.text, &rest, &value), 0) << Show(c.text);
        EXPECT_EQ(value, c.value) << Show(c.text);
        EXPECT_EQ(rest, c.text + c.restAt) << Show(c.text);
    }
}

TEST(ParseNumber, FailureLeavesRestAndValueAlone)
{
    uint32_t value = 9;
    const char16_t* rest = u"untouched";
    const char16_t* before = rest;
    EXPECT_EQ(ParseNumber(u"x5", &rest, &value), -1);
    EXPECT_EQ(ParseNumber(u"4294967296z", &rest, &value), ERANGE);
    EXPECT_EQ(rest, before);
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(ParseNumber(nullptr, &rest, &value), -1);
    EXPECT_EQ(ParseNumber(u"5", &rest, nullptr), -1);
}

struct SignedCase {
    const char16_t* text;
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
                         ::testing::Values(SignedCase{u"-5", 0, -5}, SignedCase{u"0x10", 0, 16},
                                           SignedCase{u"0xFFFFFFFF", 0, -1}, // 0xffffffff == -1
                                           SignedCase{u"0x80000000", 0, INT32_MIN},
                                           SignedCase{u"2147483647", 0, INT32_MAX},
                                           SignedCase{u"-2147483648", 0, INT32_MIN},
                                           SignedCase{u"2147483648", ERANGE, 0},
                                           SignedCase{u"-2147483649", ERANGE, 0},
                                           SignedCase{u"0x100000000", ERANGE, 0},
                                           SignedCase{u"-0x5", -1, 0}, // -0 then trailing x5
                                           SignedCase{u"-0", 0, 0}, SignedCase{u"--5", -1, 0},
                                           SignedCase{u"-", -1, 0}, SignedCase{u"+5", -1, 0},
                                           SignedCase{u" 1", -1, 0}, SignedCase{u"1 ", -1, 0},
                                           SignedCase{u"", -1, 0}));

TEST(ParseSignedNumber, NullArgumentsFail)
{
    int32_t value = 0;
    EXPECT_EQ(ParseSignedNumber(nullptr, &value), -1);
    EXPECT_EQ(ParseSignedNumber(u"1", nullptr), -1);
}

TEST(TrimWhitespace, TrimsBothEndsInPlace)
{
    struct {
        const char16_t* text;
        const char16_t* trimmed;
    } cases[] = {{u"   ", u""}, {u"\tx ", u"x"}, {u"x", u"x"}, {u"", u""},
                 {u" a b ", u"a b"}, {u"\u3000\u00a0z\u2028", u"z"}, {u"\u0085", u"\u0085"}};
    for (const auto& c : cases) {
        std::u16string buffer(c.text);
        buffer.resize(buffer.size() + 4, u'#'); // trimming never reaches past the NUL
        buffer[std::char_traits<char16_t>::length(c.text)] = 0;
        EXPECT_EQ(TrimWhitespace(buffer.data()), 0);
        EXPECT_EQ(Show(buffer.c_str()), Show(c.trimmed)) << "from " << Show(c.text);
    }
    EXPECT_EQ(TrimWhitespace(nullptr), RESULT_MISSING);
}

} // namespace
