// The writers of sixteen units at a time (SSE2): the block's index, made in
// vector registers; the writers of the blocks of one kind (four-digit escapes
// alone; units of the forms among escaped units from 256 on), each a function
// of its own; and WriteBlock, which the loop over the text inlines. Included
// by escapify.cpp alone, so that the compiler sees the writers of one kind
// where the loop calls them, as when Escapify was one file: the registers they
// leave alone stay live across the calls (the 64-bit build's frame of the
// loop is 16 bytes smaller for it, the module_stack test), and the 32-bit
// build passes their arguments in registers.
#pragma once

#include "escape/ordinary_scan_sse2.h"
#include "escape/unit_writer.h"

#if IVRO_USE_SSE2
namespace escapify_parts {

// What the sixteen units from `at` on are, read from at[0] to at[17].
//
// The form of a unit is the unit's, and 256 forms on when the unit after it
// is a hexadecimal digit, or the NUL when the escape is long at the end. The
// 32-bit build, short of registers, keeps each form's address, so that its
// loops need no register for where the forms start; the 64-bit build keeps
// each form's place in units from the call's forms[0][0] (the unit times 8,
// and so on), which a load of two bytes takes.
#if UINTPTR_MAX == 0xFFFFFFFFu
#define IVRO_FORM_ADDRESSES 1
#else
#define IVRO_FORM_ADDRESSES 0
#endif
struct BlockIndex {
    // Valid for the units below 256.
#if IVRO_FORM_ADDRESSES
    alignas(16) const Unit* form[16];
#else
    alignas(16) uint16_t index[16];
#endif
    unsigned table;     // the units the forms hold: from 1 to 255
    unsigned pairs;     // the high surrogates that a low one follows
    unsigned longAfter; // the units that a hexadecimal digit (or the long NUL) follows
};

// The form of the k-th unit of a block.
static inline const Unit* FormOf(const BlockIndex& block, const Unit* forms, unsigned k)
{
#if IVRO_FORM_ADDRESSES
    (void)forms;
    return block.form[k];
#else
    return forms + block.index[k];
#endif
}

static inline void IndexBlock(const Unit* at, bool longAtEnd, const Unit* forms, BlockIndex* block)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i surrogateBits = _mm_set1_epi16(int16_t(0xFC00));
    const __m128i nul = longAtEnd ? _mm_set1_epi16(-1) : zero;
    __m128i table[2], pairs[2], longAfter[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8 * half));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8 * half + 1));
        // Compared as signed: units from 0x8000 on are below every digit.
        const __m128i digit = _mm_and_si128(_mm_cmpgt_epi16(next, _mm_set1_epi16('0' - 1)),
                                            _mm_cmplt_epi16(next, _mm_set1_epi16('9' + 1)));
        const __m128i lower = _mm_or_si128(next, _mm_set1_epi16(0x20));
        const __m128i letter = _mm_and_si128(_mm_cmpgt_epi16(lower, _mm_set1_epi16('a' - 1)),
                                             _mm_cmplt_epi16(lower, _mm_set1_epi16('f' + 1)));
        const __m128i end = _mm_and_si128(_mm_cmpeq_epi16(next, zero), nul);
        longAfter[half] = _mm_or_si128(_mm_or_si128(digit, letter), end);
        const __m128i form = _mm_or_si128(u, _mm_and_si128(longAfter[half], _mm_set1_epi16(0x100)));
#if IVRO_FORM_ADDRESSES
        // Each form is 16 bytes from the one before it.
        const __m128i base = _mm_set1_epi32(int(reinterpret_cast<uintptr_t>(forms)));
        _mm_store_si128(reinterpret_cast<__m128i*>(block->form + 8 * half),
                        _mm_add_epi32(base, _mm_slli_epi32(_mm_unpacklo_epi16(form, zero), 4)));
        _mm_store_si128(reinterpret_cast<__m128i*>(block->form + 8 * half + 4),
                        _mm_add_epi32(base, _mm_slli_epi32(_mm_unpackhi_epi16(form, zero), 4)));
