// The linear-time search and replacement against the plain way: rebuild the
// string for every occurrence, and look for each occurrence from scratch; and
// FindOccurrence, the positions @expfind reports, row by row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "escape/expand.h"
#include "escape/scratch.h"
#include "functions/search.h"
#include "tests/test_seed.h"
#include "text_util.h"

namespace {

// Every occurrence of `pattern` at or after `from`, each search starting one
// unit after the previous occurrence's start (overlapping) or behind it.
std::vector<size_t> ReferenceOccurrences(const Text& text, const Text& pattern, size_t from, bool overlapping)
{
    std::vector<size_t> found;
    if (pattern.empty())
        return found;
    for (size_t at = text.find(pattern, from); at != Text::npos;
         at = text.find(pattern, at + (overlapping ? 1 : pattern.size())))
        found.push_back(at);
    return found;
}

// Replacement as a sequence of rebuilds: find from the search position,
// assemble prefix + replacement + rest, go on behind the replacement.
Text ReferenceReplace(Text text, const Text& from, const Text& to, bool firstOnly)
{
    if (from.empty())
        return text;
    for (size_t position = 0;;) {
        size_t at = text.find(from, position);
        if (at == Text::npos)
            break;
        text = text.substr(0, at) + to + text.substr(at + from.size());
        position = at + to.size();
        if (firstOnly || position >= text.size())
            break;
    }
    return text;
}

std::vector<size_t> FastOccurrences(const Text& text, const Text& pattern, size_t from, bool overlapping)
{
    std::vector<size_t> found;
    if (pattern.empty())
        return found;
    auto search = std::make_unique<Search>();
    search->text = text.data();
    search->textLength = text.size();
    search->pattern = pattern.data();
    search->patternLength = pattern.size();
    search->overlapping = overlapping;
    StartSearch(search.get(), from);
    for (size_t at; (at = NextOccurrence(search.get())) != kNoOccurrence;)
        found.push_back(at);
    return found;
}

Text FastReplace(const Text& text, const Text& from, const Text& to, bool firstOnly, int* result)
{
    std::vector<Unit> out(MAX_ARG_LEN + 8, U16('#'));
    *result = ReplaceOccurrences(text.data(), text.size(), text.data(), from.data(), from.size(), to.data(),
                                 to.size(), firstOnly, out.data());
    for (size_t i = MAX_ARG_LEN; i < out.size(); ++i)
        EXPECT_EQ(out[i], U16('#')) << "written past the buffer at " << i;
    return *result >= 0 ? Text(out.data(), size_t(*result)) : Text();
}

Text RandomText(std::mt19937& rng, size_t length, const Text& alphabet)
{
    Text text;
    while (text.size() < length)
        text += alphabet[rng() % alphabet.size()];
    return text;
}

TEST(Search, FindsWhatThePlainSearchFinds)
{
    const unsigned seed = TestSeed();
    SCOPED_TRACE(SeedTrace(seed));
    std::mt19937 rng(seed);
    // Small alphabets make many overlapping and partial matches.
    for (const Text& alphabet : {Text(U16("a")), Text(U16("ab")), Text(U16("abc")), Text(U16("a\xD83D\xDE00"))}) {
        for (int n = 0; n < 400; ++n) {
            Text text = RandomText(rng, rng() % 120, alphabet);
            Text pattern = RandomText(rng, 1 + rng() % 6, alphabet);
            size_t from = text.empty() ? 0 : rng() % (text.size() + 1);
            for (bool overlapping : {true, false})
                ASSERT_EQ(FastOccurrences(text, pattern, from, overlapping),
                          ReferenceOccurrences(text, pattern, from, overlapping))
                    << Show(text) << " / " << Show(pattern) << " from " << from << " overlapping " << overlapping;
        }
    }
}

TEST(Search, WorstCaseOverlapsAreAllFound)
{
    Text text(8191, U16('a'));
    EXPECT_EQ(FastOccurrences(text, U16("aa"), 0, true).size(), 8190u);
    EXPECT_EQ(FastOccurrences(text, U16("aa"), 0, false).size(), 4095u);
    EXPECT_EQ(FastOccurrences(text, Text(8191, U16('a')), 0, true), std::vector<size_t>{0});
    EXPECT_TRUE(FastOccurrences(text, Text(8190, U16('a')) + U16("b"), 0, true).empty());
}

TEST(ReplaceOccurrences, GivesWhatRebuildingForEachOccurrenceGives)
{
    const unsigned seed = TestSeed();
    SCOPED_TRACE(SeedTrace(seed));
    std::mt19937 rng(seed);
    for (const Text& alphabet : {Text(U16("a")), Text(U16("ab")), Text(U16("abc"))}) {
        for (int n = 0; n < 500; ++n) {
            Text text = RandomText(rng, rng() % 100, alphabet);
            Text from = RandomText(rng, rng() % 4, alphabet); // empty too
            Text to = RandomText(rng, rng() % 4, alphabet);
            for (bool firstOnly : {false, true}) {
                int result = 0;
                Text fast = FastReplace(text, from, to, firstOnly, &result);
                ASSERT_EQ(Show(fast), Show(ReferenceReplace(text, from, to, firstOnly)))
                    << Show(text) << " " << Show(from) << " -> " << Show(to) << " first only " << firstOnly;
                ASSERT_EQ(size_t(result), fast.size());
            }
        }
    }
}

TEST(ReplaceOccurrences, KnownCases)
{
    struct {
        const Unit *text, *from, *to;
        bool firstOnly;
        const Unit* expected;
    } cases[] = {
        {U16("banana"), U16("a"), U16("b"), false, U16("bbnbnb")},
        {U16("banana"), U16("a"), U16("b"), true, U16("bbnana")},
        {U16("banana"), U16("a"), U16(""), false, U16("bnn")},
        {U16("aaaa"), U16("aa"), U16("a"), false, U16("aa")},
        {U16("aaa"), U16("a"), U16("aa"), false, U16("aaaaaa")},
        {U16("abc"), U16(""), U16("x"), false, U16("abc")},
        {U16(""), U16("a"), U16("x"), false, U16("")},
        {U16("ab"), U16("abc"), U16("x"), false, U16("ab")},
    };
    for (const auto& c : cases) {
        int result = 0;
        EXPECT_EQ(Show(FastReplace(c.text, c.from, c.to, c.firstOnly, &result)), Show(c.expected))
            << Show(c.text) << " " << Show(c.from) << " -> " << Show(c.to);
    }
}

TEST(ReplaceOccurrences, SearchesTheHaystackAndCopiesTheText)
{
    // The haystack stands for a lower-cased copy of the text.
    Text text = U16("aAbA");
    Text lowered = U16("aaba");
    std::vector<Unit> out(MAX_ARG_LEN);
    int length =
        ReplaceOccurrences(text.data(), text.size(), lowered.data(), U16("a"), 1, U16("<>"), 2, false, out.data());
    EXPECT_EQ(Show(Text(out.data(), size_t(length))), Show(U16("<><>b<>")));
}

TEST(ReplaceOccurrences, AResultBeyond8191UnitsIsRefused)
{
    // Every character doubled: fits up to 8191 units, not one more.
    for (size_t letters : {4095u, 4096u}) {
        Text text(letters, U16('x'));
        text += U16("y");
        int result = 0;
        FastReplace(text, U16("x"), U16("xx"), false, &result);
        EXPECT_EQ(result, letters * 2 + 1 <= 8191 ? int(letters * 2 + 1) : RESULT_OVERFLOW) << letters;
    }
    // Growth at the last occurrence, and in the copied tail.
    int result = 0;
    FastReplace(Text(8190, U16('q')) + U16("z"), U16("z"), U16("zz"), false, &result);
    EXPECT_EQ(result, RESULT_OVERFLOW);
    FastReplace(U16("z") + Text(8190, U16('q')), U16("z"), U16("zz"), false, &result);
    EXPECT_EQ(result, RESULT_OVERFLOW);
    FastReplace(U16("z") + Text(8189, U16('q')), U16("z"), U16("zz"), false, &result);
    EXPECT_EQ(result, 8191);
}

// @expreplace's replacing: in its text, in place, found in the text itself or
// in lower-cased copies of it and of `from` (flag 1), every occurrence or the
// first (flag 2); an empty `from`, or one longer than the text, finds nothing.
TEST(ReplaceInText, ReplacesInTheTextItself)
{
    const struct {
        const Unit *from, *to, *text;
        uint32_t flags;
        const Unit* expected;
    } rows[] = {
        {U16("a"), U16("b"), U16("xaya"), 0, U16("xbyb")},  {U16("aa"), U16(""), U16("xaax"), 0, U16("xx")},
        {U16("a"), U16("b"), U16("xAyA"), 1, U16("xbyb")},  {U16("A"), U16("b"), U16("xAa"), 3, U16("xba")},
        {U16("A"), U16("b"), U16("xAa"), 2, U16("xba")},    {U16("xa"), U16("-"), U16("xA"), 1, U16("-")},
        {U16("xab"), U16("-"), U16("xa"), 0, U16("xa")},   {U16(""), U16("-"), U16("xa"), 0, U16("xa")},
    };
    auto args = std::make_unique<ReplaceArguments>();
    auto put = [](Unit* out, const Unit* text) {
        std::char_traits<Unit>::copy(out, text, std::char_traits<Unit>::length(text) + 1);
    };
    // Each row, then the third without memory for either copy: nothing found.
    for (size_t k = 0; k < std::size(rows) + 2; ++k) {
        const long failing = k < std::size(rows) ? 0 : long(k - std::size(rows) + 1); // the n-th allocation
        const auto& row = rows[failing ? 2 : k];
        put(args->from, row.from), put(args->to, row.to), put(args->text, row.text);
        args->flags = row.flags;
        ScratchFailAt(failing);
        const int length = ReplaceInText(args.get(), [](Unit* text, size_t n) {
            for (size_t i = 0; i < n; ++i)
                text[i] = text[i] >= 'A' && text[i] <= 'Z' ? Unit(text[i] + 32) : text[i];
        });
        ScratchFailAt(0);
        const Unit* expected = failing ? row.text : row.expected;
        EXPECT_EQ(Show(args->text), Show(expected)) << Show(row.text) << " flags " << row.flags << " " << failing;
        EXPECT_EQ(length, int(std::char_traits<Unit>::length(expected)));
    }
}

// One search of @expfind: both strings as written, expanded here with
// ExpandEscapes (the string with its position map); with ignoreCase both are
// lower-cased first, as f_expfind does without flag 1 (the rows use ASCII
// letters only, which every system lowers alike).
struct FindCase {
    const Unit* text;
    const Unit* pattern;
    int32_t n;
    uint32_t offset;
    bool ignoreCase;
    uint32_t count; // occurrences from the offset on
    int64_t start;  // in the text as written; -1 when the n-th is not found
    uint32_t length;
};

void LowerAscii(Unit* text)
{
    for (; *text != 0; ++text)
        if (*text >= 'A' && *text <= 'Z')
            *text = Unit(*text + ('a' - 'A'));
}

class FindOccurrenceTable : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindOccurrenceTable, ReportsTheOccurrenceInTheTextAsWritten)
{
    const FindCase& c = GetParam();
    const size_t written = std::char_traits<Unit>::length(c.text);
    std::vector<Unit> text(MAX_ARG_LEN, 0), pattern(MAX_ARG_LEN, 0);
    std::vector<int32_t> map(MAX_ARG_LEN, -7);
    std::copy(c.text, c.text + written, text.begin());
    std::copy(c.pattern, c.pattern + std::char_traits<Unit>::length(c.pattern), pattern.begin());
    ASSERT_GE(ExpandEscapes(text.data(), map.data()), 0) << Show(c.text);
    ASSERT_GE(ExpandEscapes(pattern.data(), nullptr), 0) << Show(c.pattern);
    if (c.ignoreCase) {
        LowerAscii(text.data());
        LowerAscii(pattern.data());
    }
    FindOutcome outcome{777, true, 777, 777};
    ASSERT_EQ(FindOccurrence(text.data(), map.data(), uint32_t(written), pattern.data(), c.n, c.offset, &outcome), 0);
    const std::string row = Show(c.text) + " " + Show(c.pattern) + " n " + std::to_string(c.n) + " offset " +
                            std::to_string(c.offset) + (c.ignoreCase ? " ignoring case" : "");
    EXPECT_EQ(outcome.count, c.count) << row;
    EXPECT_EQ(outcome.found, c.start >= 0) << row;
    if (c.start >= 0 && outcome.found) {
        EXPECT_EQ(outcome.start, uint32_t(c.start)) << row;
        EXPECT_EQ(outcome.length, c.length) << row;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindOccurrenceTable,
    ::testing::Values(
        // Surrogate pairs: one escape gives two units, and the length covers
        // the escape; a match that begins in the pair's second unit starts at
        // the escape, and one that ends inside it has length 0.
        FindCase{U16("x\\U1F600y"), U16("\\U1F600"), 1, 0, false, 1, 1, 7},
        FindCase{U16("x\\U1F600y"), U16("\\xDE00y"), 1, 0, false, 1, 1, 8},
        FindCase{U16("x\\U1F600y"), U16("\\xD83D"), 1, 0, false, 1, 1, 0},
        FindCase{U16("x\U0001F600y"), U16("\\xDE00y"), 1, 0, false, 1, 2, 2},
        FindCase{U16("a\\U1F600"), U16("\U0001F600"), 1, 0, false, 1, 1, 7},
        FindCase{U16("\\U1F600\\U1F600"), U16("\\U1F600"), -1, 0, false, 2, 7, 7},
        // A match over several escapes runs from the first one's start to
        // the end of the last, here the end of the text.
        FindCase{U16("\\x0041bc\\x0044"), U16("AbcD"), 1, 0, false, 1, 0, 14},
        // Overlapping matches, counted and picked from either end.
        FindCase{U16("aaaa"), U16("aa"), 0, 0, false, 3, -1, 0},
        FindCase{U16("aaaa"), U16("aa"), 2, 0, false, 3, 1, 2},
        FindCase{U16("aaaa"), U16("aa"), -1, 0, false, 3, 2, 2},
        FindCase{U16("aaaa"), U16("aa"), 4, 0, false, 3, -1, 0},
        FindCase{U16("aaaa"), U16("aa"), -4, 0, false, 3, -1, 0},
        FindCase{U16("aaa"), U16("aa"), -2147483647 - 1, 0, false, 2, -1, 0},
        FindCase{U16("abababa"), U16("aba"), -2, 0, false, 3, 2, 3},
        FindCase{U16("a\\141a\\141"), U16("aa"), 2, 0, false, 3, 1, 5},
        FindCase{U16("a\\141a\\141"), U16("aa"), -1, 0, false, 3, 5, 5},
        // Case: folded on both sides, or respected.
        FindCase{U16("ABC"), U16("b"), 1, 0, true, 1, 1, 1},
        FindCase{U16("ABC"), U16("b"), 1, 0, false, 0, -1, 0},
        FindCase{U16("a\\x41-z"), U16("A"), 1, 0, true, 2, 0, 1},
        FindCase{U16("a\\x41-z"), U16("A"), -1, 0, true, 2, 1, 4},
        FindCase{U16("a\\x41-z"), U16("A"), 1, 0, false, 1, 1, 4},
        FindCase{U16("\\x41\\x61"), U16("aA"), 1, 0, true, 1, 0, 8},
        // Offsets: an escape that begins before the offset is skipped; the
        // start stays absolute; at or past the end nothing is found.
        FindCase{U16("a\\x41-z"), U16("A"), 1, 1, false, 1, 1, 4},
        FindCase{U16("a\\x41-z"), U16("A"), 1, 2, false, 0, -1, 0},
        FindCase{U16("a\\x41-z"), U16("-"), 1, 2, false, 1, 5, 1},
        FindCase{U16("zz\\x41\\x42"), U16("ab"), 1, 1, true, 1, 2, 8},
        FindCase{U16("aXaXa"), U16("a"), -1, 4, false, 1, 4, 1},
        FindCase{U16("aaa"), U16("a"), 0, 3, false, 0, -1, 0},
        FindCase{U16("\\0abc"), U16("a"), 1, 1, false, 1, 2, 1},
        // Empty strings find nothing.
        FindCase{U16("abc"), U16(""), 1, 0, false, 0, -1, 0},
        FindCase{U16(""), U16("a"), 0, 0, false, 0, -1, 0}));

} // namespace
