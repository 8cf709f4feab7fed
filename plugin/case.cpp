// The platform's upper- and lower-casing (UpperCase, LowerCase), declared in
// plugin/module.h: the case of @expcmp, @expreplace and @expfind with flag 1,
// and of the arguments that messages quote.
#include <cwchar>

#include "plugin/module.h"

void UpperCase(wchar_t* text) { CharUpperBuffW(text, DWORD(wcslen(text))); }

void LowerCase(wchar_t* text) { LowerCase(text, wcslen(text)); }

void LowerCase(wchar_t* text, size_t length) { CharLowerBuffW(text, DWORD(length)); }
