// SplitArgs and TrimWhitespace (escape/args.cpp).
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "escape/args.h"
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
