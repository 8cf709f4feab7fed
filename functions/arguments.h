// Argument handling shared by the functions that split their text.
#pragma once

#include <cstdint>

// Copies argument k of the last split into `out` (MAX_ARG_LEN units). False,
// with `out` untouched, when the argument is missing.
bool CopyArgument(int k, wchar_t* out);

// Reads argument k as an unsigned number with nothing after it into *value.
// A missing argument leaves *value as it is; false for one that is no number.
bool ReadFlags(int k, uint32_t* value);

// Upper-casing for messages that quote an argument: the letters a to z only,
// or the platform's whole mapping.
void UpperCaseAscii(wchar_t* text);
void UpperCase(wchar_t* text);

// Upper-cases argument k in place and reports it with `format`. Returns -1.
int ReportBadNumber(const wchar_t* format, int k, void (*upper)(wchar_t*));
