// Escapify: forms chosen per character, counts, and the limits of the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "escape/escapify.h"
#include "escape/expand.h"
#include "text_util.h"

namespace {

// The special characters the module always passes: the ten fixed ones and the
// shell's default command separator and escape character, which are among them.
const Unit kDefaultSpecials[] = U16("\"%&<>[]^`|");

std::vector<Unit> InBuffer(const Text& text, size_t guard = 16)
{
    std::vector<Unit> buffer(MAX_ARG_LEN + guard, U16('\xA5A5'));
    std::fill(buffer.begin(), buffer.begin() + MAX_ARG_LEN, 0);
    std::copy(text.begin(), text.end(), buffer.begin());
    return buffer;
}

// `piece` n times over.
Text Times(const Unit* piece, size_t n)
{
    Text text;
    while (n-- > 0)
        text += piece;
    return text;
}

struct EscapeCase {
    Text text;
    uint32_t flags;
    const Unit* special;
    Text expected;
    int count;
};

class EscapifyTable : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapifyTable, WritesTheChosenForm)
{
    const EscapeCase& c = GetParam();
    std::vector<Unit> buffer = InBuffer(c.text);
    EXPECT_EQ(Escapify(buffer.data(), c.flags, c.special), c.count)
        << Show(c.text) << " flags " << c.flags;
    EXPECT_EQ(Show(buffer.data()), Show(c.expected)) << Show(c.text) << " flags " << c.flags;
}

