// Character classification used by the escape engine.
//
// Whitespace and control characters follow the Windows C runtime's wide
// classification (iswspace, iswcntrl): the module uses the runtime itself, and
// the native build uses a copy of its tables, checked against the runtime by
// a test under wine. Digits are ASCII only: the digit readers accept nothing
// else, and numbers written in other scripts are not numbers here.
#pragma once

#include "escape/text.h"

constexpr bool IsDecimalDigit(Unit u) { return u >= '0' && u <= '9'; }
constexpr bool IsOctalDigit(Unit u) { return u >= '0' && u <= '7'; }
constexpr bool IsHexDigit(Unit u)
{
    return IsDecimalDigit(u) || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

// The digit values of the ASCII units, kNoDigit for every other unit: the one
// table behind HexDigitValue and the expansion's digit readers, which test a
// unit against their base with it (an 8 is no octal digit: 8 >= 8).
constexpr unsigned kNoDigit = 0xFF;
struct DigitValues {
    uint8_t value[128];
    constexpr DigitValues() : value()
    {
        for (unsigned u = 0; u < 128; ++u)
            value[u] = uint8_t(!IsHexDigit(Unit(u)) ? kNoDigit
                               : IsDecimalDigit(Unit(u)) ? u - '0'
                                                         : (u | 0x20) - 'a' + 10);
    }
};
inline constexpr DigitValues kDigitValues;

// The value of any unit as a digit: 0 to 15, or kNoDigit.
constexpr unsigned DigitValue(Unit u) { return u < 128 ? kDigitValues.value[u] : kNoDigit; }

// Value of an ASCII hexadecimal digit; IsHexDigit(u) must hold.
constexpr unsigned HexDigitValue(Unit u) { return DigitValue(u); }

inline bool IsHighSurrogate(Unit u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(Unit u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The control characters below 256: C0, DEL and C1, in every runtime's
// classification (the table test under wine checks the runtime's).
constexpr bool IsLatin1Control(Unit u) { return u < 0x20 || (u >= 0x7F && u <= 0x9F); }

// The runtime's own classification copied as tables, for builds without it.
bool TableIsSpace(Unit u);
bool TableIsControl(Unit u);

#include <cwctype>
#ifdef _WIN32
inline bool IsSpace(Unit u) { return iswspace(u) != 0; }
inline bool IsControl(Unit u) { return iswcntrl(u) != 0; }
#else
inline bool IsSpace(Unit u) { return TableIsSpace(u); }
inline bool IsControl(Unit u) { return TableIsControl(u); }
#endif
// Letters as the C runtime classifies them (natively only its own locale's).
inline bool IsLetter(Unit u) { return iswalpha(wint_t(u)) != 0; }
