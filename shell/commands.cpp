#include "shell/commands.h"

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "shell/expander.h"
#include "shell/functions.h"
#include "shell/module.h"
#include "shell/output.h"
#include "shell/state.h"

namespace ivsh {

namespace {

constexpr wchar_t kLineEnd[] = L"\r\n";

// ---------------------------------------------------------------------------
// Reading the literal text of a line

// Calls visit(i) for each unit of `text` that lies outside double quotes and
// outside the brackets of a function call, and is not escaped; stops when
// visit returns false. An unbalanced function call ends the scan: the
// expander reports it.
template <class Visit>
void ForEachActiveUnit(std::wstring_view text, Visit visit)
{
    const Shell& shell = TheShell();
    const bool quotes = !shell.expansion.Disabled(kQuotes);
    const bool escapes = !shell.expansion.Disabled(kEscapes);
    const wchar_t escape = shell.options.escapeChar;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (escapes && c == escape) {
            ++i;
            continue;
        }
        if (c == L'%' && i + 1 < text.size()) {
            if (text[i + 1] == L'%') {
                ++i;
                continue;
            }
            size_t end = FunctionCallEnd(text, i);
            if (end == std::wstring_view::npos)
                return;
            if (end != 0) {
                i = end - 1;
                continue;
            }
        }
        if (quotes && c == L'"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && !visit(i))
            return;
    }
}

std::vector<std::wstring_view> SplitCommands(std::wstring_view line)
{
    std::vector<std::wstring_view> commands;
    size_t start = 0;
    const Shell& shell = TheShell();
    if (!shell.expansion.Disabled(kCommandSeparator)) {
        const wchar_t separator = shell.options.commandSep;
        ForEachActiveUnit(line, [&](size_t i) {
            // ">&" belongs to a redirection such as 2>&1.
            if (line[i] == separator && !(i > 0 && line[i - 1] == L'>')) {
                commands.push_back(line.substr(start, i - start));
                start = i + 1;
            }
            return true;
        });
    }
    commands.push_back(line.substr(start));
    return commands;
}

// First word of `text` (double quotes group, and are removed) and what
// follows it, the separating blanks included.
std::wstring FirstWord(std::wstring_view text, std::wstring_view& rest)
{
    text = SkipBlanks(text);
    size_t end = 0;
    std::wstring word;
    bool quoted = false;
    for (; end < text.size() && (quoted || !IsBlank(text[end])); ++end) {
        if (text[end] == L'"')
            quoted = !quoted;
        else
            word += text[end];
    }
    rest = text.substr(end);
    return word;
}

// Batch arguments: blank-separated words; double quotes group and are kept.
std::vector<std::wstring> SplitArguments(std::wstring_view text)
{
    std::vector<std::wstring> words;
    size_t i = 0;
    while (true) {
        while (i < text.size() && IsBlank(text[i]))
            ++i;
        if (i == text.size())
            break;
        size_t start = i;
        bool quoted = false;
        for (; i < text.size() && (quoted || !IsBlank(text[i])); ++i)
            if (text[i] == L'"')
                quoted = !quoted;
        words.emplace_back(text.substr(start, i - start));
    }
    return words;
}

// ---------------------------------------------------------------------------
// Redirection

struct Redirection {
    DWORD stream; // STD_OUTPUT_HANDLE or STD_ERROR_HANDLE
    bool append;
    std::wstring target; // as written; "&1" and "&2" name the other stream
};

// Takes the redirections (>file >>file 1>file 2>file 2>>file 2>&1 >&2) out of
// a command's literal text. False after a message when one lacks its file.
bool TakeRedirections(std::wstring_view command, std::wstring& rest, std::vector<Redirection>& redirections)
{
    rest = command;
    if (TheShell().expansion.Disabled(kRedirection))
        return true;
    const size_t n = command.size();
    std::vector<std::pair<size_t, size_t>> cuts;
    size_t skipUntil = 0;
    bool ok = true;
    ForEachActiveUnit(command, [&](size_t i) {
        if (i < skipUntil || command[i] != L'>')
            return true;
        Redirection redirection{STD_OUTPUT_HANDLE, false, {}};
        size_t begin = i;
        if (i > 0 && (command[i - 1] == L'1' || command[i - 1] == L'2') && (i == 1 || IsBlank(command[i - 2]))) {
            begin = i - 1;
            if (command[i - 1] == L'2')
                redirection.stream = STD_ERROR_HANDLE;
        }
        size_t j = i + 1;
        if (j < n && command[j] == L'>') {
            redirection.append = true;
            ++j;
        }
        while (j < n && IsBlank(command[j]))
            ++j;
        if (j < n && command[j] == L'"') {
            size_t close = command.find(L'"', j + 1);
            size_t stop = close == std::wstring_view::npos ? n : close;
            redirection.target = command.substr(j + 1, stop - j - 1);
            j = stop == n ? n : stop + 1;
        } else {
            size_t k = j;
            while (k < n && !IsBlank(command[k]) && command[k] != L'>' && command[k] != L'<') {
                size_t end = FunctionCallEnd(command, k);
                k = (end != 0 && end != std::wstring_view::npos) ? end : k + 1;
            }
            redirection.target = command.substr(j, k - j);
            j = k;
        }
        if (redirection.target.empty()) {
            Message(L"Missing file name after >");
            ok = false;
            return false;
        }
        redirections.push_back(std::move(redirection));
        cuts.emplace_back(begin, j);
        skipUntil = j;
        return true;
    });
    if (!ok)
        return false;
    rest.clear();
    size_t from = 0;
    for (const auto& cut : cuts) {
        rest.append(command.substr(from, cut.first - from));
        from = cut.second;
    }
    rest.append(command.substr(from));
    return true;
}

// Points the standard handles at the redirection targets for the life of one
// command, then puts the old handles back and closes the files.
class Redirector {
public:
    Redirector() = default;
    Redirector(const Redirector&) = delete;
    Redirector& operator=(const Redirector&) = delete;