#else
        (void)forms;
        _mm_store_si128(reinterpret_cast<__m128i*>(block->index + 8 * half), _mm_slli_epi16(form, 3));
#endif
        // From 1 to 255: neither 0 nor with a bit from 256 on.
        table[half] = _mm_andnot_si128(_mm_cmpeq_epi16(u, zero),
                                       _mm_cmpeq_epi16(_mm_srli_epi16(u, 8), zero));
        pairs[half] = _mm_and_si128(
            _mm_cmpeq_epi16(_mm_and_si128(u, surrogateBits), _mm_set1_epi16(int16_t(0xD800))),
            _mm_cmpeq_epi16(_mm_and_si128(next, surrogateBits), _mm_set1_epi16(int16_t(0xDC00))));
    }
    block->table = unsigned(_mm_movemask_epi8(_mm_packs_epi16(table[0], table[1])));
    block->pairs = unsigned(_mm_movemask_epi8(_mm_packs_epi16(pairs[0], pairs[1])));
    block->longAfter = unsigned(_mm_movemask_epi8(_mm_packs_epi16(longAfter[0], longAfter[1])));
}

// The lower-case hexadecimal digits of eight units, from the first (d[3])
// to the last (d[0]), one unit a lane.
struct HexDigits {
    __m128i d3, d2, d1, d0;
};
static inline HexDigits HexDigitsOf(__m128i u)
{
    const __m128i nibble = _mm_set1_epi16(0xF);
    // A nibble's digit: '0' on, and 39 more from 10 on ('a' - '9' - 1).
    const auto digit = [](__m128i n) {
        return _mm_add_epi16(_mm_add_epi16(n, _mm_set1_epi16('0')),
                             _mm_and_si128(_mm_cmpgt_epi16(n, _mm_set1_epi16(9)), _mm_set1_epi16(39)));
    };
    return HexDigits{digit(_mm_srli_epi16(u, 12)), digit(_mm_and_si128(_mm_srli_epi16(u, 8), nibble)),
                     digit(_mm_and_si128(_mm_srli_epi16(u, 4), nibble)), digit(_mm_and_si128(u, nibble))};
}

// The four hexadecimal digits of each of the sixteen units from `at` on,
// lower-case, the first in the first unit of its eight bytes.
static inline void HexDigitsOfBlock(const Unit* at, uint64_t* digits)
{
    for (int half = 0; half < 2; ++half) {
        const auto [d3, d2, d1, d0] = HexDigitsOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8 * half)));
        __m128i* const to = reinterpret_cast<__m128i*>(digits + 8 * half);
        const __m128i lowHigh = _mm_unpacklo_epi16(d3, d2), lowLow = _mm_unpacklo_epi16(d1, d0);
        _mm_store_si128(to, _mm_unpacklo_epi32(lowHigh, lowLow));
        _mm_store_si128(to + 1, _mm_unpackhi_epi32(lowHigh, lowLow));
        const __m128i highHigh = _mm_unpackhi_epi16(d3, d2), highLow = _mm_unpackhi_epi16(d1, d0);
        _mm_store_si128(to + 2, _mm_unpacklo_epi32(highHigh, highLow));
        _mm_store_si128(to + 3, _mm_unpackhi_epi32(highHigh, highLow));
    }
}

