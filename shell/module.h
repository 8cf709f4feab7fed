// The loaded module: loading by the plug-in protocol, the names it offers,
// and calls of its buffer exports.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "plugin/protocol.h"

namespace ivsh {

// Loads the module at `path` (null or empty: the module of the shell's own
// width, Ivro-x86.dll or Ivro-x64.dll, beside TakeCmd.dll;
// a bare file name is also looked for there), fills the shell's two fields of
// its PluginInfo, maps its feature list to its exports (warning once about
// each name that has no export) and calls InitializePlugin once. Returns 0,
// or non-zero after a message.
int LoadModule(const wchar_t* path);

// Calls ShutdownPlugin(0) once and unloads the module; nothing when none is
// loaded.
void UnloadModule();

// The exports behind the module's names, or nullptr. Lookups ignore case.
// Functions are named without their "@", variables with their "_".
BufferProc ModuleFunction(std::wstring_view name);
BufferProc ModuleVariable(std::wstring_view name);
BufferProc ModuleCommand(std::wstring_view name);
HelpProc ModuleHelp();
UsageProc ModuleUsage();
// The module's names as its feature list gives them, for `help`.
std::wstring ModuleFeatures();

// Calls a buffer export the way every module call is made: `input` copied
// into a zeroed buffer of exactly PLUGIN_BUFFER_LEN units (input longer than
// PLUGIN_TEXT_LEN units is refused). Returns the export's result; on 0 `result`
// (when given) receives the buffer's text. Returns 1 after a message when the
// input is too long, or when the export left no NUL in its buffer or wrote
// past it (the buffer is followed by a guard that is checked afterwards).
// `label` names the call in messages ("@exp", "expecho").
int CallBufferExport(BufferProc proc, std::wstring_view label, std::wstring_view input, std::wstring* result);

// Calls the module's Usage for a command. True when it wrote a usage text.
bool ModuleUsageText(std::wstring_view command, std::wstring& text);

} // namespace ivsh
