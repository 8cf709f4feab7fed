// The operations of the shell's library, TakeCmd.dll, as the module calls them.
//
// All text is NUL-terminated UTF-16. No operation is told a buffer size: the
// shell writes at most PLUGIN_BUFFER_LEN (8192) units, NUL included, into the
// buffers of ExpandVariables and Evaluate (a longer result fails with a
// non-zero result) and at most PLUGIN_TRUE_NAME_LEN (32768) units into that of
// QueryTrueName (plugin/protocol.h). The module therefore hands the first two
// only buffers of PLUGIN_BUFFER_LEN units.
#pragma once

#include <windows.h>

#include "plugin/protocol.h"

#ifndef TAKECMD_API
#define TAKECMD_API __declspec(dllimport)
#endif

extern "C" {

// Runs `line` as a shell command; its effect is in force on return. flag: 0.
TAKECMD_API int WINAPI Command(LPWSTR line, int flag);

// Replaces the arithmetic expression in `expr` by its value as text.
TAKECMD_API int WINAPI Evaluate(LPWSTR expr);

// Replaces `buf` by its expansion (variables, internal variables, variable
// functions). flag: 1. Returns 0 on success.
TAKECMD_API int WINAPI ExpandVariables(LPWSTR buf, int flag);

// Formatted output to standard output, or to `handle`. Conversions: %s (a
// UTF-16 string), %u, %d, %%.
TAKECMD_API int __cdecl Printf(LPCWSTR format, ...);
TAKECMD_API int __cdecl Qprintf(HANDLE handle, LPCWSTR format, ...);

// Writes `text` to standard output as it is, with no end of line.
TAKECMD_API int WINAPI QPuts(LPCWSTR text);

// Writes the canonical full path of `name` into `out` (PLUGIN_TRUE_NAME_LEN
// units), or leaves it empty when the name does not resolve.
TAKECMD_API int WINAPI QueryTrueName(LPCWSTR name, LPWSTR out);

// Non-zero when the shell writes its output as UTF-16.
TAKECMD_API int WINAPI QueryUnicodeOutput(void);

} // extern "C"