    ~Redirector()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            SetStdHandle(it->first, it->second);
        for (HANDLE file : opened_)
            CloseHandle(file);
    }

    // False after a message when the target cannot be opened.
    bool Apply(const Redirection& redirection)
    {
        HANDLE handle;
        if (redirection.target == L"&1" || redirection.target == L"&2") {
            handle = GetStdHandle(redirection.target == L"&1" ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
        } else {
            std::wstring name;
            if (ExpandText(redirection.target, name) != 0)
                return false;
            if (TrimView(name).empty()) {
                Message(L"Missing file name after >");
                return false;
            }
            handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, redirection.append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
            if (handle == INVALID_HANDLE_VALUE) {
                Message(L"Cannot open " + name + L" for output: " + SystemMessage(GetLastError()));
                return false;
            }
            opened_.push_back(handle);
            if (redirection.append) {
                LARGE_INTEGER zero{};
                SetFilePointerEx(handle, zero, nullptr, FILE_END);
            }
        }
        saved_.emplace_back(redirection.stream, GetStdHandle(redirection.stream));
        SetStdHandle(redirection.stream, handle);
        return true;
    }

private:
    std::vector<std::pair<DWORD, HANDLE>> saved_;
    std::vector<HANDLE> opened_;
};

// ---------------------------------------------------------------------------
// Built-in commands

int Echo(std::wstring_view args)
{
    if (!args.empty() && IsBlank(args[0]))
        args.remove_prefix(1);
    std::wstring_view word = TrimView(args);
    if (IEquals(word, L"on") || IEquals(word, L"off"))
        return 0;
    WriteOut(std::wstring(args) + kLineEnd);
    return 0;
}

std::wstring EnvironmentValue(const std::wstring& name, bool& defined)
{
    std::wstring value(256, L'\0');
    for (;;) {
        SetLastError(0);
        DWORD length = GetEnvironmentVariableW(name.c_str(), value.data(), DWORD(value.size()));
        if (length < value.size()) {
            defined = length != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

int Set(std::wstring_view args)
{
    std::wstring_view text = SkipBlanks(args);
    if (TrimView(text).empty()) {
        std::wstring listing;
        if (wchar_t* block = GetEnvironmentStringsW()) {
            for (const wchar_t* entry = block; *entry != 0; entry += wcslen(entry) + 1)
                if (entry[0] != L'=') // the per-drive current directories
                    listing += std::wstring(entry) + kLineEnd;
            FreeEnvironmentStringsW(block);
        }
        WriteOut(listing);
        return 0;
    }
    size_t equals = text.find(L'=');
    std::wstring name = Trim(text.substr(0, equals));
    if (name.empty()) {
        Message(L"Missing variable name: " + std::wstring(text));
        return 1;
    }
    if (equals == std::wstring_view::npos) {
        bool defined = false;
        std::wstring value = EnvironmentValue(name, defined);
        if (!defined) {
            Message(L"Not in environment: " + name);
            return 1;
        }
        WriteOut(name + L"=" + value + kLineEnd);
        return 0;
    }
    std::wstring value(text.substr(equals + 1));
    if (!SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str()) && !value.empty()) {
        Message(L"Cannot set " + name + L": " + SystemMessage(GetLastError()));
        return 1;
    }
    return 0;
}

int Setdos(std::wstring_view args)
{
    Shell& shell = TheShell();
    std::wstring_view rest = TrimView(args);
    if (rest.empty()) {
        std::wstring setting = shell.expansion.Text();
        WriteOut(L"/X" + (setting.empty() ? std::wstring(L"0") : setting) + kLineEnd);
        return 0;
    }
    ExpansionSetting setting = shell.expansion;
    while (!rest.empty()) {
        std::wstring word = FirstWord(rest, rest);
        rest = SkipBlanks(rest);
        if (word.size() < 2 || word[0] != L'/' || (word[1] != L'x' && word[1] != L'X')) {
            Message(L"Unknown SETDOS switch: " + word + L" (only /X is known)");
            return 1;
        }
        if (!setting.Apply(std::wstring_view(word).substr(2))) {
            Message(L"Bad expansion setting: " + word);
            return 1;
        }
    }
    shell.expansion = setting;
    return 0;
}

int Option(std::wstring_view args)
{
    std::wstring_view text = TrimView(args);
    std::wstring value;
    if (text.empty()) {
        std::wstring listing;
        for (const wchar_t* name : kOptionNames) {
            GetOption(name, value);
            listing += std::wstring(name) + L"=" + value + kLineEnd;
        }
        WriteOut(listing);
        return 0;
    }
    size_t equals = text.find(L'=');
    std::wstring name = Trim(text.substr(0, equals));
    if (equals == std::wstring_view::npos) {
        if (!GetOption(name, value)) {
            Message(L"Unknown option: " + name);
            return 1;
        }
        WriteOut(Lower(name) + L"=" + value + kLineEnd);
        return 0;
    }
    std::wstring error;
    if (!SetOption(name, text.substr(equals + 1), error)) {
        Message(error);
        return 1;
    }
    return 0;
}

int Rem(std::wstring_view)
{
    return TheShell().lastResult;
}

int Exit(std::wstring_view args)
{
    Shell& shell = TheShell();
    std::wstring text = Trim(args);
    int code = shell.lastResult;
    if (!text.empty()) {
        int64_t value = 0;
        if (!ParseInteger(text, value) || value < INT_MIN || value > INT_MAX) {
            Message(L"Bad exit code: " + text);
            return 1;
        }
        code = int(value);
    }
    shell.exitRequested = true;
    shell.exitCode = code;
    return code;
}

int Call(std::wstring_view args)
{
    std::wstring_view rest;
    std::wstring name = FirstWord(args, rest);
    if (name.empty()) {
        Message(L"Missing batch file name");
        return 1;
    }
    return RunBatchFile(name, rest);
}

int Cd(std::wstring_view args)
{
    std::wstring directory = Unquote(args);
    if (directory.empty()) {
        std::wstring current(PLUGIN_TRUE_NAME_LEN, L'\0');
        current.resize(GetCurrentDirectoryW(DWORD(current.size()), current.data()));
        WriteOut(current + kLineEnd);
        return 0;
    }
    if (!SetCurrentDirectoryW(directory.c_str())) {
        Message(L"Cannot change to " + directory + L": " + SystemMessage(GetLastError()));
        return 1;
    }
    return 0;
}

int Help(std::wstring_view args);

struct Builtin {
    const wchar_t* name;
    int (*run)(std::wstring_view args);
    const wchar_t* syntax;
};

const Builtin kBuiltins[] = {
    {L"call", Call, L"CALL file [arguments]"},
    {L"cd", Cd, L"CD [directory]"},
    {L"echo", Echo, L"ECHO [text | ON | OFF]"},
    {L"exit", Exit, L"EXIT [code]"},
    {L"help", Help, L"HELP [name]"},
    {L"option", Option, L"OPTION [name[=value]]"},
    {L"rem", Rem, L"REM [comment]"},
    {L"set", Set, L"SET [name[=[value]]]"},
    {L"setdos", Setdos, L"SETDOS [/X[digits][-digits][+digits]]"},
};

int Help(std::wstring_view args)
{
    std::wstring name = Trim(args);
    if (name.empty()) {
        std::wstring commands;
        for (const Builtin& builtin : kBuiltins)
            commands += L" " + std::wstring(builtin.name);
        std::wstring text = L"Commands:" + commands + kLineEnd + L"Functions and variables: " +
                            ShellFunctionNames() + kLineEnd;
        std::wstring features = ModuleFeatures();
        if (!features.empty()) {
            for (wchar_t& c : features)
                if (c == L',')
                    c = L' ';
            text += L"Module: " + features + kLineEnd;
        }
        WriteOut(text);
        return 0;
    }
    if (HelpProc help = ModuleHelp()) {
        std::wstring buffer = name;
        if (help(buffer.data()) != 0)
            return 0;
    }
    for (const Builtin& builtin : kBuiltins) {
        if (IEquals(name, builtin.name)) {
            WriteOut(std::wstring(builtin.syntax) + kLineEnd);
            return 0;
        }
    }
    Message(L"No help for " + name);
    return 1;
}

bool IsBatchName(std::wstring_view name)
{
    if (name.size() < 4)
        return false;
    std::wstring_view extension = name.substr(name.size() - 4);
    return IEquals(extension, L".btm") || IEquals(extension, L".bat") || IEquals(extension, L".cmd");
}

// Runs one expanded command.
int Execute(std::wstring_view text)
{
    text = SkipBlanks(text);
    if (!text.empty() && text[0] == L'*')
        text.remove_prefix(1);
    std::wstring_view args;
    std::wstring name;
    if (!text.empty() && text[0] == L'"') {
        name = FirstWord(text, args);
    } else {
        size_t end = 0;
        while (end < text.size() && !IsBlank(text[end]))
            ++end;
        name = text.substr(0, end);
        args = text.substr(end);
    }
    if (name.empty())
        return 0;

    if (BufferProc command = ModuleCommand(name)) {
        std::wstring usage;
        if (TrimView(args) == L"/?" && ModuleUsageText(name, usage)) {
            WriteOut(usage);
            return 0;
        }
        return CallBufferExport(command, name, args, nullptr);
    }
    for (const Builtin& builtin : kBuiltins) {
        if (IEquals(name, builtin.name)) {
            if (TrimView(args) == L"/?") {
                WriteOut(std::wstring(builtin.syntax) + kLineEnd);
                return 0;
            }
            return builtin.run(args);
        }
    }
    if (IsBatchName(name))
        return RunBatchFile(name, args);
    Message(L"Unknown command: " + name);
    return 1;
}

// Runs one command of a line. `abandon` is set when the rest of the line must
// not run.
int RunCommand(std::wstring_view command, bool& abandon)
{
    std::wstring text;
    std::vector<Redirection> redirections;
    if (!TakeRedirections(command, text, redirections)) {
        abandon = true;
        return 1;
    }
    Redirector redirector;
    for (const Redirection& redirection : redirections) {
        if (!redirector.Apply(redirection)) {
            abandon = true;
            return 1;
        }
    }
    std::wstring expanded;
    if (int code = ExpandText(text, expanded)) {
        abandon = true;
        return code;
    }
    return Execute(expanded);
}

} // namespace

int RunLine(std::wstring_view line)
{
    Shell& shell = TheShell();
    // An exit that nothing above took up (a caller outside the shell program
    // ran it) does not stop later lines.
    if (shell.nesting == 0)
        shell.exitRequested = false;
    NestingGuard guard;
    if (!guard.Ok())
        return shell.lastResult = 1;

    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r'))
        line.remove_suffix(1);
    std::wstring_view text = SkipBlanks(line);
    if (text.empty() || text[0] == L':')
        return shell.lastResult;
    if (text[0] == L'@')
        text = SkipBlanks(text.substr(1));

    for (std::wstring_view command : SplitCommands(text)) {
        if (TrimView(command).empty())
            continue;
        bool abandon = false;
        shell.lastResult = RunCommand(command, abandon);
        if (abandon || shell.exitRequested)
            break;
    }
    return shell.lastResult;
}

int RunBatchFile(std::wstring_view nameText, std::wstring_view args)
{
    NestingGuard guard;
    if (!guard.Ok())
        return 1;
    Shell& shell = TheShell();
    std::wstring name = Unquote(nameText);
    std::wstring fullPath = FullPath(name);
    std::vector<std::wstring> lines;
    if (DWORD error = ReadTextLines(fullPath, lines)) {
        Message(L"Cannot read the batch file " + name + L": " + SystemMessage(error));
        return 1;
    }

    auto frame = std::make_unique<BatchFrame>();
    frame->name = name;
    frame->fullPath = fullPath;
    frame->args = SplitArguments(args);
    frame->args.insert(frame->args.begin(), name);
    frame->allArgs = Trim(args);
    BatchFrame* batch = frame.get();
    shell.batches.push_back(std::move(frame));

    int result = shell.lastResult;
    for (size_t i = 0; i < lines.size() && !shell.exitRequested; ++i) {
        batch->line = unsigned(i + 1);
        result = RunLine(lines[i]);
    }
    shell.batches.pop_back();
    return result;
}

} // namespace ivsh
