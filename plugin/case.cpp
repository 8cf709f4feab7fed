// Windows' upper- and lower-casing (UpperCase, LowerCase), declared in
// plugin/module.h: the case that @expcmp and @expreplace ignore with flag 1
// and @expfind without it (its flag 1 makes the search case-sensitive), and
// that of the arguments messages quote.
#include <cwchar>

#include "plugin/module.h"

void UpperCase(wchar_t* text) { CharUpperBuffW(text, DWORD(wcslen(text))); }

void LowerCase(wchar_t* text) { LowerCase(text, wcslen(text)); }

void LowerCase(wchar_t* text, size_t length) { CharLowerBuffW(text, DWORD(length)); }
