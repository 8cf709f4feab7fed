// The exports of TakeCmd.dll: the operations that modules call, and the hooks
// through which test programs drive the shell. No C++ exception leaves them.
#include <algorithm>
#include <cstdarg>
#include <new>
#include <string>
#include <vector>

#define TAKECMD_API
#include "plugin/host.h"
#include "shell/commands.h"
#include "shell/evaluate.h"
#include "shell/expander.h"
#include "shell/host_api.h"
#include "shell/module.h"
#include "shell/output.h"
#include "shell/state.h"

HINSTANCE g_takeCmdInstance = nullptr;

namespace {

// Runs `body`; an exception (only an exhausted heap can raise one) becomes
// the result `failure`.
template <class Body>
int Guarded(int failure, Body body)
{
    try {
        return body();
    } catch (...) {
        ivsh::Message(L"Out of memory");
        return failure;
    }
}

// Copies a result of at most PLUGIN_TEXT_LEN units, with its NUL, into a caller's
// buffer of PLUGIN_BUFFER_LEN units.
void CopyOut(const std::wstring& text, LPWSTR buffer)
{
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_takeCmdInstance = instance;
    return TRUE;
}

int WINAPI Command(LPWSTR line, int)
{
    if (line == nullptr)
        return 1;
    return Guarded(1, [&] { return ivsh::RunLine(line); });
}

int WINAPI Evaluate(LPWSTR expression)
{
    if (expression == nullptr)
        return 1;
    return Guarded(1, [&] {
        std::wstring result;
        int code = ivsh::EvaluateToText(expression, result);
        if (code == 0)
            CopyOut(result, expression);
        return code;
    });
}

int WINAPI ExpandVariables(LPWSTR buffer, int)
{
    if (buffer == nullptr)
        return 1;
    return Guarded(1, [&] {
        std::wstring result;
        int code = ivsh::ExpandText(buffer, result);
        if (code == 0)
            CopyOut(result, buffer);
        return code;
    });
}

int __cdecl Printf(LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    int written = Guarded(-1, [&] { return ivsh::WriteOut(ivsh::FormatV(format, args)); });
    va_end(args);
    return written;
}

int __cdecl Qprintf(HANDLE handle, LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    int written = Guarded(-1, [&] { return ivsh::WriteText(handle, ivsh::FormatV(format, args)); });
    va_end(args);
    return written;
}

int WINAPI QPuts(LPCWSTR text)
{
    if (text == nullptr)
        return 0;
    return Guarded(-1, [&] { return ivsh::WriteOut(text); });
}

int WINAPI QueryTrueName(LPCWSTR name, LPWSTR out)
{
    if (out == nullptr)
        return 1;
    out[0] = L'\0';
    if (name == nullptr || name[0] == L'\0')
        return 1;
    return Guarded(1, [&] {
        std::vector<wchar_t> path(PLUGIN_TRUE_NAME_LEN);
        DWORD length = GetFullPathNameW(name, DWORD(path.size()), path.data(), nullptr);
        if (length == 0 || length >= path.size())
            return 1;
        std::copy_n(path.begin(), length + 1, out);
        return 0;
    });
}

int WINAPI QueryUnicodeOutput(void)
{
    return ivsh::TheShell().options.unicodeOutput ? 1 : 0;
}

int WINAPI HostLoadModule(LPCWSTR path)
{
    return Guarded(1, [&] { return ivsh::LoadModule(path); });
}

void WINAPI HostUnloadModule(void)
{
    Guarded(1, [] {
        ivsh::UnloadModule();
        return 0;
    });
}

int WINAPI HostSetInternal(LPCWSTR name, LPCWSTR value)
{
    if (name == nullptr)
        return 1;
    return Guarded(1, [&] {
        ivsh::Shell& shell = ivsh::TheShell();
        std::wstring text = value != nullptr ? value : L"";
        if (ivsh::IEquals(name, L"_transient"))
            shell.transient = text;
        else if (ivsh::IEquals(name, L"_pipe"))
            shell.pipe = text;
        else
            return 1;
        return 0;
    });
}

} // extern "C"
