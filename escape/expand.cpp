#include "escape/expand.h"

#include <cstring>

#include "escape/chars.h"
#include "escape/scratch.h"

namespace {

// The largest expanded length: one unit short of the buffer, for the NUL.
constexpr int kMaxExpanded = MAX_ARG_LEN - 1;

struct DigitRule {
    unsigned base;          // 8, 10 or 16
    int maxDigits;
    uint32_t maxValue;
    bool rejectSurrogates;  // the code point forms name characters, not units
};

constexpr DigitRule kOctal{8, 3, 0777, false};
constexpr DigitRule kDecimal{10, 5, 0xFFFF, false};
constexpr DigitRule kHex{16, 4, 0xFFFF, false};
constexpr DigitRule kCodePoint4{16, 4, 0xFFFF, true};
constexpr DigitRule kCodePoint8{16, 8, 0x10FFFF, true};

bool IsDigitOf(unsigned base, Unit u)
{
    switch (base) {
    case 8: return IsOctalDigit(u);
    case 10: return IsDecimalDigit(u);
    default: return IsHexDigit(u);
    }
}

// The one digit reader behind the four named ones.
int ReadNumber(const Unit* digits, ExpandOutput* out, const DigitRule& rule)
{
    if (digits == nullptr || out == nullptr || out->units == nullptr)
        return 0;
    // The octal reader is only reached with a digit 0-7 behind the backslash,
    // but a decimal first digit is what the reader asks for; an 8 or 9 then
    // reads no digit and comes out invalid below.
    if (!(rule.base == 16 ? IsHexDigit(digits[0]) : IsDecimalDigit(digits[0])))
        return 0;

    // At most 8 hexadecimal or 5 decimal digits: the value stays below 2^32.
    uint32_t value = 0;
    int n = 0;
    while (n < rule.maxDigits && IsDigitOf(rule.base, digits[n])) {
        value = value * rule.base + HexDigitValue(digits[n]);
        ++n;
    }
    // A value above the maximum is invalid even where a shorter run of the
    // same digits would not be (U10FFFF0 is no U10FFFF followed by 0).
    if (value == 0 || value > rule.maxValue)
        return 0;
    if (rule.rejectSurrogates && value >= 0xD800 && value <= 0xDFFF)
        return 0;

    if (value <= 0xFFFF) {
        if (out->length > kMaxExpanded - 1)
            return RESULT_OVERFLOW;
        out->units[out->length++] = Unit(value);
    } else {
        if (out->length > kMaxExpanded - 2)
            return RESULT_OVERFLOW;
        uint32_t v = value - 0x10000;
        out->units[out->length++] = Unit(0xD800 | (v >> 10));
        out->units[out->length++] = Unit(0xDC00 | (v & 0x3FF));
    }
    return n;
}

// The character a named escape stands for, or 0 when `letter` names none.
Unit NamedEscape(Unit letter)
{
    switch (letter) {
    case 'a': return 0x07;
    case 'b': return 0x08;
    case 'c': return ',';
    case 'e': return 0x1B;
    case 'f': return 0x0C;
    case 'k': return '`';
    case 'n': return 0x0A;
    case 'q': return '"';
    case 'r': return 0x0D;
    case 's': return ' ';
    case 't': return 0x09;
    case 'v': return 0x0B;
    default: return 0;
    }
}

// Walks `in` from index `from` to its NUL, appending the expansion to `out`
// and, when `map` is given, each produced unit's source offset at the same
// index.
//
// `out->units` may be `in` itself: every item consumes at least as many units
// as it produces, so a unit is only ever written at an index the walk has
// already read, and a digit reader has read all its digits before it appends.
// Returns the count of escapes, or RESULT_OVERFLOW (out and map then hold
// partial results, which the caller must not publish).
int ExpandInto(const Unit* in, size_t from, ExpandOutput* out, int32_t* map)
{
    int count = 0;
    size_t i = from;
    for (Unit u; (u = in[i]) != 0;) {
        const int32_t offset = int32_t(i);
        if (u != '\\') {
            if (out->length >= kMaxExpanded)
                return RESULT_OVERFLOW;
            if (map)
                map[out->length] = offset;
            out->units[out->length++] = u;
            ++i;
            continue;
        }

        const Unit next = in[i + 1];
        const int before = out->length;
        Unit produced = 0;
        size_t consumed = 2;
        if (Unit named = NamedEscape(next)) {
            produced = named;
            ++count;
        } else if (IsOctalDigit(next)) {
            int n = ReadOctalEscape(&in[i + 1], out);
            if (n < 0)
                return n;
            if (n > 0) {
                consumed = 1 + size_t(n);
                ++count;
            }
            // n == 0: the digits were all zero; the backslash and the first
            // zero go, further digits are read again as text.
        } else if (next == '#' || next == 'x' || next == 'u' || next == 'U') {
            int n = next == '#'   ? ReadDecimalEscape(&in[i + 2], out)
                    : next == 'x' ? ReadHexEscape(&in[i + 2], out)
                                  : ReadCodePointEscape(&in[i + 2], out, next == 'u' ? 4 : 8);
            if (n < 0)
                return n;
            if (n > 0) {
                consumed = 2 + size_t(n);
                ++count;
            } else {
                consumed = 1; // invalid: only the backslash goes
            }
        } else if (next == 0) {
            consumed = 1; // a trailing backslash is dropped
        } else {
            produced = next; // \\, \z, \8 ... stand for the character itself
        }

        if (out->length >= kMaxExpanded)
            return RESULT_OVERFLOW;
        if (map)
            for (int k = before; k < out->length; ++k)
                map[k] = offset;
        if (produced != 0) {
            if (map)
                map[out->length] = offset;
            out->units[out->length++] = produced;
        }
        i += consumed;
    }
    return count;
}

} // namespace

