// The shell program: its command line, the modes it runs in, and the
// interactive prompt.
#include <string>
#include <utility>
#include <vector>

#define TAKECMD_API
#include "ivro_platform.h"
#include "shell/commands.h"
#include "shell/host_api.h"
#include "shell/module.h"
#include "shell/output.h"
#include "shell/state.h"

namespace ivsh {

namespace {

constexpr wchar_t kUsage[] =
    L"Usage: ivsh [-m MODULE] [-o NAME=VALUE]... [-c LINE | -i | [-k] FILE [ARG...]]\r\n"
    L"  -m MODULE      load MODULE instead of " IVRO_FILE_NAME " beside the shell\r\n"
    L"  -o NAME=VALUE  set an option before the module loads (see OPTION)\r\n"
    L"  -c LINE        run LINE (the rest of the arguments, joined by blanks) and exit\r\n"
    L"  -i             read lines from standard input (the default without FILE)\r\n"
    L"  FILE [ARG...]  run the batch file FILE: %0 is FILE, %1 to %9 and %* its ARGs\r\n"
    L"  -k             after FILE, go on reading lines as -i does\r\n";

enum class Mode { Interactive, Line, File };

int UsageError(const std::wstring& text)
{
    Message(text);
    WriteText(GetStdHandle(STD_ERROR_HANDLE), kUsage);
    return 1;
}

// Rebuilds argument text from separate arguments, quoting those that need it.
std::wstring JoinArguments(int first, int argc, LPWSTR* argv)
{
    std::wstring text;
    for (int i = first; i < argc; ++i) {
        std::wstring arg = argv[i] != nullptr ? argv[i] : L"";
        bool quote = arg.empty() || arg.find_first_of(L" \t") != std::wstring::npos;
        if (!text.empty())
            text += L' ';
        text += quote ? L"\"" + arg + L"\"" : arg;
    }
    return text;
}

// Reads one line from the console or from a file or pipe (UTF-8). False at
// the end of the input.
bool ReadInputLine(HANDLE input, bool console, std::wstring& line)
{
    line.clear();
    if (!console)
        return ReadHandleLine(input, TextEncoding::Utf8, line) == ReadStatus::Line;
    wchar_t buffer[1024];
    while (line.empty() || line.back() != L'\n') {
        DWORD got = 0;
        if (!ReadConsoleW(input, buffer, DWORD(std::size(buffer)), &got, nullptr) || got == 0)
            break;
        line.append(buffer, got);
    }
    if (line.empty() || line[0] == 0x1A) // Ctrl+Z ends console input
        return false;
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r'))
        line.pop_back();
    return true;
}

int RunInteractive()
{
    Shell& shell = TheShell();
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(input, &mode) != 0;
    std::wstring line;
    for (bool first = true;; first = false) {
        if (console) {
            std::wstring directory(PLUGIN_TRUE_NAME_LEN, L'\0');
            directory.resize(GetCurrentDirectoryW(DWORD(directory.size()), directory.data()));
            WriteOut(directory + L"> ");
        }
        if (!ReadInputLine(input, console, line))
            break;
        if (first && !line.empty() && line[0] == 0xFEFF) // a UTF-8 byte-order mark
            line.erase(0, 1);
        RunLine(line);
        if (shell.exitRequested)
            break;
    }
    return shell.lastResult;
}

int Main(int argc, LPWSTR* argv)
{
    Shell& shell = TheShell();
    std::wstring module;
    std::vector<std::pair<std::wstring, std::wstring>> options;
    Mode mode = Mode::Interactive;
    std::wstring line, file, fileArgs;
    bool keepReading = false;

    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i] != nullptr ? argv[i] : L"";
        if (arg == L"-m" || arg == L"-o" || arg == L"-c") {
            if (i + 1 >= argc)
                return UsageError(L"Missing value after " + arg);
            std::wstring value = argv[++i] != nullptr ? argv[i] : L"";
            if (arg == L"-m") {
                module = value;
            } else if (arg == L"-o") {
                size_t equals = value.find(L'=');
                if (equals == std::wstring::npos)
                    return UsageError(L"Expected NAME=VALUE after -o: " + value);
                options.emplace_back(value.substr(0, equals), value.substr(equals + 1));
            } else {
                mode = Mode::Line;
                line = value;
                if (i + 1 < argc) // the line came as several words
                    line += L" " + JoinArguments(i + 1, argc, argv);
                break;
            }
        } else if (arg == L"-i") {
            mode = Mode::Interactive;
        } else if (arg == L"-k") {
            keepReading = true;
        } else if (arg == L"-h" || arg == L"-?" || arg == L"/?" || arg == L"--help") {
            WriteOut(kUsage);
            return 0;
        } else if (arg.size() > 1 && arg[0] == L'-') {
            return UsageError(L"Unknown option: " + arg);
        } else {
            mode = Mode::File;
            file = arg;
            fileArgs = JoinArguments(i + 1, argc, argv);
            break;
        }
    }

    shell.exitRequested = false;
    shell.transient = mode == Mode::Line ? L"1" : L"0";
    for (const auto& [name, value] : options) {
        std::wstring error;
        if (!SetOption(name, value, error)) {
            Message(error);
            return 1;
        }
    }
    if (LoadModule(module.c_str()) != 0)
        return 1;

    int result = 0;
    switch (mode) {
    case Mode::Line:
        result = RunLine(line);
        break;
    case Mode::File:
        result = RunBatchFile(file, fileArgs);
        if (keepReading && !shell.exitRequested)
            result = RunInteractive();
        break;
    case Mode::Interactive:
        result = RunInteractive();
        break;
    }
    if (shell.exitRequested)
        result = shell.exitCode;
    UnloadModule();
    return result;
}

} // namespace

} // namespace ivsh

extern "C" int WINAPI HostMain(int argc, LPWSTR* argv)
{
    try {
        return ivsh::Main(argc, argv);
    } catch (...) {
        ivsh::Message(L"Out of memory");
        return 1;
    }
}
