#include "escape/escapify.h"

#include <atomic>
#include <cstring>
#include <type_traits>

#include "escape/chars.h"
#include "escape/scratch.h"
#include "escape/simd.h"

EscapeOptions ReadEscapeFlags(uint32_t flags)
{
    return EscapeOptions{(flags & ESCF_NONASCII) != 0, (flags & ESCF_CONTROL) != 0, (flags & ESCF_NAMED) != 0,
                         (flags & ESCF_SHORT_AT_END) != 0};
}

namespace {

constexpr Unit kHexUnits[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

// The one writer of numeric escapes, \x, \u and \U alike: "\" letter and the
// code point in lower-case hexadecimal, at least `minDigits` digits, into
// `out` (room for 10 units). Returns the length.
constexpr int NumericEscape(Unit* out, Unit letter, uint32_t codePoint, int minDigits)
{
    const int significant = (32 - __builtin_clz(codePoint | 1) + 3) / 4;
    const int digits = significant > minDigits ? significant : minDigits;
    out[0] = '\\';
    out[1] = letter;
    for (int k = digits + 1; k >= 2; --k, codePoint >>= 4)
        out[k] = kHexUnits[codePoint & 0xF];
    return 2 + digits;
}

// The letter of the control-character escapes that need no number.
constexpr Unit ControlLetter(uint32_t c)
{
    switch (c) {
    case 7: return 'a';
    case 8: return 'b';
    case 9: return 't';
    case 10: return 'n';
    case 11: return 'v';
    case 12: return 'f';
    case 13: return 'r';
    default: return 0;
    }
}

// The named escape that stands in for a \u escape under ESCF_NAMED.
constexpr Unit NamedLetter(uint32_t c)
{
    switch (c) {
    case '"': return 'q';
    case ',': return 'c';
    case '`': return 'k';
    default: return 0;
    }
}

constexpr int TwoUnits(Unit* out, Unit letter)
{
    out[0] = '\\';
    out[1] = letter;
    return 2;
}

// The one rule of what is escaped: whether the character c (a code point, not
// 0) is written as an escape. The reference writer below, the table of the
// units below 256 and the scan over ordinary units all take it. The platform's
// control classification is asked only under options.control, which the table
// never sets.
constexpr bool NeedsEscape(uint32_t c, const EscapeOptions& options, bool special)
{
    return c < 32 || c == 127 || c == '\\' || c >= 0x10000 || (c >= 128 && c <= 160) || special ||
           (options.nonAscii && c >= 128) || (options.control && IsControl(Unit(c)));
}

// WriteEscape, which also builds the table below at compile time.
constexpr int EscapeOf(Unit* out, uint32_t c, const EscapeOptions& options, bool special, bool longForm)
{
    if (!NeedsEscape(c, options, special))
        return 0;
    if (c < 32 || c == 127) {
        if (Unit letter = ControlLetter(c))
            return TwoUnits(out, letter);
        if (c == 27 && options.named)
            return TwoUnits(out, 'e');
        return NumericEscape(out, 'x', c, longForm ? 4 : 2);
    }
    if (c == '\\')
        return TwoUnits(out, '\\');
    if (c >= 0x10000)
        return NumericEscape(out, 'U', c, longForm ? 8 : 1);
    if (Unit named = options.named ? NamedLetter(c) : 0)
        return TwoUnits(out, named);
    return NumericEscape(out, 'u', c, longForm ? 4 : 2);
}

} // namespace

int WriteEscape(Unit* out, uint32_t c, const EscapeOptions& options, bool special, bool longForm)
{
    return EscapeOf(out, c, options, special, longForm);
}

namespace {

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

// What the units below 256 need, built at compile time: the module then has
// no initialisation to run, and nothing to guard, when it is loaded.
struct EscapeForms {
    // forms[named][form][u]: u itself (form 0), or the escape of u in its
    // short (1) or long form (2), in units 0 to 5, the number of escapes it
    // is (0 or 1) in unit 6 and the length in unit 7, so that one 16-byte
    // copy writes any of them.
    Unit forms[2][3][256][8];
    // classes[nonAscii][shortAtEnd][u]: the class bits before the call's
    // special characters are added. kLongBefore marks the hexadecimal digits,
    // and the NUL unless shortAtEnd. ESCF_CONTROL changes nothing here: every
    // control character below 256 is escaped anyway.
    uint8_t classes[2][2][256];
    // The printable ASCII units escaped whatever the flags (the backslash),
    // to which a call adds its special ones.
    int printableCount;
    Unit printable[16];
    // The longest form of a unit below 256.
    int longest;
};

constexpr EscapeForms MakeEscapeForms()
{
    EscapeForms t{};
    for (int named = 0; named < 2; ++named)
        for (int longForm = 0; longForm < 2; ++longForm)
            for (uint32_t u = 1; u < 256; ++u) {
                Unit* form = t.forms[named][1 + longForm][u];
                const EscapeOptions options{false, false, named != 0, false};
                form[7] = Unit(EscapeOf(form, u, options, true, longForm != 0));
                form[6] = 1;
                Unit* asIs = t.forms[named][0][u];
                asIs[0] = Unit(u);
                asIs[7] = 1;
            }
    for (int nonAscii = 0; nonAscii < 2; ++nonAscii)
        for (int shortAtEnd = 0; shortAtEnd < 2; ++shortAtEnd) {
            uint8_t* classes = t.classes[nonAscii][shortAtEnd];
            for (unsigned u = 1; u < 256; ++u) {
                const EscapeOptions options{nonAscii != 0, false, false, false};
                const bool escaped = NeedsEscape(u, options, false);
                classes[u] = uint8_t((escaped ? kEscaped : 0) | (IsHexDigit(Unit(u)) ? kLongBefore : 0));
            }
            classes[0] = uint8_t(kEnd | (shortAtEnd ? 0 : kLongBefore));
        }
    for (unsigned u = 0x20; u < 0x7F; ++u)
        if ((t.classes[0][0][u] & kEscaped) != 0 && (t.classes[1][0][u] & kEscaped) != 0)
            t.printable[t.printableCount++] = Unit(u);
    for (int named = 0; named < 2; ++named)
        for (int form = 0; form < 3; ++form)
            for (int u = 0; u < 256; ++u)
                t.longest = t.forms[named][form][u][7] > t.longest ? t.forms[named][form][u][7] : t.longest;
    return t;
}

constexpr EscapeForms kEscapeForms = MakeEscapeForms();
// Every form of a unit below 256 is copied with one 8-unit copy.
static_assert(kEscapeForms.longest <= 6, "a form, its count and length behind it, fits eight units");

const EscapeForms& Table() { return kEscapeForms; }

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
void ClassifyUnits(UnitClasses* classes, uint32_t flags, const Unit* special)
{
    const EscapeOptions options = ReadEscapeFlags(flags);
    const EscapeForms& table = Table();
    classes->options = options;
    classes->path = ActiveScanPath();
    classes->wide = false;
    uint8_t* below = classes->below256;
    std::memcpy(below, table.classes[options.nonAscii][options.shortAtEnd],
                sizeof classes->below256);
    classes->printableCount = table.printableCount;
    std::memcpy(classes->printable, table.printable, sizeof classes->printable);
    // The work depends on the special characters alone, never on all units.
    for (const Unit* s = special; s != nullptr && *s != 0; ++s) {
        const Unit u = *s;
        if (u < 256) {
            // A printable unit is listed once, when it is first escaped.
            const bool listed = u >= 0x20 && u < 0x7F && (below[u] & kNeeds) == 0;
            below[u] |= kEscaped;
            if (!listed || classes->printableCount < 0)
                continue;
            if (classes->printableCount == 16)
                classes->printableCount = -1;
            else
                classes->printable[classes->printableCount++] = u;
            continue;
        }
        if (!classes->wide)
            std::memset(classes->wideBits, 0, sizeof classes->wideBits);
        classes->wide = true;
        classes->wideBits[u >> 5] |= 1u << (u & 31);
    }
    classes->wideUnits = options.nonAscii                     ? WideUnits::kEscaped
                       : !options.control && !classes->wide ? WideUnits::kStay
                                                            : WideUnits::kAsk;
    classes->stayFrom = 0xA1;
    for (unsigned u = 0xA1; u < 256; ++u)
        if ((below[u] & kNeeds) != 0)
            classes->stayFrom = 0x100;
    for (int k = 0; k < classes->printableCount; ++k)
        std::memset(classes->printableSplat[k], int(classes->printable[k]), sizeof classes->printableSplat[k]);
    std::memset(classes->printableLow, 0, sizeof classes->printableLow);
    std::memset(classes->printableHigh, 0, sizeof classes->printableHigh);
    for (unsigned high = 2; high < 8; ++high) {
        const uint8_t bit = uint8_t(1u << (high - 2));
        classes->printableHigh[high] = classes->printableHigh[16 + high] = bit;
        for (unsigned low = 0; low < 16; ++low)
            if ((below[high << 4 | low] & kNeeds) != 0)
                classes->printableLow[low] = classes->printableLow[16 + low] |= bit;
    }
    const auto& forms = table.forms[options.named ? 1 : 0];
    for (int longForm = 0; longForm < 2; ++longForm) {
        std::memset(classes->forms[longForm][0], 0, sizeof classes->forms[longForm][0]);
        for (unsigned u = 1; u < 256; ++u) {
            const bool escaped = (below[u] & kEscaped) != 0;
            std::memcpy(classes->forms[longForm][u], forms[escaped ? 1 + longForm : 0][u],
                        sizeof classes->forms[longForm][u]);
        }
    }
}

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

bool InWideSet(const UnitClasses& classes, Unit u)
{
    return classes.wide && ((classes.wideBits[u >> 5] >> (u & 31)) & 1u) != 0;
}

// Whether a unit from 256 on is left as it is.
inline bool WideUnitStays(const UnitClasses& classes, Unit u)
{
    return classes.wideUnits == WideUnits::kStay ||
           (classes.wideUnits == WideUnits::kAsk && !NeedsEscape(u, classes.options, InWideSet(classes, u)));
}

// Copied as it is, whatever follows: not escaped, and no high surrogate
// (which may start a pair).
bool IsOrdinaryUnit(const UnitClasses& classes, Unit u)
{
    if (u < 256)
        return (classes.below256[u] & kNeeds) == 0;
    return !IsHighSurrogate(u) && WideUnitStays(classes, u);
}

// The class bits of any unit: those of the table below 256, kBeyond above.
unsigned ClassOf(const uint8_t* below256, Unit u) { return u < 256 ? below256[u] : kBeyond; }

bool LongFormBefore(const UnitClasses& classes, Unit next)
{
    return (ClassOf(classes.below256, next) & kLongBefore) != 0;
}


#if IVRO_USE_SSE2
// The units of eight that stay as they are from classes.stayFrom on (see
// UnitClasses), as 16-bit lanes of all ones: at or above `from`, which holds
// stayFrom - 1 with its top bit flipped (the compare is signed), and no
// surrogate.
inline __m128i StayingUnits(__m128i units, __m128i from)
{
    const __m128i surrogate = _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(int16_t(0xF800))),
                                              _mm_set1_epi16(int16_t(0xD800)));
    return _mm_andnot_si128(surrogate, _mm_cmpgt_epi16(_mm_xor_si128(units, _mm_set1_epi16(int16_t(0x8000))), from));
}

