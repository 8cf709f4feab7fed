// Escapifying under the shell's settings, read afresh from the shell and the
// environment on every call.
#pragma once

#include "escape/escapify.h"

// Escapifies `text` (a buffer of MAX_ARG_LEN units) with the special
// characters and flags in force: the ten fixed characters " % & < > [ ] ^ `
// |, the shell's command separator and escape character, and Ivro_Chars;
// the flags of Ivro_Flags. Returns 0, also when there is no memory for the
// work (the text then stays unescaped, which is still a result); -1 after
// reporting an overflow with `overflowMessage` (the text is then unchanged).
int EscapifyForShell(Unit* text, const wchar_t* overflowMessage = L"Buffer overflow");