int ReadOctalEscape(const Unit* digits, ExpandOutput* out) { return ReadNumber(digits, out, kOctal); }

int ReadDecimalEscape(const Unit* digits, ExpandOutput* out) { return ReadNumber(digits, out, kDecimal); }

int ReadHexEscape(const Unit* digits, ExpandOutput* out) { return ReadNumber(digits, out, kHex); }

int ReadCodePointEscape(const Unit* digits, ExpandOutput* out, int maxDigits)
{
    return ReadNumber(digits, out, maxDigits > 4 ? kCodePoint8 : kCodePoint4);
}

int ExpandEscapes(Unit* text, int32_t* map)
{
    if (text == nullptr)
        return RESULT_MISSING;
    if (text[0] == 0)
        return 0;

    // The run before the first backslash expands to itself.
    size_t first = 0;
    while (text[first] != 0 && text[first] != '\\')
        ++first;
    const size_t length = first + TextLength(text + first);

    if (length <= size_t(kMaxExpanded)) {
        // Expansion never lengthens a text, so a text that fits cannot
        // overflow: expand it where it lies, without scratch.
        if (map)
            for (size_t k = 0; k < first; ++k)
                map[k] = int32_t(k);
        ExpandOutput out{text, int(first)};
        int count = first == length ? 0 : ExpandInto(text, first, &out, map);
        text[out.length] = 0;
        if (map)
            map[out.length] = 0;
        return count;
    }

    // Longer than any shell buffer: expand into scratch, so that an overflow
    // leaves text and map as they were.
    Unit* units = static_cast<Unit*>(ScratchAlloc(MAX_ARG_LEN * sizeof(Unit)));
    if (units == nullptr)
        return RESULT_NO_MEMORY;
    int32_t* scratchMap = nullptr;
    if (map) {
        scratchMap = static_cast<int32_t*>(ScratchAlloc(MAX_ARG_LEN * sizeof(int32_t)));
        if (scratchMap == nullptr) {
            ScratchFree(units);
            return RESULT_NO_MEMORY;
        }
    }
    ExpandOutput out{units, 0};
    int count = ExpandInto(text, 0, &out, scratchMap);
    if (count >= 0) {
        units[out.length] = 0;
        std::memcpy(text, units, (size_t(out.length) + 1) * sizeof(Unit));
        if (map) {
            std::memcpy(map, scratchMap, size_t(out.length) * sizeof(int32_t));
            map[out.length] = 0;
        }
    }
    ScratchFree(scratchMap);
    ScratchFree(units);
    return count;
}
