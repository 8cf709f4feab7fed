// The number parsers of the functions' arguments (escape/numbers.cpp):
// unsigned, signed and handle numbers, decimal or 0x hexadecimal.
#pragma once

#include "escape/text.h"

// Reads an unsigned 32-bit number: decimal digits, or 0x / 0X followed by
// hexadecimal digits (a leading 0 without x is decimal: 010 is ten). No sign,
// no leading whitespace. With `rest`, text may follow and *rest receives the
// position after the number; without it the whole text must be the number.
// Returns RESULT_OK; RESULT_MISSING for a null argument; RESULT_NOT_NUMBER
// for no number, or trailing text without `rest`; RESULT_RANGE for a value
// above 0xFFFFFFFF. On failure value and rest are untouched.
int ParseNumber(const Unit* text, const Unit** rest, uint32_t* value);

// Reads a handle number as ParseNumber reads a number, up to the width of a
// pointer: 0xFFFFFFFF in a 32-bit build, 0xFFFFFFFFFFFFFFFF in a 64-bit one,
// so that whatever handle a shell of either width prints arrives whole.
int ParseHandle(const Unit* text, const Unit** rest, uintptr_t* value);

// Reads a signed 32-bit number, the whole text: -?decimal (-2147483648 to
// 2147483647), or 0x hexadecimal taken as 32 bits (0xFFFFFFFF is -1).
// Returns as ParseNumber does.
int ParseSignedNumber(const Unit* text, int32_t* value);
