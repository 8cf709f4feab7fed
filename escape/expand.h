// Expansion of backslash escapes.
#pragma once

#include "escape/text.h"

// Units produced so far by an expansion. `units` may be the very storage the
// input is read from (see ExpandEscapes), so it is not kept NUL-terminated
// while the expansion runs; `length` is the one record of where it ends.
struct ExpandOutput {
    Unit* units;
    int length;
};

// The digit readers. Each is given the position of the escape's first digit,
// reads the digits of its escape, and appends the unit (or, for a code point
// above U+FFFF, the surrogate pair) that they stand for.
//
//   octal        \101     1-3 digits 0-7, value 1..511
//   decimal      \#65     1-5 digits 0-9, value 1..65535
//   hexadecimal  \x41     1-4 hex digits, value 1..0xFFFF, surrogates allowed
//   code point   \u20ac   1-4 hex digits (maxDigits 4), value 1..0xFFFF
//                \U1F600  1-8 hex digits (maxDigits 8), value 1..0x10FFFF
//                         the code point forms reject 0xD800..0xDFFF
//
// Digits are read greedily up to the maximum count and only in ASCII; reading
// stops at the first other unit, the text's NUL included.
// Returns the number of digits consumed (1 or more) after appending; 0 when the
// escape is invalid (no digit, value 0, out of range) and nothing was appended;
// RESULT_OVERFLOW when the units would take the output past 8190 units (one
// unit needs length <= 8190 before it, a pair length <= 8189).
int ReadOctalEscape(const Unit* digits, ExpandOutput* out);
int ReadDecimalEscape(const Unit* digits, ExpandOutput* out);
int ReadHexEscape(const Unit* digits, ExpandOutput* out);
int ReadCodePointEscape(const Unit* digits, ExpandOutput* out, int maxDigits);

// Expands the escapes of a NUL-terminated text in place.
//
// text: the text, in a buffer of MAX_ARG_LEN units (or of its length + 1 when
//       longer). The whole buffer may be read, past the NUL too: the scan
//       for backslashes takes whole blocks. On success the buffer holds the
//       expanded text, NUL-terminated.
// map:  optional. On success entry i is the offset in the original text of the
//       character or escape that produced unit i, and the entry at the expanded
//       length is 0. Needs room for the expanded length + 1 entries; nothing
//       else in it is written.
//
// Returns the number of escapes expanded (named escapes, and numeric escapes
// that yield a unit); RESULT_MISSING for a null text; RESULT_NO_MEMORY when
// scratch cannot be had; RESULT_OVERFLOW when the expansion would exceed 8191
// units. After a negative result text and map are untouched.
//
// Example: a\tb\U1F600z -> a, TAB, b, D83D, DE00, z; count 2; map 0 1 3 4 4 11 0.
int ExpandEscapes(Unit* text, int32_t* map);
