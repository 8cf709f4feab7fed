// State and helpers of the plug-in frame shared by the module's features.
#pragma once

#include <windows.h>

#include <type_traits>

#include "escape/scratch.h"
#include "escape/text.h"
#include "functions/argument_readers.h"
#include "plugin/protocol.h"

// The engine sizes every buffer by MAX_ARG_LEN and hands them to the shell,
// which fills them up to the size that the protocol fixes.
static_assert(MAX_ARG_LEN == PLUGIN_BUFFER_LEN, "the engine's buffers are the shell's");

// Instance handle of this library, stored on process attach.
extern HINSTANCE g_moduleHandle;

// The module's name as the shell and every message show it.
extern const wchar_t kModuleName[];

// The usage text of one of the module's commands (the name in any case),
// its one-line description first; null for any other name.
const wchar_t* CommandUsage(const wchar_t* command);

// Writes an error message to standard error and ends the line: first
// "Ivro plugin: " and, inside a batch file, the batch file's name and line,
// then `message`. Each returns -1, the code a failing feature returns.
int ReportError(const wchar_t* message);
// The same for a message that shows a value: label: "value".
int ReportError(const wchar_t* label, const wchar_t* value);

// Windows' upper- and lower-casing of a whole text, in place, unit for
// unit (the length stays); LowerCase also of `length` units.
void UpperCase(wchar_t* text);
void LowerCase(wchar_t* text);
void LowerCase(wchar_t* text, size_t length);

// Reports what ended the reading of a function's arguments by `rows`:
// "Missing <name>", "Buffer overflow expanding <name>", "Error allocating
// position map", or "Bad <name>" with the argument upper-cased in place by
// `upper` as its value. Returns -1.
int ReportArgumentFault(const ArgumentRow* rows, ArgumentReading reading, const ArgList& list,
                        void (*upper)(wchar_t*));

// Upper-cases `argument` in place with `upper` and reports it as the value
// of `label`. Returns -1.
int ReportBadArgument(const wchar_t* label, wchar_t* argument, void (*upper)(wchar_t*));

// Runs `call` on an `Args` taken from the scratch allocator, a work area too
// large for the shell's stack (raw memory, which the call fills), and gives
// back its result; without the memory, reports `noMemory` (-1).
template <typename Args, typename Call>
int WithScratch(const wchar_t* noMemory, Call call)
{
    static_assert(std::is_trivially_default_constructible_v<Args>, "raw memory is one");
    Args* args = static_cast<Args*>(ScratchAlloc(sizeof(Args)));
    if (args == nullptr)
        return ReportError(noMemory);
    const int result = call(*args);
    ScratchFree(args);
    return result;
}

// Has the shell expand `text` (variables, internal variables, functions) and
// copies the result into `out`, of `outUnits` units, cut short if need be and
// always NUL-terminated. The shell is handed a MAX_ARG_LEN scratch, never a
// smaller buffer. Returns the result of the shell's ExpandVariables;
// `truncated`, when given, tells whether the result was cut.
int ExpandShellText(const wchar_t* text, wchar_t* out, size_t outUnits, bool* truncated = nullptr);
// The same where the result may take a buffer of MAX_ARG_LEN units: `text`
// copied into `buffer` (cut at MAX_TEXT_LEN units) and expanded there, with
// no scratch of its own.
int ExpandShellTextInto(const wchar_t* text, wchar_t (&buffer)[MAX_ARG_LEN]);

// Ends the help viewer started by the last help request, if any.
void EndHelpViewer();
