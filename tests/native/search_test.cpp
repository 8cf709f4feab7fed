// The linear-time search and replacement against the plain way: rebuild the
// string for every occurrence, and look for each occurrence from scratch.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

} // namespace
