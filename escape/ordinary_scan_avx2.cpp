// The opening scan over ordinary units in blocks of 32 (AVX2), compiled for
// that target function by function and taken where the processor has it.
#include "escape/ordinary_scan_sse2.h"

#if IVRO_USE_AVX2
namespace escapify_parts {

namespace {

// StayingUnits, sixteen units at a time.
IVRO_TARGET_AVX2 inline __m256i StayingUnitsAvx2(__m256i units, __m256i from)
{
    const __m256i surrogate = _mm256_cmpeq_epi16(_mm256_and_si256(units, _mm256_set1_epi16(int16_t(0xF800))),
                                                 _mm256_set1_epi16(int16_t(0xD800)));
    return _mm256_andnot_si256(surrogate,
                               _mm256_cmpgt_epi16(_mm256_xor_si256(units, _mm256_set1_epi16(int16_t(0x8000))), from));
}

} // namespace

// SkipOrdinaryBlocks' test 32 units a step, for the opening scan, which on plain text
// covers the whole text; the sixteen-unit blocks take what is left below
// MAX_ARG_LEN. The packing works within each 128-bit half, so the packed
// quarters are put back in the order of the text before the mask is taken.
IVRO_TARGET_AVX2 IVRO_PART_CALL size_t SkipOrdinaryBlocksAvx2(const UnitClasses& classes, const Unit* text, size_t i)
{
    const __m256i lowBits = _mm256_load_si256(reinterpret_cast<const __m256i*>(classes.printableLow));
    const __m256i highBits = _mm256_load_si256(reinterpret_cast<const __m256i*>(classes.printableHigh));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i belowSpace = _mm256_set1_epi8(0x1F);
    const __m256i delete_ = _mm256_set1_epi8(0x7F);
    const bool stay = classes.wideUnits == WideUnits::kStay;
    const __m256i from = _mm256_set1_epi16(int16_t((classes.stayFrom - 1) ^ 0x8000));
    for (; i + 32 <= size_t(MAX_ARG_LEN); i += 32) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i + 16));
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), 0xD8);
        // Printable, and in the set by neither nibble's lookup.
        const __m256i listed =
            _mm256_and_si256(_mm256_shuffle_epi8(lowBits, _mm256_and_si256(bytes, nibble)),
                             _mm256_shuffle_epi8(highBits, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble)));
        const __m256i ordinary =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpgt_epi8(bytes, belowSpace), _mm256_cmpgt_epi8(delete_, bytes)),
                             _mm256_cmpeq_epi8(listed, _mm256_setzero_si256()));
        unsigned mask = unsigned(_mm256_movemask_epi8(ordinary));
        if (mask != 0xFFFFFFFFu && stay && MayStay(classes, text[i + size_t(__builtin_ctz(~mask))]))
            mask |= unsigned(_mm256_movemask_epi8(
                _mm256_permute4x64_epi64(_mm256_packs_epi16(StayingUnitsAvx2(low, from), StayingUnitsAvx2(high, from)), 0xD8)));
        if (mask != 0xFFFFFFFFu)
            return i + size_t(__builtin_ctz(~mask));
    }
    return SkipOrdinaryBlocks(classes, text, i);
}

} // namespace escapify_parts
#endif
