// The scan over ordinary units in blocks of sixteen (SSE2), which the scan
// within a text takes and the opening scan takes where it has no AVX2; and
// the test of the units that stay, which the block writers take too.
#pragma once

#include "escape/escapify_parts.h"

#if IVRO_USE_SSE2
namespace escapify_parts {

// The units of eight that stay as they are from classes.stayFrom on (see
// UnitClasses), as 16-bit lanes of all ones: at or above `from`, which holds
// stayFrom - 1 with its top bit flipped (the compare is signed), and no
// surrogate.
static inline __m128i StayingUnits(__m128i units, __m128i from)
{
    const __m128i surrogate = _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(int16_t(0xF800))),
                                              _mm_set1_epi16(int16_t(0xD800)));
    return _mm_andnot_si128(surrogate, _mm_cmpgt_epi16(_mm_xor_si128(units, _mm_set1_epi16(int16_t(0x8000))), from));
}

// Whether u is one of the units that StayingUnits finds.
static inline bool MayStay(const UnitClasses& classes, Unit u) { return u >= classes.stayFrom && (u & 0xF800) != 0xD800; }

static inline __m128i StayFrom(const UnitClasses& classes)
{
    return _mm_set1_epi16(int16_t((classes.stayFrom - 1) ^ 0x8000));
}

// From `i`, blocks of sixteen units, read only below MAX_ARG_LEN, within the
// caller's buffer: the index of the first unit of the first block that does
// not pass (a block passes when all its units are printable ASCII that needs
// nothing, or, when the units from 256 on stay, such units), or where the
// blocks end.
static inline size_t SkipOrdinaryBlocks(const UnitClasses& classes, const Unit* text, size_t i)
{
    const __m128i belowSpace = _mm_set1_epi8(0x1F);
    const __m128i delete_ = _mm_set1_epi8(0x7F);
    const bool stay = classes.wideUnits == WideUnits::kStay;
    const __m128i from = StayFrom(classes);
    for (; i + 16 <= size_t(MAX_ARG_LEN); i += 16) {
        // Sixteen units packed into bytes: units from 0x100 to 0x7FFF
        // become 0xFF, from 0x8000 on 0x00, and neither is printable.
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 8));
        const __m128i bytes = _mm_packus_epi16(low, high);
        // 0x20..0x7E, compared as signed bytes: 0x80 and up are negative.
        __m128i ordinary = _mm_and_si128(_mm_cmpgt_epi8(bytes, belowSpace), _mm_cmplt_epi8(bytes, delete_));
        for (int k = 0; k < classes.printableCount; ++k)
            ordinary = _mm_andnot_si128(
                _mm_cmpeq_epi8(bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(classes.printableSplat[k]))),
                ordinary);
        unsigned mask = unsigned(_mm_movemask_epi8(ordinary));
        // The units that stay are looked for only where the first unit
        // that stops the block may be one.
        if (mask != 0xFFFF && stay && MayStay(classes, text[i + size_t(__builtin_ctz(~mask))]))
            mask |= unsigned(_mm_movemask_epi8(_mm_packs_epi16(StayingUnits(low, from), StayingUnits(high, from))));
        if (mask != 0xFFFF)
            return i + size_t(__builtin_ctz(~mask));
    }
    return i;
}

} // namespace escapify_parts
#endif
