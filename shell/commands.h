// Running command lines, commands and batch files.
#pragma once

#include <string_view>

namespace ivsh {

// Runs one line: blank lines, comments ("::") and labels (":name") are
// skipped and a leading "@" is dropped; the rest is split at the command
// separator, and each command has its redirections set up, is expanded and
// run. A command whose expansion or redirection fails is not run, and the rest
// of the line is abandoned. Returns the result of the last command run (the
// previous result when none ran), which also becomes the shell's last result.
int RunLine(std::wstring_view line);

// Runs the batch file `name` with the argument text `args` (split at blanks,
// double quotes grouping and kept). Returns the result of its last command.
int RunBatchFile(std::wstring_view name, std::wstring_view args);

} // namespace ivsh
