// The shell's state: options, the expansion setting, internal variables, the
// batch files being run, and the shell's own messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "shell/text.h"

namespace ivsh {

// Settings that the `option` command and `-o` change; each takes effect with
// the next command or call.
struct Options {
    wchar_t commandSep = L'&';
    wchar_t escapeChar = L'^';
    bool utf8Output = false;
    bool unicodeOutput = false;
    UINT codePage = 0; // the console's output code page, else the OEM one
};

// Kinds of expansion that `setdos /X` can disable. Kinds 1 (aliases), 5 and 9
// are only recorded: this shell has nothing for them to switch off.
enum ExpansionKind : int {
    kNestedArguments = 2, // variables inside function arguments
    kVariables = 3,       // every %-expansion, functions included
    kCommandSeparator = 4,
    kRedirection = 6,
    kQuotes = 7,          // double quotes protect separators and redirections
    kEscapes = 8,         // the escape character
};

// The set of disabled expansion kinds, 1 to 9.
class ExpansionSetting {
public:
    bool Disabled(int kind) const { return (bits_ >> kind) & 1u; }
    // The disabled kinds as ascending digits; empty when none is disabled.
    std::wstring Text() const;
    // Applies a `/X` value: a leading run of digits sets exactly those kinds
    // disabled ("0" alone: none), then "-digits" disables and "+digits"
    // enables, in any order. Returns false and changes nothing on bad syntax.
    bool Apply(std::wstring_view value);

private:
    unsigned bits_ = 0;
};

// One batch file being run.
struct BatchFrame {
    std::wstring name;                 // as it was invoked: messages and %0
    std::wstring fullPath;             // _batchname
    std::vector<std::wstring> args;    // %0 .. %n
    std::wstring allArgs;              // %*
    unsigned line = 0;                 // _batchline, 1-based
};

struct Shell {
    Options options;
    ExpansionSetting expansion;
    std::wstring transient = L"0";
    std::wstring pipe = L"0";
    // unique_ptr: a nested batch may grow the vector while an outer frame is
    // in use.
    std::vector<std::unique_ptr<BatchFrame>> batches;
    int lastResult = 0;
    bool exitRequested = false;
    int exitCode = 0;
    int nesting = 0;
    // Encoding of each handle that @fileopen returned, for @fileread.
    std::map<uintptr_t, TextEncoding> fileEncodings;
};

Shell& TheShell();
// The batch file being run, or nullptr.
BatchFrame* CurrentBatch();

// Writes a message of the shell itself to standard error: "ivsh: ", inside a
// batch file its name and line, then `text` and CR LF.
void Message(std::wstring_view text);

// Options by name (case-insensitive). SetOption checks the value and reports
// a bad name or value in `error`.
extern const wchar_t* const kOptionNames[5];
bool SetOption(std::wstring_view name, std::wstring_view value, std::wstring& error);
// The value as @option returns it: the character, "Yes"/"No", or the number.
bool GetOption(std::wstring_view name, std::wstring& value);

// Bounds the nesting of expansions, batch files and re-entrant commands, so
// that a file that calls itself or a deep pile of functions fails cleanly
// instead of exhausting the stack.
class NestingGuard {
public:
    NestingGuard();
    ~NestingGuard();
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    // False (after a message) when the limit is reached.
    bool Ok() const { return ok_; }

private:
    bool ok_;
};

} // namespace ivsh
