// The plug-in protocol between the shell and a module: the record that
// describes the module, and the signatures of the module's exports.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

// The buffer sizes the two sides agree on, in UTF-16 units with the
// terminating NUL. No call passes a size, so each side relies on these:
// a function's, variable's or command's buffer, and the text that the
// shell's ExpandVariables and Evaluate rewrite in place, hold
// PLUGIN_BUFFER_LEN units (a text of at most PLUGIN_TEXT_LEN); Usage's output
// PLUGIN_USAGE_LEN; QueryTrueName's output PLUGIN_TRUE_NAME_LEN.
constexpr int PLUGIN_BUFFER_LEN = 8192;
constexpr int PLUGIN_TEXT_LEN = PLUGIN_BUFFER_LEN - 1;
constexpr int PLUGIN_USAGE_LEN = 1024;
constexpr int PLUGIN_TRUE_NAME_LEN = 32768;

extern "C" {

// Filled by the module's GetPluginInfo. The last two fields belong to the
// shell: it may fill them, and the module never writes them.
struct PluginInfo {
    LPWSTR module;
    LPWSTR author;
    LPWSTR email;
    LPWSTR web;
    LPWSTR description;
    LPWSTR features;     // comma-separated names: @function, _variable, command
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    HMODULE shellModule;
    LPWSTR shellPath;
};

// The record is laid out as the protocol fixes it, with pointers as wide as
// the platform's: 44 bytes on x86, 80 on x64 (where the three numbers are
// followed by four bytes of padding).
static_assert(sizeof(void*) == 4 ? sizeof(PluginInfo) == 44 && offsetof(PluginInfo, major) == 24 &&
                                       offsetof(PluginInfo, shellModule) == 36
                                 : sizeof(PluginInfo) == 80 && offsetof(PluginInfo, major) == 48 &&
                                       offsetof(PluginInfo, shellModule) == 64,
              "the layout of PluginInfo");

// Every export is __stdcall and exported under its plain name.
typedef PluginInfo*(WINAPI* GetPluginInfoProc)(void);
typedef int(WINAPI* InitializePluginProc)(void);
typedef int(WINAPI* ShutdownPluginProc)(int unused);
typedef int(WINAPI* HelpProc)(LPWSTR name);
typedef int(WINAPI* UsageProc)(LPWSTR name, LPWSTR out); // out: PLUGIN_USAGE_LEN units
// Variable functions (f_name), internal variables (_name) and commands all
// take one buffer of PLUGIN_BUFFER_LEN units: the argument and result, the
// result buffer, the command's argument text.
typedef int(WINAPI* BufferProc)(LPWSTR buffer);

} // extern "C"
