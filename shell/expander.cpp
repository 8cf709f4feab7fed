#include "shell/expander.h"

#include <cwctype>

#include "shell/functions.h"
#include "shell/module.h"
#include "shell/state.h"

namespace ivsh {

namespace {

std::wstring EnvironmentValue(const std::wstring& name)
{
    std::wstring value(256, L'\0');
    for (;;) {
        SetLastError(0);
        DWORD length = GetEnvironmentVariableW(name.c_str(), value.data(), DWORD(value.size()));
        if (length == 0)
            return {};
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

// An internal variable: the module's, then the shell's; unknown ones are
// empty. Returns 0, or the failing module export's code.
int InternalValue(std::wstring_view name, std::wstring& value)
{
    value.clear();
    if (BufferProc proc = ModuleVariable(name))
        return CallBufferExport(proc, name, L"", &value);
    ShellVariable(name, value);
    return 0;
}

int VariableValue(std::wstring_view name, std::wstring& value)
{
    if (!name.empty() && name[0] == L'_')
        return InternalValue(name, value);
    value = name.empty() ? std::wstring() : EnvironmentValue(std::wstring(name));
    return 0;
}

int CallFunction(std::wstring_view name, std::wstring_view rawArgs, std::wstring& result)
{
    std::wstring args;
    if (TheShell().expansion.Disabled(kNestedArguments)) {
        args = rawArgs;
    } else if (int code = ExpandText(rawArgs, args)) {
        return code;
    }
    if (BufferProc proc = ModuleFunction(name))
        return CallBufferExport(proc, L"@" + std::wstring(name), args, &result);
    bool found = false;
    int code = CallShellFunction(name, args, result, found);
    if (!found) {
        Message(L"Unknown function: @" + std::wstring(name));
        return 1;
    }
    return code;
}

// Expands the %-form that begins at text[at]. Sets `next` to the position
// after it. Returns 0 or the code of a failure.
int ExpandPercent(std::wstring_view text, size_t at, std::wstring& piece, size_t& next)
{
    const size_t n = text.size();
    const wchar_t c = at + 1 < n ? text[at + 1] : L'\0';
    piece.clear();
    next = at + 2;

    if (c == L'%') {
        piece = L"%";
        return 0;
    }
    if (c == L'[') {
        size_t close = text.find(L']', at + 2);
        if (close != std::wstring_view::npos) {
            next = close + 1;
            return VariableValue(text.substr(at + 2, close - at - 2), piece);
        }
    } else if (c == L'@') {
        size_t open = 0;
        size_t end = FunctionCallEnd(text, at, &open);
        if (end == std::wstring_view::npos) {
            Message(L"Missing ] in " + std::wstring(text.substr(at, open + 1 - at)));
            return 1;
        }
        if (end != 0) {
            next = end;
            return CallFunction(text.substr(at + 2, open - at - 2), text.substr(open + 1, end - open - 2), piece);
        }
    } else if (c == L'_' || std::iswalpha(c) || c == L'$') {
        size_t end = at + 1;
        while (end < n && IsNameChar(text[end]))
            ++end;
        // An environment variable may be closed by "%"; an internal one is
        // not, so that "%_transient%_pipe" reads two variables.
        next = c != L'_' && end < n && text[end] == L'%' ? end + 1 : end;
        return VariableValue(text.substr(at + 1, end - at - 1), piece);
    } else if ((c >= L'0' && c <= L'9') || c == L'*') {
        if (const BatchFrame* batch = CurrentBatch()) {
            if (c == L'*')
                piece = batch->allArgs;
            else if (size_t(c - L'0') < batch->args.size())
                piece = batch->args[size_t(c - L'0')];
        }
        return 0;
    } else if (c == L'?') {
        piece = std::to_wstring(TheShell().lastResult);
        return 0;
    }
    piece = L"%";
    next = at + 1;
    return 0;
}

} // namespace

size_t FunctionCallEnd(std::wstring_view text, size_t start, size_t* nameEnd)
{
    const size_t n = text.size();
    if (start + 1 >= n || text[start] != L'%' || text[start + 1] != L'@')
        return 0;
    size_t open = start + 2;
    while (open < n && IsNameChar(text[open]))
        ++open;
    if (open == start + 2 || open >= n || text[open] != L'[')
        return 0;
    if (nameEnd != nullptr)
        *nameEnd = open;
    const Shell& shell = TheShell();
    const bool escapes = !shell.expansion.Disabled(kEscapes);
    const wchar_t escape = shell.options.escapeChar;
    int depth = 0;
    for (size_t i = open; i < n; ++i) {
        if (escapes && text[i] == escape)
            ++i;
        else if (text[i] == L'[')
            ++depth;
        else if (text[i] == L']' && --depth == 0)
            return i + 1;
    }
    return std::wstring_view::npos;
}

int ExpandText(std::wstring_view text, std::wstring& out)
{
    out.clear();
    NestingGuard guard;
    if (!guard.Ok())
        return 1;
    const Shell& shell = TheShell();
    std::wstring piece;
    size_t i = 0;
    while (i < text.size()) {
        // The setting is read afresh at every step: a function may have run
        // SETDOS (and restored it) meanwhile.
        const wchar_t c = text[i];
        if (!shell.expansion.Disabled(kEscapes) && c == shell.options.escapeChar) {
            out += i + 1 < text.size() ? text[i + 1] : c;
            i += 2;
        } else if (c != L'%' || shell.expansion.Disabled(kVariables)) {
            out += c;
            ++i;
        } else {
            size_t next = 0;
            if (int code = ExpandPercent(text, i, piece, next))
                return code;
            out += piece;
            i = next;
        }
        if (out.size() > size_t(PLUGIN_TEXT_LEN)) {
            Message(L"Expansion too long (more than " + std::to_wstring(PLUGIN_TEXT_LEN) + L" characters)");
            return 1;
        }
    }
    return 0;
}

} // namespace ivsh
