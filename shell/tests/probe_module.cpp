// A small module for the shell's tests. Each export exercises one part of
// what the shell promises modules: arguments in a zeroed buffer of 8192
// units, results taken as they are, failures passed on, calls back into the
// shell while it is expanding, and the guards against a module that writes
// past its buffer or leaves no NUL. Its feature list also names two exports
// that it does not have.
#include <cwchar>
#include <cwctype>
#include <string>

#define TAKECMD_API __declspec(dllimport)
#include "plugin/host.h"
#include "plugin/protocol.h"

namespace {

wchar_t kName[] = L"Probe";
wchar_t kAuthor[] = L"ivsh tests";
wchar_t kEmpty[] = L"";
wchar_t kFeatures[] = L"@probe,@fail,@len,@fill,@overrun,@noend,@reenter,@run,@info,@missingfn,"
                      L"_probevar,probecmd,missingcmd";

PluginInfo g_info;

int SetResult(LPWSTR buffer, const std::wstring& text)
{
    if (text.size() >= size_t(PLUGIN_BUFFER_LEN)) {
        Qprintf(GetStdHandle(STD_ERROR_HANDLE), L"probe: result too long\r\n");
        return -1;
    }
    wmemcpy(buffer, text.c_str(), text.size() + 1);
    return 0;
}

// Quiet unless the shell is neither transient nor in a pipe, and noloadmsg is
// unset: the same test the real module makes.
bool Chatty()
{
    wchar_t state[1024] = L"%[_transient]%[_pipe]%[noloadmsg]";
    ExpandVariables(state, 1);
    return wcscmp(state, L"00") == 0;
}

} // namespace

extern "C" {

PluginInfo* WINAPI GetPluginInfo(void)
{
    g_info.module = kName;
    g_info.author = kAuthor;
    g_info.email = kEmpty;
    g_info.web = kEmpty;
    g_info.description = kName;
    g_info.features = kFeatures;
    g_info.major = 1;
    g_info.minor = 0;
    g_info.build = 0;
    return &g_info;
}

int WINAPI InitializePlugin(void)
{
    if (Chatty())
        Printf(L"%s loaded.\r\n", kName);
    return 0;
}

int WINAPI ShutdownPlugin(int)
{
    if (Chatty())
        Printf(L"%s unloaded.\r\n", kName);
    return 0;
}

int WINAPI Help(LPWSTR name)
{
    if (name == nullptr || _wcsicmp(name, L"probecmd") != 0)
        return 0;
    Printf(L"help on %s\r\n", name);
    return 1;
}

int WINAPI Usage(LPWSTR name, LPWSTR out)
{
    if (name == nullptr || _wcsicmp(name, L"probecmd") != 0)
        return 0;
    wcscpy(out, L"PROBECMD [text]\r\n");
    return 1;
}

// "<" argument ">", after checking that the rest of the buffer is zero.
int WINAPI f_probe(LPWSTR buffer)
{
    size_t length = wcslen(buffer);
    for (size_t i = length; i < size_t(PLUGIN_BUFFER_LEN); ++i)
        if (buffer[i] != 0)
            return SetResult(buffer, L"buffer not zeroed");
    return SetResult(buffer, L"<" + std::wstring(buffer) + L">");
}

int WINAPI f_fail(LPWSTR buffer)
{
    Qprintf(GetStdHandle(STD_ERROR_HANDLE), L"probe: failing on purpose: %s\r\n", buffer);
    return -1;
}

// The length of the argument.
int WINAPI f_len(LPWSTR buffer)
{
    return SetResult(buffer, std::to_wstring(wcslen(buffer)));
}

// As many "x" as the argument says.
int WINAPI f_fill(LPWSTR buffer)
{
    size_t count = wcstoul(buffer, nullptr, 10);
    return SetResult(buffer, std::wstring(count, L'x'));
}

// Writes eight units past the end of the buffer.
int WINAPI f_overrun(LPWSTR buffer)
{
    for (size_t i = 0; i < size_t(PLUGIN_BUFFER_LEN) + 8; ++i)
        buffer[i] = L'y';
    return 0;
}

// Fills the whole buffer and leaves no NUL.
int WINAPI f_noend(LPWSTR buffer)
{
    for (size_t i = 0; i < size_t(PLUGIN_BUFFER_LEN); ++i)
        buffer[i] = L'z';
    return 0;
}

// Has the shell expand the argument with the escape character and the
// separators switched off, the way the real module reads lines of files:
// save the setting, SETDOS, expand, SETDOS back.
int WINAPI f_reenter(LPWSTR buffer)
{
    wchar_t saved[32] = L"%_expansion";
    ExpandVariables(saved, 1);
    if (saved[0] == 0)
        wcscpy(saved, L"0");
    wchar_t off[] = L"*setdos /x-1478+3";
    Command(off, 0);
    std::wstring expression(buffer);
    expression.resize(PLUGIN_BUFFER_LEN);
    int code = ExpandVariables(expression.data(), 1);
    std::wstring restore = L"setdos /X" + std::wstring(saved);
    Command(restore.data(), 0);
    if (code != 0)
        return code;
    return SetResult(buffer, expression.c_str());
}

// Runs the argument as a command line; the result is "ran:" and its result.
int WINAPI f_run(LPWSTR buffer)
{
    std::wstring line(buffer);
    int code = Command(line.data(), 0);
    return SetResult(buffer, L"ran:" + std::to_wstring(code));
}

// What the shell filled in: its program path, and whether shellModule is the
// shell's library.
int WINAPI f_info(LPWSTR buffer)
{
    bool library = g_info.shellModule != nullptr && g_info.shellModule == GetModuleHandleW(L"TakeCmd.dll");
    std::wstring path = g_info.shellPath != nullptr ? g_info.shellPath : L"(none)";
    return SetResult(buffer, path + (library ? L"|library" : L"|not the library"));
}

int WINAPI _probevar(LPWSTR buffer)
{
    return SetResult(buffer, L"probe-value");
}

// Prints its argument text in brackets; "fail" makes it return 3.
int WINAPI probecmd(LPWSTR buffer)
{
    Printf(L"[%s]", buffer);
    std::wstring text(buffer);
    size_t start = text.find_first_not_of(L" \t");
    return start != std::wstring::npos && text.compare(start, std::wstring::npos, L"fail") == 0 ? 3 : 0;
}

} // extern "C"
