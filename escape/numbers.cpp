#include <cerrno>

#include "escape/args.h"
#include "escape/chars.h"

namespace {

// The conversion of the C runtime's wcstoul from a position that holds a
// digit of `base`: an optional 0x prefix (base 16), then the longest run of
// digits. The value saturates at 2^32 - 1 with ERANGE, and the run is consumed
// whole either way.
int ConvertUnsigned(const Unit* digits, unsigned base, const Unit** end, uint32_t* value)
{
    const Unit* p = digits;
    if (base == 16 && p[0] == '0' && (p[1] | 0x20) == 'x' && IsHexDigit(p[2]))
        p += 2;
    uint64_t v = 0;
    bool overflow = false;
    for (; base == 16 ? IsHexDigit(*p) : IsDecimalDigit(*p); ++p) {
        v = v * base + HexDigitValue(*p);
        if (v > 0xFFFFFFFFu) {
            overflow = true;
            v = 0xFFFFFFFFu; // keeps the accumulator far from 64-bit overflow
        }
    }
    *end = p;
    *value = uint32_t(v);
    return overflow ? ERANGE : 0;
}

bool StartsHex(const Unit* text)
{
    return text[0] == '0' && (text[1] | 0x20) == 'x' && IsHexDigit(text[2]);
}

} // namespace

int ParseNumber(const Unit* text, const Unit** rest, uint32_t* value)
{
    if (text == nullptr || value == nullptr)
        return -1;
    const Unit* end = nullptr;
    uint32_t v = 0;
    int error;
    if (StartsHex(text))
        error = ConvertUnsigned(text + 2, 16, &end, &v);
    else if (IsDecimalDigit(text[0]))
        error = ConvertUnsigned(text, 10, &end, &v);
    else
        return -1;
    if (error != 0)
        return error;
    if (rest == nullptr && *end != 0)
        return -1;
    *value = v;
    if (rest != nullptr)
        *rest = end;
    return 0;
}

int ParseSignedNumber(const Unit* text, int32_t* value)
{
    if (text == nullptr || value == nullptr)
        return -1;
    const Unit* end = nullptr;
    int32_t v = 0;
    int error;
    if (StartsHex(text)) {
        uint32_t bits = 0;
        error = ConvertUnsigned(text + 2, 16, &end, &bits);
        v = int32_t(bits); // 0x80000000..0xFFFFFFFF are the negative numbers
    } else if (IsDecimalDigit(text[0]) || (text[0] == '-' && IsDecimalDigit(text[1]))) {
        // The range of wcstol with a 32-bit long: the magnitude may reach 2^31
        // for a negative number only.
        const bool negative = text[0] == '-';
        uint32_t magnitude = 0;
        error = ConvertUnsigned(text + (negative ? 1 : 0), 10, &end, &magnitude);
        const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
        if (error == 0 && magnitude > limit)
            error = ERANGE;
        v = negative ? int32_t(0u - magnitude) : int32_t(magnitude);
    } else {
        return -1;
    }
    if (error != 0)
        return error;
    if (*end != 0)
        return -1;
    *value = v;
    return 0;
}
