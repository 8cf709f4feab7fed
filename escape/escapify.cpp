// Escapify (escapify.h): the kept classes, and the loop over the text that
// takes runs, blocks and single characters in turn (EscapifyWith); the other
// parts lie beside it, each named in escapify_parts.h. Every path gives the
// scalar path's result unit for unit: the scans (unit by unit in
// ordinary_scan.cpp, SSE2 blocks in ordinary_scan_sse2.h, AVX2 blocks in
// ordinary_scan_avx2.cpp) only say where the units that stay as they are
// end, and the block writers (block_writer.h) write what
// the writer of one character at a time (unit_writer.h) writes. The tests
// that hold every path to it compare Escapify with WriteEscape character by
// character, or expand its result back: in tests/native,
// Escapify.TheTableAgreesWithWriteEscape, EveryPairAgreesWithWriteEscape,
// EveryWideUnitAgreesWithWriteEscape, EveryPositionOfTheScans and
// WhatFollowsTheNulIsNoText (escapify_test.cpp), and RoundTrip.* (every BMP
// character before every hexadecimal digit, every astral character, random
// texts under every flags value; roundtrip_test.cpp). They run on each path:
// core_tests_scalar, core_tests_sse2 and core_tests_avx2 (the path forced by
// IVRO_SCAN_PATH), the build without the vector paths (-DIVRO_SIMD=OFF,
// build/native-scalar), under QEMU on a processor of SSE2 alone
// (core_tests_sse2_without_avx2, where an instruction of a later extension
// outside the AVX2 scan is illegal, and core_tests_avx2_refused), and under
// wine in the Windows builds (core_tests_scalar and core_tests_sse2, the
// 32-bit build's form addresses among them); fuzz/roundtrip_fuzzer.cpp does the
// same on the processor's path. bench/BENCHMARKS.md describes the paths and
// what each costs: "Other scripts, unit by unit" (the units that stay pass the
// blocks; the four-digit escapes), "Special text, unit by unit" (the call's
// forms, the blocks indexed by SSE2, the AVX2 opening scan) and "The 64-bit
// module beside the 32-bit one".
#include "escape/escapify.h"

#include <atomic>
#include <cstring>
#include <type_traits>

#include "escape/block_writer.h"
#include "escape/escapify_parts.h"
#include "escape/scratch.h"
#include "escape/unit_writer.h"

using namespace escapify_parts;

namespace {

// The classes of the last settings classified here, kept for the next call
// with the same settings: made again only when a call's flags (the bits that
// mean anything), special characters or scan path differ; the settings
// themselves are the caller's, read afresh for every call. A set of more
// special characters than it keeps is classified afresh every time.
//
// The shell calls on its one thread, one call at a time, but the engine is a
// library that any thread may call. One call at a time holds the kept
// classes: it sets g_classesTaken with an interlocked exchange (acquire: it
// sees what the last holder wrote) and clears it (release) once it no longer
// reads them; a call that finds the flag set classifies on its own stack.
// Both are constant-initialised: nothing runs for them when the module is
// loaded, and nothing guards them.
std::atomic_flag g_classesTaken = ATOMIC_FLAG_INIT;
struct KeptClasses {
    bool valid;
    uint32_t flags;
    ScanPath path;
    Unit special[SPECIAL_CHARS_LEN];
    UnitClasses classes;
};
static_assert(std::is_trivially_default_constructible_v<KeptClasses>, "zero-initialised, nothing run at load");
KeptClasses g_kept;

constexpr Unit kNoSpecial[1] = {0};

// The kept classes for a call's settings, made again when they are another
// call's; for the call that holds g_classesTaken.
const UnitClasses& KeptClassesFor(uint32_t flags, const Unit* special)
{
    KeptClasses& kept = g_kept;
    flags &= ESCF_NONASCII | ESCF_CONTROL | ESCF_NAMED | ESCF_SHORT_AT_END;
    const ScanPath path = ActiveScanPath();
    const Unit* const set = special != nullptr ? special : kNoSpecial;
    if (kept.valid && flags == kept.flags && path == kept.path) {
        // The kept set ends within its buffer, so this stops there at the latest.
        size_t n = 0;
        while (set[n] != 0 && set[n] == kept.special[n])
            ++n;
        if (set[n] == kept.special[n])
            return kept.classes;
    }

    ClassifyUnits(&kept.classes, flags, special);
    size_t length = 0;
    while (length < size_t(SPECIAL_CHARS_LEN) && set[length] != 0)
        ++length;
    kept.valid = length < size_t(SPECIAL_CHARS_LEN); // the whole set kept
    if (kept.valid) {
        std::memcpy(kept.special, set, (length + 1) * sizeof(Unit));
        kept.flags = flags;
        kept.path = path;
    }
    return kept.classes;
}

// The length of `text`, when it is shorter than kShortText units and its NUL
// lies within the `units` that may be read; else kShortText.
constexpr size_t kShortText = 64;
size_t ShortLength(const Unit* text, size_t units)
{
#if IVRO_USE_SSE2
    if (units >= kShortText) {
        const __m128i zero = _mm_setzero_si128();
        for (size_t i = 0; i < kShortText; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            const unsigned nul = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(v, zero)));
            if (nul != 0)
                return i + size_t(__builtin_ctz(nul)) / 2;
        }
        return kShortText;
    }