// One character and what follows it; the expected text holds the character's
// form followed by the same follower (escaped itself where it needs to be).
INSTANTIATE_TEST_SUITE_P(
    SingleCharacters, EscapifyTable,
    ::testing::Values(
        EscapeCase{U16("\tq"), 0, kDefaultSpecials, U16("\\tq"), 1},
        EscapeCase{U16("\t"), 15, kDefaultSpecials, U16("\\t"), 1},
        EscapeCase{U16("\x01z"), 0, kDefaultSpecials, U16("\\x01z"), 1},
        EscapeCase{U16("\x01\x37"), 0, kDefaultSpecials, U16("\\x00017"), 1},
        EscapeCase{U16("\x1b"), 0, kDefaultSpecials, U16("\\x001b"), 1},
        EscapeCase{U16("\x1b"), 8, kDefaultSpecials, U16("\\x1b"), 1},
        EscapeCase{U16("\x1b") U16("5"), 4, kDefaultSpecials, U16("\\e5"), 1},
        EscapeCase{U16("\u00a0"), 0, kDefaultSpecials, U16("\\u00a0"), 1},
        EscapeCase{U16("\u00a0 "), 0, kDefaultSpecials, U16("\\ua0 "), 1},
        EscapeCase{U16("\u00a1 "), 0, kDefaultSpecials, U16("\u00a1 "), 0},
        EscapeCase{U16("\"b"), 0, kDefaultSpecials, U16("\\u0022b"), 1},
        EscapeCase{U16("\"z"), 0, kDefaultSpecials, U16("\\u22z"), 1},
        EscapeCase{U16("\"a"), 4, kDefaultSpecials, U16("\\qa"), 1},
        EscapeCase{U16("\u00e9 "), 0, kDefaultSpecials, U16("\u00e9 "), 0},
        EscapeCase{U16("\u00e9 "), 1, kDefaultSpecials, U16("\\ue9 "), 1},
        EscapeCase{U16("\u20ac "), 1, kDefaultSpecials, U16("\\u20ac "), 1},
        EscapeCase{U16("\U0001F600!"), 0, kDefaultSpecials, U16("\\U1f600!"), 1},
        EscapeCase{U16("\U0001F600"), 0, kDefaultSpecials, U16("\\U0001f600"), 1},
        EscapeCase{U16("\U0001F600"), 8, kDefaultSpecials, U16("\\U1f600"), 1},
        EscapeCase{U16("\U0010FFFFF"), 0, kDefaultSpecials, U16("\\U0010ffffF"), 1},
        EscapeCase{U16("\U00010000x"), 0, kDefaultSpecials, U16("\\U10000x"), 1},
        // Special characters at the edges of the per-call table and of the set beyond it.
        EscapeCase{U16("\u00ffz"), 0, U16("\u00ff"), U16("\\uffz"), 1},
        EscapeCase{U16("\u0100z"), 0, U16("\u0100"), U16("\\u100z"), 1},
        EscapeCase{U16("\uffffz"), 0, U16("\uffff"), U16("\\uffffz"), 1}));

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapifyTable,
    ::testing::Values(
        EscapeCase{U16(""), 0, kDefaultSpecials, U16(""), 0},
        EscapeCase{U16("\\"), 0, kDefaultSpecials, U16("\\\\"), 1},
        EscapeCase{U16("\t\t\t"), 0, kDefaultSpecials, U16("\\t\\t\\t"), 3},
        EscapeCase{U16("\a\b\n\v\f\r"), 0, nullptr, U16("\\a\\b\\n\\v\\f\\r"), 6},
        EscapeCase{U16("\x7f\x80\x9f"), 0, nullptr, U16("\\x7f\\u80\\u009f"), 3},
        // The units next to the hexadecimal digits take no long form before them.
        EscapeCase{U16("\x01/\x01:\x01@\x01G\x01`\x01g"), 0, nullptr, U16("\\x01/\\x01:\\x01@\\x01G\\x01`\\x01g"), 6},
        // Plain text, commas and spaces pass with the default settings.
        EscapeCase{U16("a, b"), 0, kDefaultSpecials, U16("a, b"), 0},
        // ... and are escaped once they are special; \c only under flag 4.
        EscapeCase{U16("a, b"), 0, U16(","), U16("a\\u2c b"), 1},
        EscapeCase{U16("a, b"), 4, U16(", "), U16("a\\c\\u0020b"), 2}, // b is a hex digit
        EscapeCase{U16("~1~"), 0, U16("~"), U16("\\u007e1\\u007e"), 2},
        EscapeCase{U16("~1~"), 8, U16("~"), U16("\\u007e1\\u7e"), 2},
        EscapeCase{U16("`k`"), 4, kDefaultSpecials, U16("\\kk\\k"), 2},
        EscapeCase{U16("%PATH%"), 0, kDefaultSpecials, U16("\\u25PATH\\u0025"), 2},
        EscapeCase{U16("\t\u20ac%"), 0, kDefaultSpecials, U16("\\t\u20ac\\u0025"), 2}, // a special after a wide unit
        // Flag 2 picks up format characters the runtime calls controls.
        EscapeCase{U16("a\u200bb"), 0, nullptr, U16("a\u200bb"), 0},
        EscapeCase{U16("a\u200bb"), 2, nullptr, U16("a\\u200bb"), 1},
        EscapeCase{U16("a\u200bg"), 2, nullptr, U16("a\\u200bg"), 1},
        // No special characters at all when none are given.
        EscapeCase{U16("\"&|"), 0, nullptr, U16("\"&|"), 0},
        // Sixteen escapes under flag 1, the first of three digits or of four.
        EscapeCase{U16("\u0FFF") + Text(15, U16('\u4E00')), 1, nullptr, U16("\\ufff") + Times(U16("\\u4e00"), 15), 16},
        EscapeCase{U16("\u1000") + Text(15, U16('\u4E00')), 1, nullptr, U16("\\u1000") + Times(U16("\\u4e00"), 15), 16}));

// A lone surrogate is copied, or written as a \u escape of its own value.
INSTANTIATE_TEST_SUITE_P(
    LoneSurrogates, EscapifyTable,
    ::testing::Values(EscapeCase{U16("a\xD83D"), 0, kDefaultSpecials, U16("a\xD83D"), 0},
                      EscapeCase{U16("\xDE00x"), 0, kDefaultSpecials, U16("\xDE00x"), 0},
                      EscapeCase{U16("\xD83Dz"), 1, kDefaultSpecials, U16("\\ud83dz"), 1},
                      EscapeCase{U16("\xD83D"), 1, kDefaultSpecials, U16("\\ud83d"), 1},
                      EscapeCase{U16("\xD83D\xD83D\xDE00"), 1, nullptr, U16("\\ud83d\\U0001f600"), 2},
                      EscapeCase{U16("\xD83D"), 0, U16("\xD83D"), U16("\\ud83d"), 1}));

