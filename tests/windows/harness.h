// Test support for programs that drive the real module through the stand-in
// shell: loading, export lookup, captured output and readable text.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "escape/text.h"
#include "plugin/protocol.h"

// What a call wrote to the standard handles, as raw bytes.
struct Output {
    std::string out;
    std::string err;
};

// Runs `body` with standard output and standard error sent to fresh files.
Output Capture(const std::function<void()>& body);

// The loaded module and its exports (null when the module lacks one).
HMODULE Module();
FARPROC Export(const char* name);
template <class Proc>
Proc ExportAs(const char* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(Export(name)));
}
BufferProc BufferExport(const char* name);

// The bytes a message of the module shows in the shell's default output
// (ASCII only, so every output encoding but UTF-16 agrees).
std::string Bytes(const std::wstring& text);

// `text` with every unit outside printable ASCII shown as \uXXXX.
std::string Show(const std::wstring& text);
std::string ShowBytes(const std::string& bytes);

// Runs a shell command line (built-ins, module commands) as a batch line would.
int ShellCommand(const std::wstring& line);

// Calls a buffer export with `argument` in a zeroed buffer of MAX_ARG_LEN units
// followed by a guard region, and checks that the guard is intact.
struct CallResult {
    int code;
    std::wstring text;
    Output output;
    bool guardIntact;
};
CallResult CallBuffer(const char* exportName, const std::wstring& argument);

// A scratch directory of the test program, removed at exit.
std::wstring TempDir();
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
