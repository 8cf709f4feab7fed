// The linear-time search and replacement against the plain way: rebuild the
// string for every occurrence, and look for each occurrence from scratch.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "functions/search.h"
#include "text_util.h"

namespace {

using Text = std::u16string;

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
    std::vector<char16_t> out(MAX_ARG_LEN + 8, u'#');
    *result = ReplaceOccurrences(text.data(), text.size(), text.data(), from.data(), from.size(), to.data(),
                                 to.size(), firstOnly, out.data());
    for (size_t i = MAX_ARG_LEN; i < out.size(); ++i)
        EXPECT_EQ(out[i], u'#') << "written past the buffer at " << i;
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
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    // Small alphabets make many overlapping and partial matches.
    for (const Text alphabet : {Text(u"a"), Text(u"ab"), Text(u"abc"), Text(u"a\xD83D\xDE00")}) {
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
    Text text(8191, u'a');
    EXPECT_EQ(FastOccurrences(text, u"aa", 0, true).size(), 8190u);
    EXPECT_EQ(FastOccurrences(text, u"aa", 0, false).size(), 4095u);
    EXPECT_EQ(FastOccurrences(text, Text(8191, u'a'), 0, true), std::vector<size_t>{0});
    EXPECT_TRUE(FastOccurrences(text, Text(8190, u'a') + u"b", 0, true).empty());
}

TEST(ReplaceOccurrences, GivesWhatRebuildingForEachOccurrenceGives)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (const Text alphabet : {Text(u"a"), Text(u"ab"), Text(u"abc")}) {
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
        const char16_t *text, *from, *to;
        bool firstOnly;
        const char16_t* expected;
    } cases[] = {
        {u"banana", u"a", u"b", false, u"bbnbnb"}, {u"banana", u"a", u"b", true, u"bbnana"},
        {u"banana", u"a", u"", false, u"bnn"},     {u"aaaa", u"aa", u"a", false, u"aa"},
        {u"aaa", u"a", u"aa", false, u"aaaaaa"},   {u"abc", u"", u"x", false, u"abc"},
        {u"", u"a", u"x", false, u""},             {u"ab", u"abc", u"x", false, u"ab"},
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
    Text text = u"aAbA";
    Text lowered = u"aaba";
    std::vector<char16_t> out(MAX_ARG_LEN);
    int length = ReplaceOccurrences(text.data(), text.size(), lowered.data(), u"a", 1, u"<>", 2, false, out.data());
    EXPECT_EQ(Show(Text(out.data(), size_t(length))), Show(u"<><>b<>"));
}

TEST(ReplaceOccurrences, AResultBeyond8191UnitsIsRefused)
{
    // Every character doubled: fits up to 8191 units, not one more.
    for (size_t letters : {4095u, 4096u}) {
        Text text(letters, u'x');
        text += u"y";
        int result = 0;
        FastReplace(text, u"x", u"xx", false, &result);
        EXPECT_EQ(result, letters * 2 + 1 <= 8191 ? int(letters * 2 + 1) : RESULT_OVERFLOW) << letters;
    }
    // Growth at the last occurrence, and in the copied tail.
    int result = 0;
    FastReplace(Text(8190, u'q') + u"z", u"z", u"zz", false, &result);
    EXPECT_EQ(result, RESULT_OVERFLOW);
    FastReplace(u"z" + Text(8190, u'q'), u"z", u"zz", false, &result);
    EXPECT_EQ(result, RESULT_OVERFLOW);
    FastReplace(u"z" + Text(8189, u'q'), u"z", u"zz", false, &result);
    EXPECT_EQ(result, 8191);
}

} // namespace