// The escapes of the units below 256 come from a table made once, chosen by a
// class table made per call: for every such unit, every flags value, in the
// special set or not, before a hexadecimal digit, another unit or the end,
// Escapify writes what WriteEscape writes for that one character.
TEST(Escapify, TheTableAgreesWithWriteEscape)
{
    const Unit kFollowers[] = {U16('7'), U16('z'), 0};
    int failures = 0;
    for (uint32_t flags = 0; flags < 16; ++flags) {
        const EscapeOptions options = ReadEscapeFlags(flags);
        for (unsigned u = 1; u < 256 && failures < 10; ++u) {
            for (const bool special : {false, true}) {
                const Unit set[] = {special ? Unit(u) : U16('\x01'), 0};
                for (const Unit follower : kFollowers) {
                    if (special && follower == u)
                        continue; // the follower would be escaped too
                    Text text(1, Unit(u));
                    if (follower != 0)
                        text += follower;
                    const bool longForm = follower == U16('7') || (follower == 0 && !(flags & ESCF_SHORT_AT_END));
                    Unit form[10];
                    const int n = WriteEscape(form, u, options, special, longForm);
                    Text expected = n > 0 ? Text(form, size_t(n)) : Text(1, Unit(u));
                    if (follower != 0)
                        expected += follower;
                    std::vector<Unit> buffer = InBuffer(text);
                    const int count = Escapify(buffer.data(), flags, set);
                    if (Text(buffer.data()) != expected || count != (n > 0 ? 1 : 0)) {
                        ADD_FAILURE() << "unit " << u << " flags " << flags << (special ? " special" : "")
                                      << ": " << Show(buffer.data()) << ", expected " << Show(expected);
                        ++failures;
                    }
                }
            }
        }
    }
}

// Every character beyond U+FFFF, before a hexadecimal digit, another unit and
// the end, many to a text: the forms of the pairs are what WriteEscape writes.
TEST(Escapify, EveryPairAgreesWithWriteEscape)
{
    const EscapeOptions options = ReadEscapeFlags(0);
    constexpr uint32_t kBatch = 700; // at most 11 units each escaped, within the buffer
    int failures = 0;
    for (uint32_t from = 0x10000; from <= 0x10FFFF && failures < 5; from += kBatch) {
        Text text, expected;
        const uint32_t to = std::min<uint32_t>(from + kBatch, 0x110000);
        for (uint32_t c = from; c < to; ++c) {
            const Unit follower = (c & 1) != 0 ? U16('7') : U16('z');
            const bool last = c + 1 == to;
            text += Unit(0xD800 + ((c - 0x10000) >> 10));
            text += Unit(0xDC00 + ((c - 0x10000) & 0x3FF));
            if (!last)
                text += follower;
            Unit form[10];
            const int n = WriteEscape(form, c, options, false, last || follower == U16('7'));
            expected += Text(form, size_t(n));
            if (!last)
                expected += follower;
        }
        std::vector<Unit> buffer = InBuffer(text);
        const int count = Escapify(buffer.data(), 0, kDefaultSpecials);
        if (count != int(to - from) || Text(buffer.data()) != expected) {
            ADD_FAILURE() << "characters from U+" << std::hex << from << ": " << Show(buffer.data());
            ++failures;
        }
    }
}

// Every unit from 256 on, alone (a surrogate too), before a hexadecimal
// digit, another unit and the end, many to a text, under the flags and
// special sets that leave such units as they are, escape them all and ask
// for each: the forms are what WriteEscape writes.
TEST(Escapify, EveryWideUnitAgreesWithWriteEscape)
{
    const Unit kWideSpecials[] = {U16('%'), U16('\x0100'), U16('\x0FFF'), U16('\x1000'), U16('\xD800'),
                                  U16('\xFFFF'), 0};
    const struct {
        uint32_t flags;
        const Unit* special;
    } kSettings[] = {{0, kDefaultSpecials}, {ESCF_NONASCII, kDefaultSpecials},
                     {ESCF_NONASCII | ESCF_SHORT_AT_END, nullptr}, {0, kWideSpecials}};
    constexpr uint32_t kBatch = 1100; // at most 7 units each escaped, within the buffer
    int failures = 0;
    // Each unit followed by a unit below 256, and the units one after the
    // other (blocks of them alone).
    for (const bool followed : {true, false})
    for (const auto& settings : kSettings) {
        const EscapeOptions options = ReadEscapeFlags(settings.flags);
        for (uint32_t from = 0x100; from <= 0xFFFF && failures < 5; from += kBatch) {
            Text text, expected;
            int escapes = 0;
            const uint32_t to = std::min<uint32_t>(from + kBatch, 0x10000);
            for (uint32_t u = from; u < to; ++u) {
                if (!followed && u >= 0xD800 && u <= 0xDBFF)
                    continue; // a high unit would start a pair with the low one after it
                const Unit follower = !followed ? Unit(u + 1) : (u & 1) != 0 ? U16('7') : U16('z');
                const bool last = u + 1 == to;
                text += Unit(u);
                if (!last && followed)
                    text += follower;
                const bool special = settings.special == kWideSpecials &&
                                     std::find(kWideSpecials, kWideSpecials + 6, Unit(u)) != kWideSpecials + 6;
                Unit form[10];
                const bool longForm = last ? (settings.flags & ESCF_SHORT_AT_END) == 0 : follower == U16('7');
                const int n = WriteEscape(form, u, options, special, longForm);
                expected += n > 0 ? Text(form, size_t(n)) : Text(1, Unit(u));
                escapes += n > 0;
                if (!last && followed)
                    expected += follower;
            }
            std::vector<Unit> buffer = InBuffer(text);
            const int count = Escapify(buffer.data(), settings.flags, settings.special);
            if (count != escapes || Text(buffer.data()) != expected) {
                ADD_FAILURE() << "flags " << settings.flags << ", units from U+" << std::hex << from << ": "
                              << Show(buffer.data()).substr(0, 200);
                ++failures;
            }
        }
    }
}