#endif
    size_t n = 0;
    while (n < kShortText && n < units && text[n] != 0)
        ++n;
    return n;
}

// Appends text[start, stop) at `out`, which has room for it, and returns
// the new end. A run of at most 8 units that lies within the buffer is
// copied with one 16-byte copy (the work buffer has the units to spare).
Unit* CopyRun(const Unit* text, size_t start, size_t stop, Unit* out)
{
    const size_t n = stop - start;
    if (n <= 8 && start + 8 <= size_t(MAX_ARG_LEN))
        std::memcpy(out, text + start, 8 * sizeof(Unit));
    else
        std::memcpy(out, text + start, n * sizeof(Unit));
    return out + n;
}

// A block: the characters that start in the next sixteen units, written
// with one check of the bound after them, where the room left takes the
// longest form of seventeen units (a pair may start at the last one): no form
// is longer than 6 units for each unit it stands for.
constexpr size_t kBlock = 16;
constexpr size_t kBlockRoom = (kBlock + 1) * kLongestPerUnit;

// Escapify on a text that is not empty, with the classes of its settings.
int EscapifyWith(const UnitClasses& classes, Unit* text)
{
    // The text up to the first unit that needs a look stays where it is; a
    // text with no such unit is already in escaped form.
    const size_t first = SkipOrdinary(classes, text, 0, true);
    if (text[first] == 0)
        return 0;

    // The result from `first` on is built in the work buffer, up to `end`:
    // what the untouched part leaves of MAX_TEXT_LEN units, or, for a short
    // rest of the text, what that rest can become at most (and a block's
    // room), which a smaller buffer holds. Forms are written in place with
    // fixed-size copies (a form from the table: 8 units; the writer's: up to
    // 10) before their length is checked, and a run of at most 8 units with
    // one 8-unit copy: the buffer has 16 units to spare behind `end` for what
    // such a copy writes past it.
    constexpr size_t kSpare = 16;
    static_assert(kBlock * kLongestPerUnit + 10 <= kBlockRoom + kSpare, "a block's copies fit the spare units");
    size_t capacity = size_t(MAX_TEXT_LEN) - first;
    const size_t rest = ShortLength(text + first, size_t(MAX_ARG_LEN) - first);
    if (rest < kShortText && rest * kLongestPerUnit + kBlockRoom < capacity)
        capacity = rest * kLongestPerUnit + kBlockRoom;
    Unit* work = static_cast<Unit*>(ScratchAlloc((capacity + kSpare) * sizeof(Unit)));
    if (work == nullptr)
        return RESULT_NO_MEMORY;
    Unit* out = work;
    const Unit* const end = work + capacity;
    const Unit* const forms = &classes.forms[0][0][0];
    int count = 0;
    bool overflow = false;

    for (const Unit* at = text + first; *at != 0;) {
        // Two ordinary units in a row start a run, copied whole up to where
        // the scan ends it.
        if (IsOrdinaryUnit(classes, at[0]) && IsOrdinaryUnit(classes, at[1])) {
            const size_t start = size_t(at - text);
            const size_t stop = SkipOrdinary(classes, text, start);
            if (stop - start > size_t(end - out)) {
                overflow = true;
                break;
            }
            out = CopyRun(text, start, stop, out);
            at = text + stop;
            continue;
        }

        // The characters of a block, or, where the room left is shorter, one
        // character; then the one check of the bound for them.
        const bool room = size_t(end - out) >= kBlockRoom;
#if IVRO_USE_SSE2
        if (classes.path != ScanPath::kScalar && room && at + kBlock + 2 <= text + MAX_ARG_LEN)
            at = WriteBlock(classes, at, &out, &count);
        else
#endif
            at = WriteForms(classes, forms, at, room ? at + kBlock : at + 1, &out, &count);
        if (out > end) {
            overflow = true;
            break;
        }
    }

    if (!overflow) {
        *out = 0;
        std::memcpy(text + first, work, (size_t(out - work) + 1) * sizeof(Unit));
    }
    ScratchFree(work);
    return overflow ? RESULT_OVERFLOW : count;
}

// A call that finds the kept classes taken: classes of its own, on a stack
// frame that the usual call does not reserve.
__attribute__((noinline)) int EscapifyAlone(Unit* text, uint32_t flags, const Unit* special)
{
    UnitClasses classes;
    ClassifyUnits(&classes, flags, special);
    return EscapifyWith(classes, text);
}

} // namespace

int Escapify(Unit* text, uint32_t flags, const Unit* special)
{
    if (text == nullptr)
        return RESULT_MISSING;
    if (text[0] == 0)
        return 0;
    // The kept classes, held until the call no longer reads them; or, while
    // another call holds them, classes of this call's own.
    if (g_classesTaken.test_and_set(std::memory_order_acquire))
        return EscapifyAlone(text, flags, special);
    const int result = EscapifyWith(KeptClassesFor(flags, special), text);
    g_classesTaken.clear(std::memory_order_release);
    return result;
}
