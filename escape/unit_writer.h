// The writer of one character at a time: a unit below 256 from the call's
// forms, a pair, any other unit from 256 on. The loop over the text takes it
// where a block does not fit or the path has no blocks, and the block
// writers take its pieces.
#pragma once

#include <cstring>

#include "escape/escapify_parts.h"

namespace escapify_parts {

// The class bits of any unit: those of the table below 256, kBeyond above.
static inline unsigned ClassOf(const uint8_t* below256, Unit u) { return u < 256 ? below256[u] : kBeyond; }

static inline bool LongFormBefore(const UnitClasses& classes, Unit next)
{
    return (ClassOf(classes.below256, next) & kLongBefore) != 0;
}

// The two hexadecimal digits of every byte, the first in the first unit.
struct HexPairs {
    Unit pairs[256][2];
};
constexpr HexPairs MakeHexPairs()
{
    HexPairs t{};
    for (unsigned b = 0; b < 256; ++b) {
        t.pairs[b][0] = kHexUnits[b >> 4];
        t.pairs[b][1] = kHexUnits[b & 0xF];
    }
    return t;
}
constexpr HexPairs kHexPairs = MakeHexPairs();

// The escape of the character c beyond U+FFFF (from U+10000 to U+10FFFF) as
// WriteEscape writes it, without its questions (tests compare the two for
// every such character): \U and the five or six significant digits of c, or
// eight digits in the long form. Writes 10 units, of which the escape is the
// first 7, 8 or 10, and returns its length.
static inline int PairEscape(Unit* out, uint32_t c, bool longForm)
{
    // The digits two by two, from the sixth last on, start `shift` units
    // after the "U": 0 before five digits, 1 before six, 3 behind the long
    // form's "00".
    static constexpr Unit kZeros[2] = {'0', '0'};
    static constexpr Unit kLetter[2] = {'\\', 'U'};
    const int shift = longForm ? 3 : int(c >> 20);
    std::memcpy(out + 2, kZeros, sizeof kZeros);
    Unit* const digits = out + 1 + shift;
    std::memcpy(digits, kHexPairs.pairs[c >> 16], 2 * sizeof(Unit));
    std::memcpy(digits + 2, kHexPairs.pairs[(c >> 8) & 0xFF], 2 * sizeof(Unit));
    std::memcpy(digits + 4, kHexPairs.pairs[c & 0xFF], 2 * sizeof(Unit));
    // Last: with five digits the sixth last, a 0, lands on the "U".
    std::memcpy(out, kLetter, sizeof kLetter);
    return 7 + shift;
}

// The code point of a surrogate pair: the high unit's 10 bits above the low
// unit's, from 0x10000 on.
static inline uint32_t PairCodePoint(Unit high, Unit low)
{
    constexpr uint32_t kPairBase = (0xD800u << 10) + 0xDC00u - 0x10000u;
    return (uint32_t(high) << 10) + low - kPairBase;
}

// The first two units of every \u escape.
constexpr Unit kBackslashU[2] = {'\\', 'u'};

// The escape of a unit u from 256 on as WriteEscape writes it, without its
// questions (tests compare the two for every such unit): \u and the three
// or four significant digits, four in the long form. Writes 6 units, of
// which the escape is the first 5 or 6, and returns its length.
static inline int WideEscape(Unit* out, Unit u, bool longForm)
{
    // The digits start a unit later before four; before three the first, a
    // 0, lands on the "u".
    const int four = (u >= 0x1000) | int(longForm);
    Unit* const digits = out + 1 + four;
    std::memcpy(digits, kHexPairs.pairs[u >> 8], 2 * sizeof(Unit));
    std::memcpy(digits + 2, kHexPairs.pairs[u & 0xFF], 2 * sizeof(Unit));
    std::memcpy(out, kBackslashU, sizeof kBackslashU);
    return 5 + four;
}

// Any other unit from 256 on, escaped or as it is (a lone surrogate too), at
// `out`; *count goes up by the escape. Returns the new end.
static inline Unit* WriteWideUnit(const UnitClasses& classes, Unit u, bool longForm, Unit* out, int* count)
{
    if (WideUnitStays(classes, u)) {
        out[0] = u;
        return out + 1;
    }
    ++*count;
    return out + WideEscape(out, u, longForm);
}

// Writes a form of the table's layout (a unit below 256 as it is or
// escaped: its units, then its count of escapes and its length) at `out`
// with one 8-unit copy; *count goes up by its escapes. Returns the new end.
static inline Unit* WriteForm(const Unit* form, Unit* out, int* count)
{
    std::memcpy(out, form, 8 * sizeof(Unit));
    Unit* const end = out + form[7];
    *count += form[6];
    return end;
}

// Writes the form of each character that starts from `at` on, before `stop`
// or the NUL, at *out: in place, with fixed-size copies (from the table: 8
// units; a pair's: 10), the bound left to the caller. Returns where it ended;
// *out and *count (the escapes) move on.
static inline const Unit* WriteForms(const UnitClasses& classes, const Unit* forms, const Unit* at, const Unit* stop,
                                     Unit** outPointer, int* countPointer)
{
    // Held in locals, which the copies into the work buffer cannot touch.
    const uint8_t* const below = classes.below256;
    Unit* out = *outPointer;
    int count = *countPointer;
    unsigned uClass = ClassOf(below, at[0]);
    do {
        const unsigned nextClass = ClassOf(below, at[1]);
        if ((uClass & (kEnd | kBeyond)) == 0) {
            // Below 256: the unit itself or its escape, from the table. The
            // next unit decides between the short and the long form.
            out = WriteForm(forms + (((nextClass & kLongBefore) << 5) + at[0]) * 8, out, &count); // long: 256 forms on
            ++at;
            uClass = nextClass;
            continue;
        }
        if ((uClass & kEnd) != 0)
            break;
        if (IsHighSurrogate(at[0]) && IsLowSurrogate(at[1])) {
            // A surrogate pair: always escaped, never special.
            out += PairEscape(out, PairCodePoint(at[0], at[1]), LongFormBefore(classes, at[2]));
            ++count;
            at += 2;
        } else {
            out = WriteWideUnit(classes, at[0], LongFormBefore(classes, at[1]), out, &count);
            ++at;
        }
        uClass = ClassOf(below, at[0]);
    } while (at < stop);
    *outPointer = out;
    *countPointer = count;
    return at;
}

} // namespace escapify_parts