// What a call's settings make of the classes is kept for the next call with
// the same settings, and only then: every change shows in the next call, also
// one made in the same buffer of special characters.
TEST(Escapify, EachCallTakesItsOwnSettings)
{
    Unit mine[4] = {U16('~'), 0, 0, 0};
    const struct {
        const char* change;
        const Unit* special;
        uint32_t flags;
        Text expected;
    } kCalls[] = {
        {"the defaults", kDefaultSpecials, 0, U16("a~b\u00e9\\x0001")},
        {"a tilde", mine, 0, U16("a\\u007eb\u00e9\\x0001")},
        {"ESCF_NONASCII", mine, ESCF_NONASCII, U16("a\\u007eb\\ue9\\x0001")},
        {"ESCF_SHORT_AT_END", mine, ESCF_SHORT_AT_END, U16("a\\u007eb\u00e9\\x01")},
        {"the same buffer, a percent sign", mine, 0, U16("a~b\u00e9\\x0001")},
        {"the same buffer, a tilde after it", mine, 0, U16("a\\u007eb\u00e9\\x0001")},
        {"no special characters", nullptr, 0, U16("a~b\u00e9\\x0001")},
        {"bits that mean nothing", mine, 0x10, U16("a\\u007eb\u00e9\\x0001")},
    };
    for (const auto& call : kCalls) {
        if (std::string(call.change) == "the same buffer, a percent sign")
            mine[0] = U16('%');
        if (std::string(call.change) == "the same buffer, a tilde after it")
            mine[1] = U16('~');
        std::vector<Unit> buffer = InBuffer(U16("a~b\u00e9\x01"));
        Escapify(buffer.data(), call.flags, call.special);
        EXPECT_EQ(Show(buffer.data()), Show(call.expected)) << call.change;
    }
}

// Calls from threads of their own at the same time, each thread with its own
// flags and special characters, on texts that every one of those settings
// escapes differently: each call gives what a lone call with its settings
// gave. (The classes kept between calls serve one call at a time.)
TEST(Escapify, ThreadsCallingAtOnceEachGetTheirOwnSettings)
{
    const struct {
        uint32_t flags;
        const Unit* special;
    } kSettings[] = {
        {0, U16("~&")},
        {0, nullptr},
        {ESCF_NONASCII | ESCF_NAMED | ESCF_SHORT_AT_END, U16(",\"")},
        {ESCF_CONTROL, U16("\u0100&")},
    };
    constexpr size_t kThreads = sizeof kSettings / sizeof kSettings[0];
    const Text kMarks = U16("~&,\"\u00e9\u0100\u200b");
    const Text kTexts[] = {kMarks, U16("a~b&c,d\"e\u00e9f\u0100g\u200bh"),
                           Text(40, U16('q')) + kMarks + Text(30, U16('q'))};
    constexpr size_t kTextCount = sizeof kTexts / sizeof kTexts[0];
    std::vector<std::vector<Text>> expected(kThreads);
    for (size_t s = 0; s < kThreads; ++s)
        for (size_t t = 0; t < kTextCount; ++t) {
            std::vector<Unit> buffer = InBuffer(kTexts[t]);
            ASSERT_GE(Escapify(buffer.data(), kSettings[s].flags, kSettings[s].special), 0);
            expected[s].push_back(Text(buffer.data()));
            for (size_t other = 0; other < s; ++other)
                ASSERT_TRUE(expected[s][t] != expected[other][t]) << "settings " << other << " and " << s
                                                                   << " agree on " << Show(kTexts[t]);
        }

    constexpr int kCalls = 20000;
    std::atomic<bool> go{false};
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::string> firstWrong(kThreads);
    std::vector<std::thread> threads;
    for (size_t s = 0; s < kThreads; ++s)
        threads.emplace_back([&, s] {
            std::vector<Unit> buffer = InBuffer(U16(""));
            while (!go.load())
                std::this_thread::yield();
            for (int call = 0; call < kCalls; ++call) {
                const size_t t = size_t(call) % kTextCount;
                std::copy(kTexts[t].begin(), kTexts[t].end(), buffer.begin());
                buffer[kTexts[t].size()] = 0;
                Escapify(buffer.data(), kSettings[s].flags, kSettings[s].special);
                if (Text(buffer.data()) != expected[s][t] && wrong[s]++ == 0)
                    firstWrong[s] = Show(buffer.data()) + ", alone " + Show(expected[s][t]);
            }
        });
    go = true;
    for (std::thread& thread : threads)
        thread.join();
    for (size_t s = 0; s < kThreads; ++s)
        EXPECT_EQ(wrong[s], 0) << "settings " << s << " of " << kCalls << " calls, first " << firstWrong[s];
}

