// The module's exports, as the shell calls them (see Ivro.def and
// plugin/protocol.h for their types).
#pragma once

#include <windows.h>

#include "plugin/functions.h"

extern "C" {

// The plug-in protocol.
struct PluginInfo;
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
PluginInfo* WINAPI GetPluginInfo(void);
int WINAPI InitializePlugin(void);
int WINAPI ShutdownPlugin(int unused);
int WINAPI Help(LPWSTR name);
int WINAPI Usage(LPWSTR name, LPWSTR out);

// The functions of plugin/functions.h: @name is served by f_name, the
// internal variable and the command by their names.
#define IVRO_DECLARE_FUNCTION(name, export, page, syntax, summary) int WINAPI export(LPWSTR buffer);
IVRO_FUNCTIONS(IVRO_DECLARE_FUNCTION)
#undef IVRO_DECLARE_FUNCTION

} // extern "C"
