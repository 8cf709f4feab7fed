// The scan over ordinary units, unit by unit, and the choice of its blocks
// (SSE2 or AVX2) for the call's scan path.
#include "escape/ordinary_scan_sse2.h"

namespace escapify_parts {

IVRO_PART_CALL size_t SkipOrdinary(const UnitClasses& classes, const Unit* text, size_t i, bool opening)
{
    const bool blocks = IVRO_USE_SSE2 && classes.path != ScanPath::kScalar && classes.printableCount >= 0;
    // Within a text, runs are mostly short; from its start the blocks
    // usually cover it all.
    if (!(opening && blocks))
        for (const size_t stop = i + 8; i < stop; ++i)
            if (!IsOrdinaryUnit(classes, text[i]))
                return i;
#if IVRO_USE_SSE2
    if (blocks) {
#if IVRO_USE_AVX2
        if (opening && classes.path == ScanPath::kAvx2)
            i = SkipOrdinaryBlocksAvx2(classes, text, i);
        else
#endif
            i = SkipOrdinaryBlocks(classes, text, i);
    }
#else
    (void)opening;
#endif
    while (IsOrdinaryUnit(classes, text[i]))
        ++i;
    return i;
}

} // namespace escapify_parts