// The escapes of the sixteen units from `at` on, each of four digits (\\u
// and the digits, six units), at `out`: 96 units, in the order of the
// units. Each unit's escape is three pairs of units, "\\u", its first two
// digits and its last two, and twelve stores write the pairs of all sixteen.
static inline void WriteSixUnitEscapes(const Unit* at, Unit* out)
{
    // The "\\u" pair in the places of a store that holds it.
    const __m128i letter = _mm_set1_epi32(int('\\') | int('u') << 16);
    const __m128i first = _mm_setr_epi32(-1, 0, 0, -1);  // V0 takes "\\u" in pairs 0 and 3
    const __m128i third = _mm_setr_epi32(0, 0, -1, 0);   // V1 in pair 2
    const __m128i second = _mm_setr_epi32(0, -1, 0, 0);  // V2 in pair 1
    __m128i* to = reinterpret_cast<__m128i*>(out);
    for (int half = 0; half < 2; ++half) {
        const auto [d3, d2, d1, d0] = HexDigitsOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8 * half)));
        // The pairs of digits of four units at a time: high (d3 d2) and low
        // (d1 d0), then interleaved as they are written: high, low, high, low.
        const __m128i highs[2] = {_mm_unpacklo_epi16(d3, d2), _mm_unpackhi_epi16(d3, d2)};
        const __m128i lows[2] = {_mm_unpacklo_epi16(d1, d0), _mm_unpackhi_epi16(d1, d0)};
        for (int quarter = 0; quarter < 2; ++quarter) {
            const __m128i a = _mm_unpacklo_epi32(highs[quarter], lows[quarter]); // h0 l0 h1 l1
            const __m128i b = _mm_unpackhi_epi32(highs[quarter], lows[quarter]); // h2 l2 h3 l3
            // "\\u" h0 l0 "\\u" | h1 l1 "\\u" h2 | l2 "\\u" h3 l3
            const __m128i v0 = _mm_shuffle_epi32(a, _MM_SHUFFLE(0, 1, 0, 0));
            const __m128i v1 = _mm_castps_si128(
                _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(0, 0, 3, 2)));
            const __m128i v2 = _mm_shuffle_epi32(b, _MM_SHUFFLE(3, 2, 0, 1));
            _mm_storeu_si128(to++, _mm_or_si128(_mm_andnot_si128(first, v0), _mm_and_si128(first, letter)));
            _mm_storeu_si128(to++, _mm_or_si128(_mm_andnot_si128(third, v1), _mm_and_si128(third, letter)));
            _mm_storeu_si128(to++, _mm_or_si128(_mm_andnot_si128(second, v2), _mm_and_si128(second, letter)));
        }
    }
}

// Whether the sixteen units from `at` on all take escapes of four digits
// when the units from 256 on are escaped: from U+1000 on, and no surrogate.
static inline bool AllFourDigitEscapes(const Unit* at)
{
    const __m128i from = _mm_set1_epi16(int16_t(0x0FFF ^ 0x8000));
    const __m128i low = StayingUnits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), from);
    const __m128i high = StayingUnits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8)), from);
    return _mm_movemask_epi8(_mm_and_si128(low, high)) == 0xFFFF;
}

// Sixteen escapes of four digits, as in CJK text, when the sixteen units
// from `at` on are all from U+1000 on: 96 units in their places, with no
// loop over the units and no index; false, and nothing written, for any
// other block. A function of its own, so that the writer of other blocks,
// which the 32-bit build keeps in seven registers, does not carry it.
static __attribute__((noinline)) bool WriteFourDigitBlock(const Unit* at, Unit** outPointer, int* countPointer)
{
    if (!AllFourDigitEscapes(at))
        return false;
    WriteSixUnitEscapes(at, *outPointer);
    *outPointer += 16 * 6;
    *countPointer += 16;
    return true;
}

// Whether `bits` has four bits set or more (without the popcount
// instruction, which the baseline x86 builds lack).
static inline bool AtLeastFourBits(unsigned bits)
{
    bits &= bits - 1;
    bits &= bits - 1;
    bits &= bits - 1;
    return bits != 0;
}