// Whether u is one of the units that StayingUnits finds.
inline bool MayStay(const UnitClasses& classes, Unit u) { return u >= classes.stayFrom && (u & 0xF800) != 0xD800; }

inline __m128i StayFrom(const UnitClasses& classes)
{
    return _mm_set1_epi16(int16_t((classes.stayFrom - 1) ^ 0x8000));
}

// From `i`, blocks of sixteen units, read only below MAX_ARG_LEN, within the
// caller's buffer: the index of the first unit of the first block that does
// not pass (a block passes when all its units are printable ASCII that needs
// nothing, or, when the units from 256 on stay, such units), or where the
// blocks end.
inline size_t SkipOrdinaryBlocks(const UnitClasses& classes, const Unit* text, size_t i)
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

#endif

#if IVRO_USE_AVX2
// StayingUnits, sixteen units at a time.
IVRO_TARGET_AVX2 inline __m256i StayingUnitsAvx2(__m256i units, __m256i from)
{
    const __m256i surrogate = _mm256_cmpeq_epi16(_mm256_and_si256(units, _mm256_set1_epi16(int16_t(0xF800))),
                                                 _mm256_set1_epi16(int16_t(0xD800)));
    return _mm256_andnot_si256(surrogate,
                               _mm256_cmpgt_epi16(_mm256_xor_si256(units, _mm256_set1_epi16(int16_t(0x8000))), from));
}