// A unit that needs a look at every position from 0 to 70 of a text, and as
// the last unit of a text whose escaped form fills the buffer: the scans read
// eight units one by one, then blocks of sixteen, and every edge of theirs is
// crossed. Each must come out as it does alone.
TEST(Escapify, EveryPositionOfTheScans)
{
    const Text kCases[] = {U16("\\"), U16("\t"), U16("%"), U16("\U0001F600"), U16("\u00a0"), U16("\u00a1"),
                           U16("\u00e9"), U16("\u0100"), U16("\xD83D")};
    // Each unit amid ASCII text under flag 1 and a special unit from 256 on,
    // and amid text of another script (passed by the scans' blocks) under
    // flag 0, with and without a special unit from U+00A1 to U+00FF.
    const struct {
        uint32_t flags;
        const Unit* special;
        Unit filler;
    } kSettings[] = {{ESCF_NONASCII, U16("\"%&<>[]^`|\u0100"), U16('q')},
                     {0, kDefaultSpecials, U16('\u0436')},
                     {0, U16("%\u00e9"), U16('\u0436')}};
    for (const auto& settings : kSettings) {
        for (const Text& unit : kCases) {
            SCOPED_TRACE("flags " + std::to_string(settings.flags) + ", unit " + Show(unit));
            std::vector<Unit> alone = InBuffer(unit + U16("zz"));
            const int escapes = Escapify(alone.data(), settings.flags, settings.special);
            ASSERT_GE(escapes, 0);
            const Text form(alone.data());
            const Text fill(40, settings.filler);
            for (size_t position = 0; position <= 70; ++position) {
                const Text before(position, settings.filler);
                std::vector<Unit> buffer = InBuffer(before + unit + U16("zz") + fill);
                EXPECT_EQ(Escapify(buffer.data(), settings.flags, settings.special), escapes) << "at " << position;
                EXPECT_EQ(Show(buffer.data()), Show(before + form + fill)) << "at " << position;
            }
            // At the end of the text the long form is taken.
            std::vector<Unit> atEnd = InBuffer(unit);
            ASSERT_EQ(Escapify(atEnd.data(), settings.flags, settings.special), escapes);
            const Text endForm(atEnd.data());
            const Text head(size_t(MAX_TEXT_LEN) - endForm.size(), settings.filler);
            std::vector<Unit> full = InBuffer(head + unit);
            EXPECT_EQ(Escapify(full.data(), settings.flags, settings.special), escapes);
            EXPECT_EQ(Show(full.data()), Show(head + endForm));
        }
    }
}

// The buffer after a text's NUL holds what an earlier, longer text left there;
// none of it is read as text, on any flags, whatever the blocks read past
// the NUL.
TEST(Escapify, WhatFollowsTheNulIsNoText)
{
    for (const uint32_t flags : {0u, unsigned(ESCF_NONASCII)}) {
        for (const Unit left : {U16('\u0436'), U16('a'), U16('\t')}) {
            for (size_t length = 1; length <= 20; ++length) {
                const Text text(length, U16('\u0436'));
                std::vector<Unit> alone = InBuffer(text);
                const int escapes = Escapify(alone.data(), flags, kDefaultSpecials);
                std::vector<Unit> buffer = InBuffer(text + Unit(0) + Text(40, left));
                EXPECT_EQ(Escapify(buffer.data(), flags, kDefaultSpecials), escapes) << flags << " " << length;
                EXPECT_EQ(Show(buffer.data()), Show(alone.data())) << flags << " " << length;
            }
        }
    }
}

