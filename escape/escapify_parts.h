// What the parts of Escapify (escapify.h) share. Escapify is made of:
//   escapify.cpp            the call: the kept classes, and the loop over the
//                           text (EscapifyWith), which takes runs, blocks and
//                           single characters in turn
//   escape_forms.cpp        how a character is escaped: the reference writer,
//                           the table of the units below 256 built at compile
//                           time, and the classes of a call (what is escaped,
//                           the one rule, is below: NeedsEscape)
//   ordinary_scan.cpp       the scan over the units that stay as they are:
//                           unit by unit, and the choice of its blocks
//   ordinary_scan_sse2.h    its blocks of sixteen units (SSE2)
//   ordinary_scan_avx2.cpp  its opening blocks of 32 units (AVX2)
//   unit_writer.h           the writer of one character at a time
//   block_writer.h          the writers of sixteen units at a time (SSE2)
// The functions that a caller in another part inlines are defined in these
// headers, static: each part that includes one has its own copy, as when
// Escapify was one file, so that the compiler inlines them as it did then (a
// function that a part calls once, WriteBlock in the loop over the text, is
// inlined whole). The functions called across parts are declared here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "escape/chars.h"
#include "escape/escapify.h"
#include "escape/simd.h"

// The functions that one part calls in another take their first three
// arguments in registers in the 32-bit build, as GCC passes them to a
// function that only its own file calls: the scan that the loop calls for
// every run costs what it did when Escapify was one file, and the frames of
// the callers (the module_stack test) are as they were. The 64-bit
// conventions pass them so anyway.
#if defined(__i386__)
#define IVRO_PART_CALL __attribute__((regparm(3)))
#else
#define IVRO_PART_CALL
#endif

namespace escapify_parts {

// The hexadecimal digits, lower-case, by their value.
constexpr Unit kHexUnits[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

// The one rule of what is escaped: whether the character c (a code point, not
// 0) is written as an escape. The reference writer and the table of the
// units below 256 (escape_forms.cpp) and the scan over ordinary units all
// take it. Windows' control classification is asked only under
// options.control, which the table never sets.
constexpr bool NeedsEscape(uint32_t c, const EscapeOptions& options, bool special)
{
    return c < 32 || c == 127 || c == '\\' || c >= 0x10000 || (c >= 128 && c <= 160) || special ||
           (options.nonAscii && c >= 128) || (options.control && IsControl(Unit(c)));
}

// What a unit needs, for one call's flags and special characters: no bit
// set for a unit copied as it is, else bits of
constexpr uint8_t kEscaped = 1;    // escaped, from the table
constexpr uint8_t kEnd = 2;        // the NUL
constexpr uint8_t kBeyond = 4;     // a unit from 256 on, not in the table
constexpr uint8_t kLongBefore = 8; // a numeric escape before it takes its long form
constexpr uint8_t kNeeds = kEscaped | kEnd | kBeyond;
// The table loop picks a unit's form from the call's forms (UnitClasses)
// with the next unit's kLongBefore shifted up to 256, the index of the long
// forms.
static_assert(kLongBefore << 5 == 256, "the long forms are the call's forms from 256 on");

// The most units that a form takes for each unit it stands for: a unit
// below 256 (its table form, checked where the table is built) or from 256
// on, 6; a pair, 10 for its two.
constexpr size_t kLongestPerUnit = 6;

// What becomes of the units from 256 on, for one call's flags and special
// characters: each asked of NeedsEscape, or all left as they are (no flag
// escapes them and none is special), or all escaped (flag 1).
enum class WideUnits : uint8_t { kAsk, kStay, kEscaped };

struct UnitClasses {
    EscapeOptions options;
    ScanPath path; // the scans this call takes
    uint8_t below256[256]; // the class bits of the units below 256
    bool wide;
    uint32_t wideBits[0x10000 / 32]; // the special units from 256 on; valid only when wide
    WideUnits wideUnits;
    // Where the block scans' run of units that stay as they are starts, when
    // wideUnits is kStay: U+00A1 when none up to U+00FF is escaped, else
    // U+0100; surrogates excepted (a high one may start a pair).
    Unit stayFrom;
    // The printable ASCII units that need a look (the backslash and the
    // special characters), for the scan sixteen units at a time; -1 when
    // there are too many for it.
    int printableCount;
    Unit printable[16];
    // Each of them in every byte of 32, for the vector compares.
    alignas(32) uint8_t printableSplat[16][32];
    // The same set for byte lookups, twice over (one for each 128-bit lane):
    // printable unit u needs a look when printableLow[u & 15] and
    // printableHigh[u >> 4] share a bit.
    alignas(32) uint8_t printableLow[32];
    alignas(32) uint8_t printableHigh[32];
    // forms[long][u]: what a unit below 256 becomes, in the table's layout
    // (its form, count and length): u itself, or its escape in the long form
    // (long 1) or the short one (long 0).
    alignas(16) Unit forms[2][256][8];
};

// Fills *classes for the flags and special characters of a call.
IVRO_PART_CALL void ClassifyUnits(UnitClasses* classes, uint32_t flags, const Unit* special);

static inline bool InWideSet(const UnitClasses& classes, Unit u)
{
    return classes.wide && ((classes.wideBits[u >> 5] >> (u & 31)) & 1u) != 0;
}

// Whether a unit from 256 on is left as it is.
static inline bool WideUnitStays(const UnitClasses& classes, Unit u)
{
    return classes.wideUnits == WideUnits::kStay ||
           (classes.wideUnits == WideUnits::kAsk && !NeedsEscape(u, classes.options, InWideSet(classes, u)));
}

// Copied as it is, whatever follows: not escaped, and no high surrogate
// (which may start a pair).
static inline bool IsOrdinaryUnit(const UnitClasses& classes, Unit u)
{
    if (u < 256)
        return (classes.below256[u] & kNeeds) == 0;
    return !IsHighSurrogate(u) && WideUnitStays(classes, u);
}

// The index of the first unit at or after `i` that is not ordinary: a NUL,
// or a unit that needs an escape or a look at what follows it. A run longer
// than eight units goes on in blocks (when the path has them and the set of
// printable units that need a look is small enough for them), `opening`
// for the scan from the text's start, which may take the widest blocks.
IVRO_PART_CALL size_t SkipOrdinary(const UnitClasses& classes, const Unit* text, size_t i, bool opening = false);

#if IVRO_USE_AVX2
// The opening scan's blocks of 32 units (ordinary_scan_avx2.cpp).
IVRO_TARGET_AVX2 IVRO_PART_CALL size_t SkipOrdinaryBlocksAvx2(const UnitClasses& classes, const Unit* text, size_t i);
#endif

} // namespace escapify_parts
