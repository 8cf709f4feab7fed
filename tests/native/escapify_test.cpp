// Escapify: forms chosen per character, counts, and the limits of the result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "escape/escapify.h"
#include "escape/expand.h"
#include "text_util.h"

namespace {

// The special characters the module always passes: the ten fixed ones and the
// shell's default command separator and escape character, which are among them.
const char16_t kDefaultSpecials[] = u"\"%&<>[]^`|";

std::vector<char16_t> InBuffer(const std::u16string& text, size_t guard = 16)
{
    std::vector<char16_t> buffer(MAX_ARG_LEN + guard, u'\xA5A5');
    std::fill(buffer.begin(), buffer.begin() + MAX_ARG_LEN, 0);
    std::copy(text.begin(), text.end(), buffer.begin());
    return buffer;
}

struct EscapeCase {
    std::u16string text;
    uint32_t flags;
    const char16_t* special;
    std::u16string expected;
    int count;
};

class EscapifyTable : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapifyTable, WritesTheChosenForm)
{
    const EscapeCase& c = GetParam();
    std::vector<char16_t> buffer = InBuffer(c.text);
    EXPECT_EQ(Escapify(buffer.data(), c.flags, c.special), c.count)
        << Show(c.text) << " flags " << c.flags;
    EXPECT_EQ(Show(buffer.data()), Show(c.expected)) << Show(c.text) << " flags " << c.flags;
}

// One character and what follows it; the expected text holds the character's
// form followed by the same follower (escaped itself where it needs to be).
INSTANTIATE_TEST_SUITE_P(
    SingleCharacters, EscapifyTable,
    ::testing::Values(
        EscapeCase{u"\tq", 0, kDefaultSpecials, u"\\tq", 1},
        EscapeCase{u"\t", 15, kDefaultSpecials, u"\\t", 1},
        EscapeCase{u"\x01z", 0, kDefaultSpecials, u"\\x01z", 1},
        EscapeCase{u"\x01\x37", 0, kDefaultSpecials, u"\\x00017", 1},
        EscapeCase{u"\x1b", 0, kDefaultSpecials, u"\\x001b", 1},
        EscapeCase{u"\x1b", 8, kDefaultSpecials, u"\\x1b", 1},
        EscapeCase{u"\x1b" u"5", 4, kDefaultSpecials, u"\\e5", 1},
        EscapeCase{u"\u00a0", 0, kDefaultSpecials, u"\\u00a0", 1},
        EscapeCase{u"\u00a0 ", 0, kDefaultSpecials, u"\\ua0 ", 1},
        EscapeCase{u"\"b", 0, kDefaultSpecials, u"\\u0022b", 1},
        EscapeCase{u"\"z", 0, kDefaultSpecials, u"\\u22z", 1},
        EscapeCase{u"\"a", 4, kDefaultSpecials, u"\\qa", 1},
        EscapeCase{u"\u00e9 ", 0, kDefaultSpecials, u"\u00e9 ", 0},
        EscapeCase{u"\u00e9 ", 1, kDefaultSpecials, u"\\ue9 ", 1},
        EscapeCase{u"\u20ac ", 1, kDefaultSpecials, u"\\u20ac ", 1},
        EscapeCase{u"\U0001F600!", 0, kDefaultSpecials, u"\\U1f600!", 1},
        EscapeCase{u"\U0001F600", 0, kDefaultSpecials, u"\\U0001f600", 1},
        EscapeCase{u"\U0001F600", 8, kDefaultSpecials, u"\\U1f600", 1},
        EscapeCase{u"\U0010FFFFF", 0, kDefaultSpecials, u"\\U0010ffffF", 1},
        EscapeCase{u"\U00010000x", 0, kDefaultSpecials, u"\\U10000x", 1}));

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapifyTable,
    ::testing::Values(
        EscapeCase{u"", 0, kDefaultSpecials, u"", 0},
        EscapeCase{u"\\", 0, kDefaultSpecials, u"\\\\", 1},
        EscapeCase{u"\t\t\t", 0, kDefaultSpecials, u"\\t\\t\\t", 3},
        EscapeCase{u"\a\b\n\v\f\r", 0, nullptr, u"\\a\\b\\n\\v\\f\\r", 6},
        EscapeCase{u"\x7f\x80\x9f", 0, nullptr, u"\\x7f\\u80\\u009f", 3},
        // Plain text, commas and spaces pass with the default settings.
        EscapeCase{u"a, b", 0, kDefaultSpecials, u"a, b", 0},
        // ... and are escaped once they are special; \c only under flag 4.
        EscapeCase{u"a, b", 0, u",", u"a\\u2c b", 1},
        EscapeCase{u"a, b", 4, u", ", u"a\\c\\u0020b", 2}, // b is a hex digit
        EscapeCase{u"~1~", 0, u"~", u"\\u007e1\\u007e", 2},
        EscapeCase{u"~1~", 8, u"~", u"\\u007e1\\u7e", 2},
        EscapeCase{u"`k`", 4, kDefaultSpecials, u"\\kk\\k", 2},
        EscapeCase{u"%PATH%", 0, kDefaultSpecials, u"\\u25PATH\\u0025", 2},
        // Flag 2 picks up format characters the runtime calls controls.
        EscapeCase{u"a\u200bb", 0, nullptr, u"a\u200bb", 0},
        EscapeCase{u"a\u200bb", 2, nullptr, u"a\\u200bb", 1},
        EscapeCase{u"a\u200bg", 2, nullptr, u"a\\u200bg", 1},
        // No special characters at all when none are given.
        EscapeCase{u"\"&|", 0, nullptr, u"\"&|", 0}));

