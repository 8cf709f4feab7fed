// Helpers of the shell's tests: they drive TakeCmd.dll through its exports
// and catch what it writes by pointing the standard handles at files.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "plugin/host.h"
#include "shell/host_api.h"

namespace shelltest {

struct Output {
    std::string out; // bytes written to standard output
    std::string err; // bytes written to standard error
};

// Runs `body` with standard output and standard error sent to files.
Output Capture(const std::function<void()>& body);

// A directory of this test run's own, and files in it.
std::wstring TempDir();
std::wstring TempPath(const std::wstring& name);
std::wstring WriteBytes(const std::wstring& name, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);

struct Expansion {
    int code = 0;
    std::wstring text;
    Output output;
};
// ExpandVariables on a copy of `text` in a buffer of PLUGIN_BUFFER_LEN units (or
// larger, for longer input).
Expansion Expand(const std::wstring& text);

struct LineRun {
    int code = 0;
    Output output;
};
// Command on a copy of `line`, output caught.
LineRun RunLine(const std::wstring& line);
// Command with output left alone, for settings; fails the test on error.
void Apply(const std::wstring& line);

// Text for failure messages: UTF-8, with control characters as \uXXXX.
std::string Show(const std::wstring& text);
std::string Utf8(const std::wstring& text);
std::string Utf16Bytes(const std::wstring& text);

// Every test starts from the default setting and options and leaves them so.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace shelltest
