#include "escape/escapify.h"

#include <cstring>

#include "escape/chars.h"
#include "escape/cursor.h"
#include "escape/scratch.h"
#include "escape/simd.h"

namespace {

// Writes "\" letter and the code point in lower-case hexadecimal, at least
// `minDigits` digits, into `out` (room for 12 units). Returns the length.
int NumericEscape(Unit* out, Unit letter, uint32_t codePoint, int minDigits)
{
    static const char kHex[] = "0123456789abcdef";
    Unit digits[8];
    int n = 0;
    do {
        digits[n++] = Unit(kHex[codePoint & 0xF]);
        codePoint >>= 4;
    } while (codePoint != 0);
    while (n < minDigits)
        digits[n++] = '0';
    int length = 0;
    out[length++] = '\\';
    out[length++] = letter;
    while (n > 0)
        out[length++] = digits[--n];
    return length;
}

// The letter of the control-character escapes that need no number.
Unit ControlLetter(uint32_t c)
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
Unit NamedLetter(uint32_t c)
{
    switch (c) {
    case '"': return 'q';
    case ',': return 'c';
    case '`': return 'k';
    default: return 0;
    }
}

// Which units need a closer look, for one call's flags and special
// characters: a table for ASCII, and for the rare special characters beyond
// ASCII a bit set, filled only when there are any.
struct UnitClasses {
    uint32_t flags;
    uint8_t ascii[128]; // kEscaped, kSpecial
    bool wide;
    uint32_t wideBits[0x10000 / 32]; // valid only when wide
    // The printable ASCII units that need a look (the backslash and the
    // special characters), for the scan eight units at a time; -1 when there
    // are too many for it.
    int printableCount;
    Unit printable[16];
};
constexpr uint8_t kEscaped = 1;
constexpr uint8_t kSpecial = 2;

void ClassifyUnits(UnitClasses* classes, uint32_t flags, const Unit* special)
{
    classes->flags = flags;
    classes->wide = false;
    std::memset(classes->ascii, 0, sizeof classes->ascii);
    for (int k = 0; k < 32; ++k)
        classes->ascii[k] = kEscaped;
    classes->ascii[127] = kEscaped;
    classes->ascii[unsigned('\\')] = kEscaped;
    for (const Unit* s = special; s != nullptr && *s != 0; ++s) {
        if (*s < 128) {
            classes->ascii[*s] |= kEscaped | kSpecial;
            continue;
        }
        if (!classes->wide)
            std::memset(classes->wideBits, 0, sizeof classes->wideBits);
        classes->wide = true;
        classes->wideBits[*s >> 5] |= 1u << (*s & 31);
    }
    classes->printableCount = 0;
    for (unsigned u = 0x20; u < 0x7F && classes->printableCount >= 0; ++u) {
        if (classes->ascii[u] == 0)
            continue;
        if (classes->printableCount == 16)
            classes->printableCount = -1;
        else
            classes->printable[classes->printableCount++] = Unit(u);
    }
}

bool InWideSet(const UnitClasses& classes, Unit u)
{
    return classes.wide && ((classes.wideBits[u >> 5] >> (u & 31)) & 1u) != 0;
}

bool IsSpecialUnit(const UnitClasses& classes, Unit u)
{
    return u < 128 ? (classes.ascii[u] & kSpecial) != 0 : InWideSet(classes, u);
}

// Copied as it is, whatever follows: not escaped, and no high surrogate
// (which may start a pair).
bool IsOrdinaryUnit(const UnitClasses& classes, Unit u)
{
    if (u < 128)
        return classes.ascii[u] == 0;
    if (u <= 160 || (classes.flags & ESCF_NONASCII) || IsHighSurrogate(u))
        return false;
    if ((classes.flags & ESCF_CONTROL) && IsControl(u))
        return false;
    return !InWideSet(classes, u);
}

// The index of the first unit at or after `i` that is not ordinary: a NUL,
// or a unit that needs an escape or a look at what follows it. A run longer
// than eight units goes on in blocks of eight, read only below MAX_ARG_LEN,
// within the caller's buffer; a block passes when all eight units are
// printable ASCII that needs nothing.
size_t SkipOrdinary(const UnitClasses& classes, const Unit* text, size_t i)
{
    for (const size_t stop = i + 8; i < stop; ++i)
        if (text[i] == 0 || !IsOrdinaryUnit(classes, text[i]))
            return i;
#if IVRO_USE_SSE2
    if (classes.printableCount >= 0) {
        __m128i printable[16];
        for (int k = 0; k < classes.printableCount; ++k)
            printable[k] = _mm_set1_epi16(short(classes.printable[k]));
        const __m128i belowSpace = _mm_set1_epi16(0x1F);
        const __m128i delete_ = _mm_set1_epi16(0x7F);
        for (; i + 8 <= size_t(MAX_ARG_LEN); i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            // 0x20..0x7E, compared as signed numbers: units from 0x8000 on
            // are negative and fail the first test.
            __m128i ordinary = _mm_and_si128(_mm_cmpgt_epi16(v, belowSpace), _mm_cmplt_epi16(v, delete_));
            for (int k = 0; k < classes.printableCount; ++k)
                ordinary = _mm_andnot_si128(_mm_cmpeq_epi16(v, printable[k]), ordinary);
            const unsigned mask = unsigned(_mm_movemask_epi8(ordinary));
            if (mask != 0xFFFF) {
                i += size_t(__builtin_ctz(~mask)) / 2;
                break;
            }
        }
    }
#endif
    while (text[i] != 0 && IsOrdinaryUnit(classes, text[i]))
        ++i;
    return i;
}

} // namespace