// A lone surrogate is copied, or written as a \u escape of its own value.
INSTANTIATE_TEST_SUITE_P(
    LoneSurrogates, EscapifyTable,
    ::testing::Values(EscapeCase{u"a\xD83D", 0, kDefaultSpecials, u"a\xD83D", 0},
                      EscapeCase{u"\xDE00x", 0, kDefaultSpecials, u"\xDE00x", 0},
                      EscapeCase{u"\xD83Dz", 1, kDefaultSpecials, u"\\ud83dz", 1},
                      EscapeCase{u"\xD83D", 1, kDefaultSpecials, u"\\ud83d", 1},
                      EscapeCase{u"\xD83D\xD83D\xDE00", 1, nullptr, u"\\ud83d\\U0001f600", 2},
                      EscapeCase{u"\xD83D", 0, u"\xD83D", u"\\ud83d", 1}));

TEST(Escapify, NullTextIsMissing) { EXPECT_EQ(Escapify(nullptr, 0, nullptr), RESULT_MISSING); }

TEST(Escapify, APairIsNeverTakenForItsSpecialUnits)
{
    std::vector<char16_t> buffer = InBuffer(u"\U0001F600");
    // Both halves of the pair are in the set; the pair is escaped as one
    // character all the same.
    EXPECT_EQ(Escapify(buffer.data(), 0, u"\xD83D\xDE00"), 1);
    EXPECT_EQ(Show(buffer.data()), Show(u"\\U0001f600"));
}

// The escaped text may fill the buffer up to 8191 units. Each text starts with
// a TAB (two units escaped), so that even with a plain character at the end
// the escaped text can outgrow an input that fits. `tail` is the last
// character and `tailUnits` the length of its form at the end of the text.
struct Boundary {
    const char* name;
    std::u16string tail;
    int tailUnits;
};

class EscapifyBoundary : public ::testing::TestWithParam<Boundary> {};

TEST_P(EscapifyBoundary, FitsAt8191UnitsAndFailsOneBeyond)
{
    const Boundary& b = GetParam();
    for (int total : {8189, 8190, 8191, 8192}) {
        SCOPED_TRACE(std::string(b.name) + ", escaped length " + std::to_string(total));
        std::u16string text = u"\t" + std::u16string(size_t(total - 2 - b.tailUnits), u'p') + b.tail;
        std::vector<char16_t> buffer = InBuffer(text);
        std::vector<char16_t> before = buffer;
        int result = Escapify(buffer.data(), 0, kDefaultSpecials);
        if (total <= 8191) {
            EXPECT_EQ(result, b.tailUnits > 1 ? 2 : 1);
            EXPECT_EQ(std::char_traits<char16_t>::length(buffer.data()), size_t(total));
        } else {
            EXPECT_EQ(result, RESULT_OVERFLOW);
            EXPECT_TRUE(buffer == before) << "the text must stay as it was";
        }
        EXPECT_TRUE(std::equal(buffer.begin() + MAX_ARG_LEN, buffer.end(), before.begin() + MAX_ARG_LEN));
    }
}

INSTANTIATE_TEST_SUITE_P(Tails, EscapifyBoundary,
                         ::testing::Values(Boundary{"plain", u"q", 1}, Boundary{"control", u"\t", 2},
                                           Boundary{"u escape", u"\u0080", 6},
                                           Boundary{"U escape", u"\U0001F600", 10}),
                         [](const auto& info) { return std::to_string(info.index); });

TEST(Escapify, PlainTextOfFullLengthComesBackUnchanged)
{
    std::vector<char16_t> buffer = InBuffer(std::u16string(8191, u'w'));
    EXPECT_EQ(Escapify(buffer.data(), 15, kDefaultSpecials), 0);
    EXPECT_EQ(std::u16string(buffer.data()), std::u16string(8191, u'w'));
}

TEST(Escapify, OverflowInTheMiddleLeavesTheTextAlone)
{
    std::u16string text(8191, u'a');
    text[100] = u'\t';
    std::vector<char16_t> buffer = InBuffer(text);
    EXPECT_EQ(Escapify(buffer.data(), 0, nullptr), RESULT_OVERFLOW);
    EXPECT_TRUE(std::u16string(buffer.data()) == text);
}

} // namespace
