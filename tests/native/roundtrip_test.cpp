// The round-trip promise: for every text without lone surrogates, expanding
// the escapified text gives the text back, whatever the flags and specials.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "escape/escapify.h"
#include "escape/expand.h"
#include "tests/test_seed.h"
#include "text_util.h"

namespace {

const Unit* const kSpecialSets[] = {
    nullptr,
    U16("\"%&<>[]^`|"),                      // the module's defaults
    U16("\"%&<>[]^`|~,; 0123456789abcdefx\\"), // digits, letters of escapes, the backslash
    U16("\u00e9\u20ac\ufeff\u00a1"),            // beyond ASCII
};

// Escapifies `text` and expands the result, in a buffer of MAX_ARG_LEN units
// that nothing readable follows; true when the text came back. A text whose
// escaped form would not fit must be refused and left alone.
::testing::AssertionResult RoundTrips(const Text& text, uint32_t flags, const Unit* special)
{
    Unit* const buffer = GuardedBuffer();
    std::fill(std::copy(text.begin(), text.end(), buffer), buffer + MAX_ARG_LEN, Unit(0));
    int escapes = Escapify(buffer, flags, special);
    if (escapes == RESULT_OVERFLOW) {
        if (Text(buffer) != text)
            return ::testing::AssertionFailure() << "overflow changed " << Show(text);
        return ::testing::AssertionSuccess();
    }
    if (escapes < 0)
        return ::testing::AssertionFailure() << "Escapify failed with " << escapes;
    Text escaped(buffer);
    if (ExpandEscapes(buffer, nullptr) < 0)
        return ::testing::AssertionFailure() << "ExpandEscapes failed on " << Show(escaped);
    if (Text(buffer) != text)
        return ::testing::AssertionFailure() << "flags " << flags << ": " << Show(text) << " -> "
                                             << Show(escaped) << " -> " << Show(buffer);
    return ::testing::AssertionSuccess();
}

// Texts whose escaped form ends 1 to 33 units before the end of the buffer,
// plain or with an escape after 0 to 31 ordinary units, so that the block
// scans, escaping and expanding, meet the end at every offset of their
// blocks: none reads past the buffer.
TEST(RoundTrip, TextsEndingJustBeforeTheEndOfTheBuffer)
{
    for (size_t k = 0; k <= 32; ++k)
        // (The last: an escape of fewer digits than its letter reads, at the end.)
        for (const auto& [tail, flags] : {std::pair{Text(), 0u}, std::pair{Text(U16("\U0001F6000")), 0u},
                                          std::pair{Text(U16("\U0001F600")), uint32_t(ESCF_SHORT_AT_END)}}) {
            const Text head = k < 32 ? Text(k, U16('q')) + U16("\t") : Text();
            std::vector<Unit> alone(MAX_ARG_LEN, 0);
            const Text short_ = head + U16("q") + tail;
            std::copy(short_.begin(), short_.end(), alone.begin());
            ASSERT_GE(Escapify(alone.data(), flags, nullptr), 0);
            const size_t escaped = Text(alone.data()).size() - 1;
            for (size_t gap = 1; gap <= 33; ++gap)
                ASSERT_TRUE(RoundTrips(head + Text(MAX_ARG_LEN - gap - escaped, U16('q')) + tail, flags, nullptr))
                    << "ending " << gap << " units before the end";
        }
}

// Every BMP unit but the surrogates, followed by each of the 22 hexadecimal
// digits (the long form of a numeric escape exists for exactly those
// followers), and alone, where the end of the text decides the form. What
// precedes a character never changes its form, so the followed-by cases are
// packed, 50 characters to a text.
TEST(RoundTrip, EveryBmpCharacterBeforeEveryHexDigit)
{
    const Text kHexDigits = U16("0123456789ABCDEFabcdef");
    for (uint32_t flags : {0u, 4u, 8u, 15u}) {
        for (const Unit* special : {kSpecialSets[0], kSpecialSets[1]}) {
            Text text;
            for (uint32_t u = 1; u <= 0xFFFF; ++u) {
                if (u >= 0xD800 && u <= 0xDFFF)
                    continue;
                for (Unit digit : kHexDigits) {
                    text += Unit(u);
                    text += digit;
                }
                if (text.size() >= 50 * 44 || u == 0xFFFF) {
                    ASSERT_TRUE(RoundTrips(text, flags, special));
                    text.clear();
                }
            }
        }
    }
}

TEST(RoundTrip, EveryBmpCharacterAloneAtTheEnd)
{
    for (uint32_t flags : {0u, 8u})
        for (uint32_t u = 1; u <= 0xFFFF; ++u)
            if (u < 0xD800 || u > 0xDFFF) {
                ASSERT_TRUE(RoundTrips(Text(1, Unit(u)), flags, kSpecialSets[1]));
            }
}

// Every character beyond U+FFFF once, packed into texts that fit the buffer.
TEST(RoundTrip, EveryAstralCharacter)
{
    Text text;
    auto flush = [&] {
        ASSERT_TRUE(RoundTrips(text, 0, kSpecialSets[1]));
        text.clear();
    };
    for (uint32_t cp = 0x10000; cp <= 0x10FFFF; ++cp) {
        uint32_t v = cp - 0x10000;
        text += Unit(0xD800 | (v >> 10));
        text += Unit(0xDC00 | (v & 0x3FF));
        if (cp % 7 == 0)
            text += Unit(U16("0aF!")[cp % 4]); // a hex digit sometimes follows
        if (text.size() >= 1400)               // about 8000 units escaped
            flush();
    }
    flush();
}

// Random texts from the characters that matter: controls, C1, the no-break
// space, specials, backslashes and escape letters, hex digits, astral pairs.
Text RandomText(std::mt19937& rng, size_t length)
{
    static const Text kPool = U16("\x01\x07\t\n\r\x1b\x1f\x7f\x80\x9f\u00a0\u00a1\u00e9\u200b\u20ac\ufeff")
                              U16("\"%&<>[]^`|,;~ \\xuUqcekt#0123456789abcdefABCDEFgz");
    Text text;
    while (text.size() < length) {
        uint32_t pick = rng() % (kPool.size() + 3);
        if (pick < kPool.size()) {
            text += kPool[pick];
        } else if (pick == kPool.size()) {
            uint32_t v = rng() % 0x100000;
            text += Unit(0xD800 | (v >> 10));
            text += Unit(0xDC00 | (v & 0x3FF));
        } else {
            Unit u = Unit(rng() % 0xFFFF + 1);
            if (u >= 0xD800 && u <= 0xDFFF)
                u = U16('\u3042');
            text += u;
        }
    }
    if (text.size() > length) // a pair must not be cut in half
        text.resize(length - (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF));
    return text;
}

TEST(RoundTrip, RandomTextsUnderEveryFlagsValue)
{
    const unsigned seed = TestSeed();
    SCOPED_TRACE(SeedTrace(seed));
    std::mt19937 rng(seed);
    const size_t kLengths[] = {0, 1, 2, 3, 7, 40, 300, 1000, 2700, 4096, 8191};
    for (uint32_t flags = 0; flags < 16; ++flags)
        for (const Unit* special : kSpecialSets)
            for (size_t length : kLengths)
                for (int n = 0; n < (length > 1000 ? 1 : 4); ++n)
                    ASSERT_TRUE(RoundTrips(RandomText(rng, length), flags, special));
}

} // namespace
