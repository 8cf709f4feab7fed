// The module's exports, as the shell calls them (see Ivro.def and
// plugin/protocol.h for their types).
#pragma once

#include <windows.h>

extern "C" {

// The plug-in protocol.
struct PluginInfo;
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
PluginInfo* WINAPI GetPluginInfo(void);
int WINAPI InitializePlugin(void);
int WINAPI ShutdownPlugin(int unused);
int WINAPI Help(LPWSTR name);
int WINAPI Usage(LPWSTR name, LPWSTR out);

// The command EXPECHO and the internal variable _ivrover.
int WINAPI expecho(LPWSTR args);
int WINAPI _ivrover(LPWSTR buffer);

// The variable functions: @name is served by f_name.
int WINAPI f_escapify(LPWSTR buffer);
int WINAPI f_escenv(LPWSTR buffer);
int WINAPI f_escline(LPWSTR buffer);
int WINAPI f_escread(LPWSTR buffer);
int WINAPI f_exp(LPWSTR buffer);
int WINAPI f_expcmp(LPWSTR buffer);
int WINAPI f_expfind(LPWSTR buffer);
int WINAPI f_expreplace(LPWSTR buffer);
int WINAPI f_expwrite(LPWSTR buffer);

} // extern "C"
