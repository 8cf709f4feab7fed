#include "escape/escapify.h"

#include <bitset>
#include <cstring>

#include "escape/chars.h"
#include "escape/scratch.h"

namespace {

constexpr int kMaxResult = MAX_ARG_LEN - 1;

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

} // namespace

int Escapify(Unit* text, uint32_t flags, const Unit* special)
{
    if (text == nullptr)
        return RESULT_MISSING;
    if (text[0] == 0)
        return 0;

    Unit* work = static_cast<Unit*>(ScratchAlloc(MAX_ARG_LEN * sizeof(Unit)));
    if (work == nullptr)
        return RESULT_NO_MEMORY;

    // The special characters as a set of units, for one test per character.
    std::bitset<0x10000> specials;
    if (special != nullptr)
        for (const Unit* s = special; *s != 0; ++s)
            specials.set(*s);

    int length = 0;
    int count = 0;
    for (size_t i = 0; text[i] != 0;) {
        uint32_t c = text[i];
        size_t width = 1;
        bool isSpecial;
        if (IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + (((c & 0x3FF) << 10) | (text[i + 1] & 0x3FFu));
            width = 2;
            isSpecial = false; // a pair is one character, never a special unit
        } else {
            isSpecial = specials.test(c);
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

        if (escapeLength > 0) {
            if (length + escapeLength > kMaxResult) {
                ScratchFree(work);
                return RESULT_OVERFLOW;
            }
            std::memcpy(work + length, escape, size_t(escapeLength) * sizeof(Unit));
            length += escapeLength;
            ++count;
        } else {
            if (length > kMaxResult - 1) {
                ScratchFree(work);
                return RESULT_OVERFLOW;
            }
            work[length++] = Unit(c);
        }
        i += width;
    }

    work[length] = 0;
    std::memcpy(text, work, (size_t(length) + 1) * sizeof(Unit));
    ScratchFree(work);
    return count;
}