// The same test 32 units a step, for the opening scan, which on plain text
// covers the whole text; the sixteen-unit blocks take what is left below
// MAX_ARG_LEN. The packing works within each 128-bit half, so the packed
// quarters are put back in the order of the text before the mask is taken.
IVRO_TARGET_AVX2 size_t SkipOrdinaryBlocksAvx2(const UnitClasses& classes, const Unit* text, size_t i)
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
#endif

// The index of the first unit at or after `i` that is not ordinary: a NUL,
// or a unit that needs an escape or a look at what follows it. A run longer
// than eight units goes on in blocks (when the path has them and the set of
// printable units that need a look is small enough for them), `opening`
// for the scan from the text's start, which may take the widest blocks.
size_t SkipOrdinary(const UnitClasses& classes, const Unit* text, size_t i, bool opening = false)
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
inline int PairEscape(Unit* out, uint32_t c, bool longForm)
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

// The code point of a surrogate pair: the high unit's 10 bits above the low
// unit's, from 0x10000 on.
inline uint32_t PairCodePoint(Unit high, Unit low)
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
inline int WideEscape(Unit* out, Unit u, bool longForm)
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
inline Unit* WriteWideUnit(const UnitClasses& classes, Unit u, bool longForm, Unit* out, int* count)
{
    if (WideUnitStays(classes, u)) {
        out[0] = u;
        return out + 1;
    }
    ++*count;
    return out + WideEscape(out, u, longForm);
}

