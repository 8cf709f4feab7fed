// The escape settings, read afresh from the shell and the environment on
// every call that escapifies.
#pragma once

#include "escape/escapify.h"

// The shell's command separator and escape character, as its options give
// them; '&' and '^' when an option does not expand to exactly one unit.
Unit GetCommandSeparator();
Unit GetEscapeChar();

// Fills `special` (SPECIAL_CHARS_LEN units) with SpecialChars: the ten fixed
// characters " % & < > [ ] ^ ` |, the command separator and escape character
// when not yet among them, then the value of Ivro_Chars when it fits whole.
// When `flags` is given and Ivro_Flags is set and not empty, *flags becomes
// its value if that is a complete unsigned 32-bit number starting with a
// decimal digit, else 0; otherwise *flags is left as it is.
// Returns 0, or RESULT_MISSING for a null `special`.
int GetEscapeSettings(Unit* special, uint32_t* flags);