int Escapify(Unit* text, uint32_t flags, const Unit* special)
{
    if (text == nullptr)
        return RESULT_MISSING;
    if (text[0] == 0)
        return 0;

    UnitClasses classes;
    ClassifyUnits(&classes, flags, special);

    // The text up to the first unit that needs a look stays where it is; a
    // text with no such unit is already in escaped form.
    const size_t first = SkipOrdinary(classes, text, 0);
    if (text[first] == 0)
        return 0;

    // The result from `first` on is built in the work buffer, with room for
    // what the untouched part leaves of MAX_ARG_LEN.
    Unit* work = static_cast<Unit*>(ScratchAlloc(MAX_ARG_LEN * sizeof(Unit)));
    if (work == nullptr)
        return RESULT_NO_MEMORY;
    TextCursor result(work, MAX_ARG_LEN - first);
    int count = 0;
    for (size_t i = first; !result.Overflowed();) {
        // A run of units copied as they are.
        const size_t start = i;
        i = SkipOrdinary(classes, text, i);
        result.Append(text + start, i - start);
        if (text[i] == 0)
            break;

        uint32_t c = text[i];
        size_t width = 1;
        bool isSpecial;
        if (IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + (((c & 0x3FF) << 10) | (text[i + 1] & 0x3FFu));
            width = 2;
            isSpecial = false; // a pair is one character, never a special unit
        } else {
            isSpecial = IsSpecialUnit(classes, Unit(c));
        }
        const Unit following = text[i + width];
        // The long form keeps a hexadecimal digit behind the escape out of
        // it, and at the end of the text it is the default.
        const bool longForm = IsHexDigit(following) || (following == 0 && !(flags & ESCF_SHORT_AT_END));

        Unit escape[12];
        int escapeLength = 0;
        if (c < 32 || c == 127) {
            if (Unit letter = ControlLetter(c)) {
                escape[0] = '\\';
                escape[1] = letter;
                escapeLength = 2;
            } else if (c == 27 && (flags & ESCF_NAMED)) {
                escape[0] = '\\';
                escape[1] = 'e';
                escapeLength = 2;
            } else {
                escapeLength = NumericEscape(escape, 'x', c, longForm ? 4 : 2);
            }
        } else if (c == '\\') {
            escape[0] = escape[1] = '\\';
            escapeLength = 2;
        } else if (c >= 0x10000) {
            escapeLength = NumericEscape(escape, 'U', c, longForm ? 8 : 1);
        } else if ((c >= 128 && c <= 160) || isSpecial || ((flags & ESCF_NONASCII) && c >= 128) ||
                   ((flags & ESCF_CONTROL) && IsControl(Unit(c)))) {
            Unit named = (flags & ESCF_NAMED) ? NamedLetter(c) : 0;
            if (named != 0) {
                escape[0] = '\\';
                escape[1] = named;
                escapeLength = 2;
            } else {
                escapeLength = NumericEscape(escape, 'u', c, longForm ? 4 : 2);
            }
        }

        // Append the escape, or the character as it is.
        if (escapeLength > 0)
            result.Append(escape, size_t(escapeLength));
        else
            result.Append(text + i, width);
        count += escapeLength > 0;
        i += width;
    }

    if (!result.Overflowed())
        std::memcpy(text + first, work, (result.Length() + 1) * sizeof(Unit));
    ScratchFree(work);
    return result.Overflowed() ? RESULT_OVERFLOW : count;
}
