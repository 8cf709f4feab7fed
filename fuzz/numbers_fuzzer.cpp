// ParseNumber, ParseSignedNumber and ParseHandle against the C runtime's own
// conversions, wcstoul and wcstol held to 32 bits and wcstoull held to the
// width of a pointer.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>

#include "escape/chars.h"
#include "escape/numbers.h"
#include "fuzz_input.h"

namespace {

// What the conversion promises for `text`, by way of the runtime: the
// value, whether it fits, where it stops.
struct Expected {
    int result;
    unsigned long long value; // a signed value as its two's complement
    size_t stop;              // units consumed
};

enum class Kind { Unsigned, Signed, Handle };

bool StartsHex(const std::wstring& w)
{
    return w.size() >= 3 && w[0] == L'0' && (w[1] == L'x' || w[1] == L'X') && iswxdigit(w[2]) && w[2] < 128;
}

Expected Runtime(const std::wstring& w, Kind kind)
{
    const bool isSigned = kind == Kind::Signed;
    const wchar_t* start;
    int base;
    if (StartsHex(w)) {
        start = w.c_str() + 2;
        base = 16;
    } else if (!w.empty() && w[0] >= L'0' && w[0] <= L'9') {
        start = w.c_str();
        base = 10;
    } else if (isSigned && w.size() >= 2 && w[0] == L'-' && w[1] >= L'0' && w[1] <= L'9') {
        start = w.c_str();
        base = 10;
    } else {
        return {RESULT_NOT_NUMBER, 0, 0};
    }
    wchar_t* end = nullptr;
    errno = 0;
    unsigned long long value;
    bool range;
    if (kind == Kind::Handle) {
        unsigned long long v = wcstoull(start, &end, base);
        range = errno == ERANGE || v > UINTPTR_MAX;
        value = v;
    } else if (isSigned && base == 10) {
        long v = wcstol(start, &end, 10);
        range = errno == ERANGE || v < INT32_MIN || v > INT32_MAX;
        value = (unsigned long long)v;
    } else {
        unsigned long v = wcstoul(start, &end, base);
        range = errno == ERANGE || v > UINT32_MAX;
        value = isSigned ? (unsigned long long)int32_t(uint32_t(v)) : v;
    }
    if (range)
        return {RESULT_RANGE, 0, 0};
    return {0, value, size_t(end - w.c_str())};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Short texts of the characters that matter.
    static const Unit kAlphabet[] = {'0', '1', '7', '9', 'x', 'X', 'a', 'F', 'g', '-', '+', ' ', 0x0663, 0xFF15};
    std::vector<Unit> text(MAX_ARG_LEN, 0);
    size_t n = size < 40 ? size : 40;
    for (size_t i = 0; i < n; ++i)
        text[i] = data[i] < 200 ? kAlphabet[data[i] % 14] : Unit('0' + data[i] % 10);
    std::wstring w(text.begin(), text.begin() + long(n));

    // Unsigned, whole text and with rest.
    Expected e = Runtime(w, Kind::Unsigned);
    uint32_t value = 12345;
    int result = ParseNumber(text.data(), nullptr, &value);
    int expectedWhole = e.result != 0 ? e.result : (e.stop == n ? 0 : RESULT_NOT_NUMBER);
    if (result != expectedWhole || (result == 0 && value != uint32_t(e.value)))
        std::abort();
    const Unit* rest = nullptr;
    result = ParseNumber(text.data(), &rest, &value);
    if (result != e.result || (result == 0 && (value != uint32_t(e.value) || size_t(rest - text.data()) != e.stop)))
        std::abort();

    // Signed, whole text.
    e = Runtime(w, Kind::Signed);
    int32_t signedValue = 0;
    result = ParseSignedNumber(text.data(), &signedValue);
    expectedWhole = e.result != 0 ? e.result : (e.stop == n ? 0 : RESULT_NOT_NUMBER);
    if (result != expectedWhole || (result == 0 && signedValue != int32_t(e.value)))
        std::abort();

    // Handles, with rest: up to the width of a pointer.
    e = Runtime(w, Kind::Handle);
    uintptr_t handle = 7;
    rest = nullptr;
    result = ParseHandle(text.data(), &rest, &handle);
    if (result != e.result || (result == 0 && (handle != e.value || size_t(rest - text.data()) != e.stop)))
        std::abort();
    return 0;
}
