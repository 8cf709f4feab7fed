#include "shell/functions.h"

#include "shell/evaluate.h"
#include "shell/state.h"
#include "shell/text.h"

namespace ivsh {

namespace {

constexpr wchar_t kEndOfFile[] = L"**EOF**";

int Fail(std::wstring_view function, const std::wstring& why)
{
    Message(L"@" + std::wstring(function) + L": " + why);
    return 1;
}

// A result longer than a buffer can hold fails instead of being cut.
int Deliver(std::wstring_view function, std::wstring text, std::wstring& result)
{
    if (text.size() > size_t(PLUGIN_TEXT_LEN))
        return Fail(function, L"The result is longer than " + std::to_wstring(PLUGIN_TEXT_LEN) + L" characters");
    result = std::move(text);
    return 0;
}

bool ParseHandle(std::wstring_view text, HANDLE& handle)
{
    uint64_t value = 0;
    if (!ParseUnsigned(TrimView(text), value) || value == 0 || value > UINTPTR_MAX)
        return false;
    handle = reinterpret_cast<HANDLE>(uintptr_t(value));
    return true;
}

int OptionFunction(std::wstring_view args, std::wstring& result)
{
    std::wstring name = Trim(args);
    if (!GetOption(name, result))
        return Fail(L"option", L"Unknown option: " + name);
    return 0;
}

int PathFunction(std::wstring_view args, std::wstring& result)
{
    std::wstring file = Unquote(args);
    size_t end = file.find_last_of(L"\\/:");
    result = end == std::wstring::npos ? std::wstring() : file.substr(0, end + 1);
    return 0;
}

int EvalFunction(std::wstring_view args, std::wstring& result)
{
    return EvaluateToText(args, result);
}

int LineFunction(std::wstring_view args, std::wstring& result)
{
    size_t comma = FindLastComma(args);
    if (comma == std::wstring_view::npos)
        return Fail(L"line", L"Expected a file name, a comma and a line number: " + std::wstring(args));
    std::wstring file = Unquote(args.substr(0, comma));
    std::wstring number = Trim(args.substr(comma + 1));
    int64_t index = 0;
    if (!ParseInteger(number, index) || index < 0 || number[0] == L'+')
        return Fail(L"line", L"Bad line number: \"" + number + L"\"");
    if (file.empty())
        return Fail(L"line", L"Missing file name");
    std::vector<std::wstring> lines;
    if (DWORD error = ReadTextLines(file, lines))
        return Fail(L"line", L"Cannot read " + file + L": " + SystemMessage(error));
    if (uint64_t(index) >= lines.size())
        return Deliver(L"line", kEndOfFile, result);
    return Deliver(L"line", std::move(lines[size_t(index)]), result);
}

int FileOpenFunction(std::wstring_view args, std::wstring& result)
{
    size_t comma = FindLastComma(args);
    std::wstring file = Unquote(args.substr(0, comma));
    std::wstring mode = comma == std::wstring_view::npos ? L"read" : Lower(Trim(args.substr(comma + 1)));
    if (mode.empty())
        mode = L"read";
    if (mode != L"read" && mode != L"write" && mode != L"append")
        return Fail(L"fileopen", L"Bad mode: \"" + mode + L"\" (read, write or append)");
    if (file.empty())
        return Fail(L"fileopen", L"Missing file name");

    const bool reading = mode == L"read";
    // Write handles can also read, so that the file's size can be asked and
    // @fileread works on them too.
    HANDLE handle = CreateFileW(file.c_str(), reading ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                reading ? OPEN_EXISTING : mode == L"write" ? CREATE_ALWAYS : OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        result = L"-1";
        return 0;
    }
    // The byte-order mark, if any, decides how @fileread decodes the file;
    // reading starts after it.
    char start[3] = {};
    DWORD got = 0;
    ReadFile(handle, start, sizeof start, &got, nullptr);
    size_t mark = 0;
    TextEncoding encoding = DetectEncoding(start, got, &mark);
    const bool appending = mode == L"append";
    LARGE_INTEGER position{};
    position.QuadPart = appending ? 0 : LONGLONG(mark);
    SetFilePointerEx(handle, position, nullptr, appending ? FILE_END : FILE_BEGIN);
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    TheShell().fileEncodings[value] = encoding;
    result = std::to_wstring(value);
    return 0;
}

int FileReadFunction(std::wstring_view args, std::wstring& result)
{
    HANDLE handle = nullptr;
    if (!ParseHandle(args, handle))
        return Fail(L"fileread", L"Bad handle: \"" + Trim(args) + L"\"");
    auto& encodings = TheShell().fileEncodings;
    auto known = encodings.find(reinterpret_cast<uintptr_t>(handle));
    TextEncoding encoding = known == encodings.end() ? TextEncoding::Utf8 : known->second;
    std::wstring line;
    switch (ReadHandleLine(handle, encoding, line)) {
    case ReadStatus::Line:
        return Deliver(L"fileread", std::move(line), result);
    case ReadStatus::End:
        result = kEndOfFile;
        return 0;
    case ReadStatus::Error:
        break;
    }
    DWORD error = GetLastError();
    return Fail(L"fileread", L"Cannot read handle " + Trim(args) + L": " +
                              (error == ERROR_INSUFFICIENT_BUFFER ? std::wstring(L"the line is far too long")
                                                                  : SystemMessage(error)));
}

int FileCloseFunction(std::wstring_view args, std::wstring& result)
{
    HANDLE handle = nullptr;
    if (!ParseHandle(args, handle))
        return Fail(L"fileclose", L"Bad handle: \"" + Trim(args) + L"\"");
    TheShell().fileEncodings.erase(reinterpret_cast<uintptr_t>(handle));
    result = CloseHandle(handle) ? L"0" : L"-1";
    return 0;
}

// @fileseek[handle,offset[,method]]: moves the handle's position to offset
// from the start (method 0, the default), from where it is (1) or from the
// end (2). The new position, or -1 when the handle cannot be moved so.
int FileSeekFunction(std::wstring_view args, std::wstring& result)
{
    const size_t first = args.find(L',');
    const size_t second = first == std::wstring_view::npos ? first : args.find(L',', first + 1);
    HANDLE handle = nullptr;
    int64_t offset = 0, method = 0;
    if (first == std::wstring_view::npos || !ParseHandle(args.substr(0, first), handle))
        return Fail(L"fileseek", L"Bad handle: \"" + Trim(args.substr(0, first)) + L"\"");
    const std::wstring_view distance = args.substr(first + 1, second == std::wstring_view::npos ? second : second - first - 1);
    if (!ParseInteger(TrimView(distance), offset))
        return Fail(L"fileseek", L"Bad offset: \"" + Trim(distance) + L"\"");
    if (second != std::wstring_view::npos &&
        (!ParseInteger(TrimView(args.substr(second + 1)), method) || method < 0 || method > 2))
        return Fail(L"fileseek", L"Bad method: \"" + Trim(args.substr(second + 1)) + L"\" (0, 1 or 2)");
    LARGE_INTEGER distanceMoved{}, position{};
    distanceMoved.QuadPart = offset;
    const DWORD methods[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
    result = SetFilePointerEx(handle, distanceMoved, &position, methods[method]) ? std::to_wstring(position.QuadPart)
                                                                                 : L"-1";
    return 0;
}

struct ShellFunction {
    const wchar_t* name;
    int (*call)(std::wstring_view args, std::wstring& result);
};

const ShellFunction kFunctions[] = {
    {L"option", OptionFunction},     {L"path", PathFunction},           {L"eval", EvalFunction},
    {L"line", LineFunction},         {L"fileopen", FileOpenFunction},   {L"fileread", FileReadFunction},
    {L"fileclose", FileCloseFunction}, {L"fileseek", FileSeekFunction},
};

const wchar_t* const kShellVariables[] = {L"_batch",      L"_batchline", L"_batchname", L"_cmdspec",
                                     L"_codepage",   L"_expansion", L"_pipe",      L"_transient"};

} // namespace

bool ShellVariable(std::wstring_view name, std::wstring& value)
{
    const Shell& shell = TheShell();
    const BatchFrame* batch = CurrentBatch();
    if (IEquals(name, L"_batch"))
        value = std::to_wstring(shell.batches.size());
    else if (IEquals(name, L"_batchline"))
        value = std::to_wstring(batch != nullptr ? batch->line : 0);
    else if (IEquals(name, L"_batchname"))
        value = batch != nullptr ? batch->fullPath : std::wstring();
    else if (IEquals(name, L"_cmdspec"))
        value = ModuleFileName(nullptr);
    else if (IEquals(name, L"_codepage"))
        value = std::to_wstring(shell.options.codePage);
    else if (IEquals(name, L"_expansion"))
        value = shell.expansion.Text();
    else if (IEquals(name, L"_pipe"))
        value = shell.pipe;
    else if (IEquals(name, L"_transient"))
        value = shell.transient;
    else
        return false;
    return true;
}

int CallShellFunction(std::wstring_view name, std::wstring_view args, std::wstring& result, bool& found)
{
    for (const ShellFunction& function : kFunctions) {
        if (IEquals(name, function.name)) {
            found = true;
            result.clear();
            return function.call(args, result);
        }
    }
    found = false;
    return 1;
}

std::wstring ShellFunctionNames()
{
    std::wstring names;
    for (const ShellFunction& function : kFunctions)
        names += (names.empty() ? L"@" : L" @") + std::wstring(function.name);
    for (const wchar_t* variable : kShellVariables)
        names += L" " + std::wstring(variable);
    return names;
}

} // namespace ivsh
