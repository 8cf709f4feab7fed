#include "shell/state.h"

#include <cwctype>

#include "shell/output.h"

namespace ivsh {

namespace {

constexpr int kMaxNesting = 64;

UINT DefaultCodePage()
{
    UINT codePage = GetConsoleOutputCP();
    return codePage != 0 ? codePage : GetOEMCP();
}

bool ParseYesNo(std::wstring_view text, bool& value)
{
    for (const wchar_t* yes : {L"yes", L"on", L"1"})
        if (IEquals(text, yes))
            return value = true, true;
    for (const wchar_t* no : {L"no", L"off", L"0"})
        if (IEquals(text, no))
            return value = false, true;
    return false;
}

} // namespace

std::wstring ExpansionSetting::Text() const
{
    std::wstring text;
    for (int kind = 1; kind <= 9; ++kind)
        if (Disabled(kind))
            text += wchar_t(L'0' + kind);
    return text;
}

bool ExpansionSetting::Apply(std::wstring_view value)
{
    if (value.empty())
        return false;
    unsigned bits = bits_;
    size_t i = 0;
    if (value[0] >= L'0' && value[0] <= L'9') {
        bits = 0;
        for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i)
            if (value[i] != L'0')
                bits |= 1u << (value[i] - L'0');
    }
    while (i < value.size()) {
        wchar_t sign = value[i++];
        if (sign != L'-' && sign != L'+')
            return false;
        size_t start = i;
        for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
            unsigned bit = value[i] == L'0' ? 0u : 1u << (value[i] - L'0');
            bits = sign == L'-' ? bits | bit : bits & ~bit;
        }
        if (i == start)
            return false;
    }
    bits_ = bits;
    return true;
}

Shell& TheShell()
{
    static Shell shell = [] {
        Shell initial;
        initial.options.codePage = DefaultCodePage();
        return initial;
    }();
    return shell;
}

BatchFrame* CurrentBatch()
{
    Shell& shell = TheShell();
    return shell.batches.empty() ? nullptr : shell.batches.back().get();
}

void Message(std::wstring_view text)
{
    std::wstring line = L"ivsh: ";
    if (const BatchFrame* batch = CurrentBatch())
        line += batch->name + L" [" + std::to_wstring(batch->line) + L"]  ";
    line += text;
    line += L"\r\n";
    WriteText(GetStdHandle(STD_ERROR_HANDLE), line);
}

const wchar_t* const kOptionNames[5] = {L"commandsep", L"escapechar", L"utf8output", L"unicodeoutput",
                                        L"codepage"};

bool SetOption(std::wstring_view name, std::wstring_view rawValue, std::wstring& error)
{
    Options& options = TheShell().options;
    std::wstring_view value = TrimView(rawValue);
    auto bad = [&](const wchar_t* why) {
        error = L"Bad value for option " + std::wstring(name) + L": \"" + std::wstring(rawValue) + L"\" (" + why + L")";
        return false;
    };
    if (IEquals(name, L"commandsep")) {
        if (value.size() != 1 || IsBlank(value[0]) || std::iswalnum(value[0]))
            return bad(L"one character, neither blank nor a letter or digit");
        options.commandSep = value[0];
    } else if (IEquals(name, L"escapechar")) {
        if (value.size() != 1 || IsBlank(value[0]))
            return bad(L"one character, not blank");
        options.escapeChar = value[0];
    } else if (IEquals(name, L"utf8output") || IEquals(name, L"unicodeoutput")) {
        bool on = false;
        if (!ParseYesNo(value, on))
            return bad(L"yes or no");
        (IEquals(name, L"utf8output") ? options.utf8Output : options.unicodeOutput) = on;
    } else if (IEquals(name, L"codepage")) {
        int64_t number = 0;
        if (!ParseInteger(value, number) || number <= 0 || number > 0xFFFF ||
            (number != CP_UTF8 && !IsValidCodePage(UINT(number))))
            return bad(L"a code page number that this system knows");
        options.codePage = UINT(number);
    } else {
        error = L"Unknown option: " + std::wstring(name);
        return false;
    }
    return true;
}

bool GetOption(std::wstring_view name, std::wstring& value)
{
    const Options& options = TheShell().options;
    if (IEquals(name, L"commandsep"))
        value.assign(1, options.commandSep);
    else if (IEquals(name, L"escapechar"))
        value.assign(1, options.escapeChar);
    else if (IEquals(name, L"utf8output"))
        value = options.utf8Output ? L"Yes" : L"No";
    else if (IEquals(name, L"unicodeoutput"))
        value = options.unicodeOutput ? L"Yes" : L"No";
    else if (IEquals(name, L"codepage"))
        value = std::to_wstring(options.codePage);
    else
        return false;
    return true;
}

NestingGuard::NestingGuard() : ok_(TheShell().nesting < kMaxNesting)
{
    ++TheShell().nesting;
    if (!ok_)
        Message(L"Nested too deeply (more than " + std::to_wstring(kMaxNesting) +
                L" levels of functions, batch files and commands)");
}

NestingGuard::~NestingGuard()
{
    --TheShell().nesting;
}

} // namespace ivsh