// A block: the characters that start in the next sixteen units, written
// with one check of the bound after them, where the room left takes the
// longest form of seventeen units (a pair may start at the last one): no form
// is longer than 6 units for each unit it stands for.
constexpr size_t kBlock = 16;
constexpr size_t kLongestPerUnit = 6;
static_assert(size_t(kEscapeForms.longest) <= kLongestPerUnit, "a unit's form fits 6 units");
constexpr size_t kBlockRoom = (kBlock + 1) * kLongestPerUnit;

// Writes a form of the table's layout (a unit below 256 as it is or
// escaped: its units, then its count of escapes and its length) at `out`
// with one 8-unit copy; *count goes up by its escapes. Returns the new end.
inline Unit* WriteForm(const Unit* form, Unit* out, int* count)
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
inline const Unit* WriteForms(const UnitClasses& classes, const Unit* forms, const Unit* at, const Unit* stop,
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

#if IVRO_USE_SSE2
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
inline const Unit* FormOf(const BlockIndex& block, const Unit* forms, unsigned k)
{
#if IVRO_FORM_ADDRESSES
    (void)forms;
    return block.form[k];
#else
    return forms + block.index[k];
#endif
}

inline void IndexBlock(const Unit* at, bool longAtEnd, const Unit* forms, BlockIndex* block)
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
inline HexDigits HexDigitsOf(__m128i u)
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
inline void HexDigitsOfBlock(const Unit* at, uint64_t* digits)
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
inline void WriteSixUnitEscapes(const Unit* at, Unit* out)
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
inline bool AllFourDigitEscapes(const Unit* at)
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
__attribute__((noinline)) bool WriteFourDigitBlock(const Unit* at, Unit** outPointer, int* countPointer)
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
inline bool AtLeastFourBits(unsigned bits)
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
__attribute__((noinline)) bool WriteTableAndWideBlock(const BlockIndex& block, const Unit* at, const Unit* forms,
                                                      Unit** outPointer, int* countPointer)
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
inline const Unit* WriteBlock(const UnitClasses& classes, const Unit* at, Unit** outPointer, int* countPointer)
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
#endif

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
