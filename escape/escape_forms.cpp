// What is escaped and how: the reference writer (WriteEscape) after the one
// rule (NeedsEscape, escapify_parts.h), the forms of the units below 256 built
// at compile time, and the classes of a call's flags and special characters,
// which the scans and the writers read.
#include <cstring>

#include "escape/escapify_parts.h"

using namespace escapify_parts;

EscapeOptions ReadEscapeFlags(uint32_t flags)
{
    return EscapeOptions{(flags & ESCF_NONASCII) != 0, (flags & ESCF_CONTROL) != 0, (flags & ESCF_NAMED) != 0,
                         (flags & ESCF_SHORT_AT_END) != 0};
}

namespace {

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
static_assert(size_t(kEscapeForms.longest) <= kLongestPerUnit, "a unit's form fits 6 units");

const EscapeForms& Table() { return kEscapeForms; }

} // namespace

namespace escapify_parts {

// Fills *classes for the flags and special characters of a call.
IVRO_PART_CALL void ClassifyUnits(UnitClasses* classes, uint32_t flags, const Unit* special)
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

} // namespace escapify_parts
