// Test support for programs that drive the real module through the stand-in
// shell: loading, export lookup, captured output and readable text.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

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

// What the shell's expansion of `text` gives (variables, functions); a failed
// expansion fails the test.
std::wstring ShellExpand(const std::wstring& text);

// Runs a shell command line (built-ins, module commands) as a batch line would.
int ShellCommand(const std::wstring& line);

// A zeroed buffer of `units` units (a shell's MAX_ARG_LEN unless a test
// plays a shell that hands over more) that holds `argument` (at most
// `units` - 1 units of it), followed by a guard region that no call may
// write to.
class GuardedBuffer {
public:
    explicit GuardedBuffer(const std::wstring& argument, size_t units = MAX_ARG_LEN);
    wchar_t* Data() { return units_.data(); }
    std::wstring Text() const; // up to its first NUL
    bool GuardIntact() const;

private:
    size_t Size() const; // the units before the guard
    std::vector<wchar_t> units_;
};

// Calls a buffer export with `argument` in a GuardedBuffer, and checks that
// the guard is intact.
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