// WriteBlock's sixteen units from `at` on when each is a unit of the forms
// or a unit from 256 on that is escaped and no surrogate, as in text of
// another script under flag 1: each one or the other, in one loop, the wide
// ones' digits made for the whole block at once and written as WideEscape
// writes them (a unit later before four digits, the "\\u" last). False, and
// nothing written, for any other block.
static __attribute__((noinline)) bool WriteTableAndWideBlock(const BlockIndex& block, const Unit* at,
                                                             const Unit* forms, Unit** outPointer, int* countPointer)
{
    __m128i wideUnits[2], four[2];
    for (int half = 0; half < 2; ++half) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8 * half));
        wideUnits[half] = StayingUnits(u, _mm_set1_epi16(int16_t(0x00FF ^ 0x8000)));
        four[half] = _mm_cmpgt_epi16(_mm_xor_si128(u, _mm_set1_epi16(int16_t(0x8000))),
                                     _mm_set1_epi16(int16_t(0x0FFF ^ 0x8000)));
    }
    if ((block.table | unsigned(_mm_movemask_epi8(_mm_packs_epi16(wideUnits[0], wideUnits[1])))) != 0xFFFFu)
        return false;
    const unsigned withFourDigits =
        unsigned(_mm_movemask_epi8(_mm_packs_epi16(four[0], four[1]))) | block.longAfter;
    alignas(16) uint64_t digits[16];
    HexDigitsOfBlock(at, digits);
    Unit* out = *outPointer;
    int count = *countPointer;
    // Runs of the one kind and of the other in turn, each to the next unit
    // of the other kind or to the block's end (bit 16).
    const unsigned table = block.table | 0x10000u;
    const unsigned wide = (~block.table & 0xFFFFu) | 0x10000u;
    for (unsigned k = 0; k < 16;) {
        for (const unsigned stop = k + unsigned(__builtin_ctz(wide >> k)); k < stop; ++k)
            out = WriteForm(FormOf(block, forms, k), out, &count);
        for (const unsigned stop = k + unsigned(__builtin_ctz(table >> k)); k < stop; ++k) {
            const unsigned withFour = (withFourDigits >> k) & 1;
            std::memcpy(out + 1 + withFour, &digits[k], sizeof digits[k]);
            std::memcpy(out, kBackslashU, sizeof kBackslashU);
            out += 5 + withFour;
            ++count;
        }
    }
    *outPointer = out;
    *countPointer = count;
    return true;
}

// WriteForms for the characters that start in the sixteen units from `at`
// on (a pair that starts at the last takes the unit after them), up to the
// NUL. at[0] to at[17] lie within the buffer.
static inline const Unit* WriteBlock(const UnitClasses& classes, const Unit* at, Unit** outPointer, int* countPointer)
{
    // (Its first unit first, which in other text ends the question.)
    if (classes.wideUnits == WideUnits::kEscaped && at[0] >= 0x1000 && (at[0] & 0xF800) != 0xD800 &&
        WriteFourDigitBlock(at, outPointer, countPointer))
        return at + 16;
    const Unit* const forms = &classes.forms[0][0][0];
    BlockIndex block;
    IndexBlock(at, !classes.options.shortAtEnd, forms, &block);
    Unit* out = *outPointer;
    int count = *countPointer;
    unsigned k = 0;
    if (block.table == 0xFFFFu) {
        // Units below 256 alone: each written the same way, with no test.
#pragma GCC unroll 16
        for (; k < 16; ++k)
            out = WriteForm(FormOf(block, forms, k), out, &count);
    } else if (classes.wideUnits == WideUnits::kEscaped && block.pairs == 0 && AtLeastFourBits(~block.table & 0xFFFFu) &&
               WriteTableAndWideBlock(block, at, forms, &out, &count)) {
        // (A block of few wide units, as in Latin text with accents, is left
        // to the runs below: their digits one by one cost less than all
        // sixteen.)
        k = 16;
    } else {
        // Runs of units below 256 between the others, each run without a
        // test of its own.
        const unsigned longAfter = block.longAfter | (LongFormBefore(classes, at[17]) ? 0x10000u : 0);
        unsigned outside = ~block.table & 0xFFFFu;
        for (;;) {
            for (const unsigned stop = unsigned(__builtin_ctz(outside | 0x10000u)); k < stop; ++k)
                out = WriteForm(FormOf(block, forms, k), out, &count);
            if (k >= 16)
                break;
            if (((block.pairs >> k) & 1) != 0) {
                out += PairEscape(out, PairCodePoint(at[k], at[k + 1]), ((longAfter >> (k + 1)) & 1) != 0);
                ++count;
                k += 2;
            } else if (at[k] == 0) {
                break;
            } else {
                out = WriteWideUnit(classes, at[k], ((longAfter >> k) & 1) != 0, out, &count);
                ++k;
            }
            if (k >= 16)
                break;
            outside &= ~0u << k;
        }
    }
    *outPointer = out;
    *countPointer = count;
    return at + k;
}

} // namespace escapify_parts
#endif
