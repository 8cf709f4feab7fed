#include "escape/numbers.h"

#include <limits>

#include "escape/chars.h"

namespace {

// The conversion of the C runtime's wcstoul from a position that holds a
// digit of `base`: an optional 0x prefix (base 16), then the longest run of
// digits. The value saturates at `max` with RESULT_RANGE, and the run is
// consumed whole either way.
int ConvertUnsigned(const Unit* digits, unsigned base, uint64_t max, const Unit** end, uint64_t* value)
{
    const Unit* p = digits;
    if (base == 16 && p[0] == '0' && (p[1] | 0x20) == 'x' && IsHexDigit(p[2]))
        p += 2;
    uint64_t v = 0;
    bool overflow = false;
    for (; base == 16 ? IsHexDigit(*p) : IsDecimalDigit(*p); ++p) {
        const unsigned digit = HexDigitValue(*p);
        if (v > (max - digit) / base) {
            overflow = true;
            v = max;
        } else {
            v = v * base + digit;
        }
    }
    *end = p;
    *value = v;
    return overflow ? RESULT_RANGE : RESULT_OK;
}

int ConvertUnsigned(const Unit* digits, unsigned base, const Unit** end, uint32_t* value)
{
    uint64_t v = 0;
    int error = ConvertUnsigned(digits, base, UINT32_MAX, end, &v);
    *value = uint32_t(v);
    return error;
}

bool StartsHex(const Unit* text)
{
    return text[0] == '0' && (text[1] | 0x20) == 'x' && IsHexDigit(text[2]);
}

// ParseNumber for values up to `max`.
int ParseUnsigned(const Unit* text, const Unit** rest, uint64_t max, uint64_t* value)
{
    if (text == nullptr)
        return RESULT_MISSING;
    const Unit* end = nullptr;
    uint64_t v = 0;
    int error;
    if (StartsHex(text))
        error = ConvertUnsigned(text + 2, 16, max, &end, &v);
    else if (IsDecimalDigit(text[0]))
        error = ConvertUnsigned(text, 10, max, &end, &v);
    else
        return RESULT_NOT_NUMBER;
    if (error != RESULT_OK)
        return error;
    if (rest == nullptr && *end != 0)
        return RESULT_NOT_NUMBER;
    *value = v;
    if (rest != nullptr)
        *rest = end;
    return RESULT_OK;
}

// ParseUnsigned up to the largest value of T, into a T.
template <class T>
int ParseUnsignedAs(const Unit* text, const Unit** rest, T* value)
{
    if (value == nullptr)
        return RESULT_MISSING;
    uint64_t v = 0;
    int error = ParseUnsigned(text, rest, std::numeric_limits<T>::max(), &v);
    if (error == RESULT_OK)
        *value = T(v);
    return error;
}

} // namespace

int ParseNumber(const Unit* text, const Unit** rest, uint32_t* value)
{
    return ParseUnsignedAs(text, rest, value);
}

int ParseHandle(const Unit* text, const Unit** rest, uintptr_t* value)
{
    return ParseUnsignedAs(text, rest, value);
}

int ParseSignedNumber(const Unit* text, int32_t* value)
{
    if (text == nullptr || value == nullptr)
        return RESULT_MISSING;
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
        if (error == RESULT_OK && magnitude > limit)
            error = RESULT_RANGE;
        v = negative ? int32_t(0u - magnitude) : int32_t(magnitude);
    } else {
        return RESULT_NOT_NUMBER;
    }
    if (error != RESULT_OK)
        return error;
    if (*end != 0)
        return RESULT_NOT_NUMBER;
    *value = v;
    return RESULT_OK;
}
