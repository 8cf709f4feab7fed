// Escapifying: the reverse of ExpandEscapes.
#pragma once

#include "escape/text.h"

// Flag bits that steer Escapify; other bits are ignored.
enum EscapifyFlags : uint32_t {
    ESCF_NONASCII = 1,     // every character from U+0080 to U+FFFF in the \u form
    ESCF_CONTROL = 2,      // control characters above U+00A0 in the \u form
    ESCF_NAMED = 4,        // \e \q \c \k for ESC " , ` where a number would go
    ESCF_SHORT_AT_END = 8, // the short numeric form at the end of the text
};

// The flags of one call, read once.
struct EscapeOptions {
    bool nonAscii;
    bool control;
    bool named;
    bool shortAtEnd;
};
EscapeOptions ReadEscapeFlags(uint32_t flags);

// Room for SpecialChars: at most 1023 characters and the NUL.
constexpr int SPECIAL_CHARS_LEN = 1024;

// Rewrites `text` (a buffer of MAX_ARG_LEN units) in place so that it holds no
// character of `special`, no control character, nothing from U+007F to
// U+00A0, nothing beyond U+FFFF and no lone backslash: each such character
// becomes an escape that ExpandEscapes turns back into it, and a backslash is
// doubled. For a text without lone surrogates, ExpandEscapes(Escapify(t)) is t.
//
// A numeric escape takes its long form (\x0001, \u0022, \U0001f600) when a
// hexadecimal digit follows it, or at the end of the text unless
// ESCF_SHORT_AT_END is set; otherwise the short form (\x01, \u22, \U1f600).
//
// text: a buffer of MAX_ARG_LEN units; the whole buffer may be read, past the
//       NUL too (the scan takes sixteen units at a time).
// special: the characters always escaped, or null for none.
// Returns the number of escapes written; RESULT_MISSING for a null text;
// RESULT_NO_MEMORY when the work buffer cannot be had; RESULT_OVERFLOW when
// the result would exceed MAX_TEXT_LEN units. After a negative result the
// text is unchanged.
int Escapify(Unit* text, uint32_t flags, const Unit* special);

// The escape Escapify writes for the character `c` (a code point, not 0):
// `special` tells whether it is one of the call's special characters (a
// surrogate pair never is), `longForm` whether a numeric escape takes its long
// form. Writes at most 10 units into `out` and returns their number, or 0
// when the character stays as it is.
int WriteEscape(Unit* out, uint32_t c, const EscapeOptions& options, bool special, bool longForm);