// A set of special characters longer than the kept one is classified for each
// call alone: nothing of it is kept, within the kept set's room or past it.
TEST(Escapify, ASpecialSetLongerThanTheKeptOne)
{
    const Text longSet(SPECIAL_CHARS_LEN + 10, U16('\u0101'));
    for (int call = 0; call < 2; ++call) {
        std::vector<Unit> buffer = InBuffer(U16("\u20ac\u0101"));
        EXPECT_EQ(Escapify(buffer.data(), 0, longSet.c_str()), 1);
        EXPECT_EQ(Show(buffer.data()), Show(U16("\u20ac\\u0101")));
    }
}

TEST(Escapify, NullTextIsMissing) { EXPECT_EQ(Escapify(nullptr, 0, nullptr), RESULT_MISSING); }

TEST(Escapify, APairIsNeverTakenForItsSpecialUnits)
{
    std::vector<Unit> buffer = InBuffer(U16("\U0001F600"));
    // Both halves of the pair are in the set; the pair is escaped as one
    // character all the same.
    EXPECT_EQ(Escapify(buffer.data(), 0, U16("\xD83D\xDE00")), 1);
    EXPECT_EQ(Show(buffer.data()), Show(U16("\\U0001f600")));
}

// The escaped text may fill the buffer up to 8191 units. Each text starts with
// a TAB (two units escaped), so that even with a plain character at the end
// the escaped text can outgrow an input that fits. `tail` is the last
// character and `tailUnits` the length of its form at the end of the text.
struct Boundary {
    const char* name;
    Text tail;
    int tailUnits;
};

class EscapifyBoundary : public ::testing::TestWithParam<Boundary> {};

TEST_P(EscapifyBoundary, FitsAt8191UnitsAndFailsOneBeyond)
{
    const Boundary& b = GetParam();
    for (int total : {8189, 8190, 8191, 8192}) {
        SCOPED_TRACE(std::string(b.name) + ", escaped length " + std::to_string(total));
        Text text = U16("\t") + Text(size_t(total - 2 - b.tailUnits), U16('p')) + b.tail;
        std::vector<Unit> buffer = InBuffer(text);
        std::vector<Unit> before = buffer;
        int result = Escapify(buffer.data(), 0, kDefaultSpecials);
        if (total <= 8191) {
            EXPECT_EQ(result, b.tailUnits > 1 ? 2 : 1);
            EXPECT_EQ(std::char_traits<Unit>::length(buffer.data()), size_t(total));
        } else {
            EXPECT_EQ(result, RESULT_OVERFLOW);
            EXPECT_TRUE(buffer == before) << "the text must stay as it was";
        }
        EXPECT_TRUE(std::equal(buffer.begin() + MAX_ARG_LEN, buffer.end(), before.begin() + MAX_ARG_LEN));
    }
}

INSTANTIATE_TEST_SUITE_P(Tails, EscapifyBoundary,
                         ::testing::Values(Boundary{"plain", U16("q"), 1}, Boundary{"control", U16("\t"), 2},
                                           Boundary{"u escape", U16("\u0080"), 6},
                                           Boundary{"U escape", U16("\U0001F600"), 10}),
                         [](const auto& info) { return std::to_string(info.index); });

TEST(Escapify, PlainTextOfFullLengthComesBackUnchanged)
{
    std::vector<Unit> buffer = InBuffer(Text(8191, U16('w')));
    EXPECT_EQ(Escapify(buffer.data(), 15, kDefaultSpecials), 0);
    EXPECT_EQ(Text(buffer.data()), Text(8191, U16('w')));
}

TEST(Escapify, OverflowInTheMiddleLeavesTheTextAlone)
{
    Text text(8191, U16('a'));
    text[100] = U16('\t');
    std::vector<Unit> buffer = InBuffer(text);
    EXPECT_EQ(Escapify(buffer.data(), 0, nullptr), RESULT_OVERFLOW);
    EXPECT_TRUE(Text(buffer.data()) == text);
}

} // namespace
