// Command lines through Command: splitting, redirection, built-in and module
// commands, SETDOS and OPTION.
#include "shell_test.h"

namespace shelltest {
namespace {

using CommandTest = ShellTest;

struct LineCase {
    const wchar_t* line;
    const char* out;
    const char* err;
    int code;
};

const LineCase kLines[] = {
    {L"echo hi", "hi\r\n", "", 0},
    {L"echo", "\r\n", "", 0},
    {L"ECHO   two", "  two\r\n", "", 0},          // one separating blank is dropped
    {L"echo off", "", "", 0},
    {L"echo On", "", "", 0},
    {L"echo a & echo b", "a \r\nb\r\n", "", 0},
    {L"echo a&echo b&&echo c", "a\r\nb\r\nc\r\n", "", 0}, // empty commands are skipped
    {L"echo a^&b", "a&b\r\n", "", 0},
    {L"echo \"a & b\"", "\"a & b\"\r\n", "", 0},
    {L"echo %@probe[a & b]", "<a & b>\r\n", "", 0}, // no split inside function brackets
    {L"echo %@exp", "%@exp\r\n", "", 0},
    {L"*echo star", "star\r\n", "", 0},
    {L"  @echo at", "at\r\n", "", 0},
    {L":label & echo no", "", "", 0},
    {L":: comment & echo no", "", "", 0},
    {L"rem x & echo y", "y\r\n", "", 0},
    {L"", "", "", 0},
    {L"%IVSH_UNSET%", "", "", 0},                  // expands to no command at all
    {L"nosuch x", "", "ivsh: Unknown command: nosuch\r\n", 1},
    {L"missingcmd", "", "ivsh: Unknown command: missingcmd\r\n", 1}, // named, not exported
    {L"probecmd  two blanks", "[  two blanks]", "", 0}, // argument text as it stands
    {L"PROBECMD", "[]", "", 0},
    {L"probecmd fail", "[ fail]", "", 3},            // the export's result is the command's
    {L"probecmd /?", "PROBECMD [text]\r\n", "", 0},   // the module's Usage
    {L"probecmd /? x", "[ /? x]", "", 0},
    {L"echo /?", "ECHO [text | ON | OFF]\r\n", "", 0},
    {L"setdos /?", "SETDOS [/X[digits][-digits][+digits]]\r\n", "", 0},
    {L"help probecmd", "help on probecmd\r\n", "", 0},
    {L"help nosuch", "", "ivsh: No help for nosuch\r\n", 1},
    {L"help SET", "SET [name[=[value]]]\r\n", "", 0},          // the module has none: the syntax
    {L"echo %@fail[x] & echo after", "", "probe: failing on purpose: x\r\n", -1},
    {L"echo %@nosuch[] & echo after", "", "ivsh: Unknown function: @nosuch\r\n", 1},
    {L"nosuch & echo after", "after\r\n", "ivsh: Unknown command: nosuch\r\n", 0},
    {L"echo %@probe[%@run[echo inner]] outer", "inner\r\n<ran:0> outer\r\n", "", 0}, // Command inside a call
    {L"exit 5 & echo not run", "", "", 5},
    {L"exit x", "", "ivsh: Bad exit code: x\r\n", 1},
    {L"call", "", "ivsh: Missing batch file name\r\n", 1},
    {L"call nosuch.btm", "", "ivsh: Cannot read the batch file nosuch.btm: ", 1}, // then the system's reason
};

TEST_F(CommandTest, RunsLines)
{
    for (const LineCase& c : kLines) {
        LineRun run = RunLine(c.line);
        EXPECT_EQ(run.output.out, c.out) << Show(c.line);
        EXPECT_EQ(run.output.err.substr(0, strlen(c.err)), c.err) << Show(c.line);
        if (c.err[0] == 0) {
            EXPECT_EQ(run.output.err, "") << Show(c.line);
        }
        EXPECT_EQ(run.code, c.code) << Show(c.line);
    }
}

TEST_F(CommandTest, SettingChangesHowLinesSplit)
{
    struct {
        const wchar_t* setting;
        const wchar_t* line;
        const char* out;
    } const cases[] = {
        {L"setdos /X4", L"echo a & echo b", "a & echo b\r\n"},
        {L"setdos /X6", L"echo a > b", "a > b\r\n"},
        {L"setdos /X8", L"echo a^&echo b", "a^\r\nb\r\n"},
        {L"setdos /X7", L"echo \"a&echo b\"", "\"a\r\nb\"\r\n"},
        {L"option commandsep=~", L"echo a & b~echo c", "a & b\r\nc\r\n"},
        {L"option escapechar=!", L"echo a!~b ^ !!", "a~b ^ !\r\n"},
    };
    for (const auto& c : cases) {
        Apply(c.setting);
        LineRun run = RunLine(c.line);
        EXPECT_EQ(run.output.out, c.out) << Show(c.setting) << " " << Show(c.line);
        TearDown();
    }
}

TEST_F(CommandTest, SetChangesTheProcessEnvironment)
{
    EXPECT_EQ(RunLine(L"set IVSH_T= v a l ").code, 0);
    wchar_t value[64] = {};
    GetEnvironmentVariableW(L"IVSH_T", value, 64);
    EXPECT_STREQ(value, L" v a l ");                 // the value verbatim after "="
    EXPECT_EQ(RunLine(L"set ivsh_t").output.out, "ivsh_t= v a l \r\n");
    EXPECT_NE(RunLine(L"set").output.out.find("IVSH_T= v a l \r\n"), std::string::npos);
    EXPECT_EQ(RunLine(L"set IVSH_T=").code, 0);
    EXPECT_EQ(GetEnvironmentVariableW(L"IVSH_T", value, 64), 0u);
    LineRun missing = RunLine(L"set IVSH_T");
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.output.err, "ivsh: Not in environment: IVSH_T\r\n");
    EXPECT_EQ(RunLine(L"set =x").code, 1);
}

// What %_expansion reports, given back to SETDOS /X (or "0" when empty),
// restores the setting exactly, whatever was done in between. (With kind 3
// off, %_expansion is not expanded at all, so no setting with 3 is here.)
TEST_F(CommandTest, ExpansionSettingRoundTrips)
{
    for (const wchar_t* start : {L"0", L"1478", L"2", L"12456789", L"5", L"9"}) {
        Apply(std::wstring(L"setdos /X") + start);
        std::wstring saved = Expand(L"%_expansion").text;
        Apply(L"*setdos /x-1478+3");
        EXPECT_EQ(Expand(L"%_expansion").text.find(L'3'), std::wstring::npos);
        Apply(L"setdos /X" + (saved.empty() ? std::wstring(L"0") : saved));
        EXPECT_EQ(Expand(L"%_expansion").text, saved) << "start " << Show(start);
        EXPECT_EQ(RunLine(L"setdos").output.out, "/X" + Utf8(saved.empty() ? L"0" : saved) + "\r\n");
        Apply(L"setdos /X0");
    }
}

TEST_F(CommandTest, SetdosApplies)
{
    struct {
        const wchar_t* start;
        const wchar_t* command;
        const wchar_t* expansion; // afterwards; the start again when the command fails
        bool ok;
    } const cases[] = {
        {L"0", L"setdos /X1478", L"1478", true},
        {L"1478", L"setdos /X0", L"", true},
        {L"0", L"setdos /X-1478+3", L"1478", true},
        {L"3", L"setdos /x-1478+3", L"1478", true},
        {L"12", L"setdos /X+1-9", L"29", true},
        {L"5", L"setdos /X-2", L"25", true},
        {L"0", L"setdos /X1 /X-2", L"12", true},
        {L"0", L"setdos /X10", L"1", true},
        {L"0", L"setdos /X4", L"4", true},
        {L"4", L"setdos /X", L"4", false},
        {L"4", L"setdos /Xa", L"4", false},
        {L"4", L"setdos /X-", L"4", false},
        {L"4", L"setdos /X1-", L"4", false},
        {L"4", L"setdos /X+1x", L"4", false},
        {L"4", L"setdos /X1 /Y", L"4", false},        // nothing changes when a switch is bad
        {L"4", L"setdos X1", L"4", false},
    };
    for (const auto& c : cases) {
        Apply(std::wstring(L"setdos /X") + c.start);
        LineRun run = RunLine(c.command);
        EXPECT_EQ(run.code == 0, c.ok) << Show(c.command) << run.output.err;
        EXPECT_EQ(run.output.err.empty(), c.ok) << Show(c.command);
        EXPECT_EQ(Expand(L"%_expansion").text, c.expansion) << Show(c.command);
        Apply(L"setdos /X0");
    }
}

TEST_F(CommandTest, OptionsChangeAndReport)
{
    struct {
        const wchar_t* command;
        const wchar_t* query;
        const wchar_t* value;
    } const cases[] = {
        {L"option commandsep=~", L"%@option[commandsep]", L"~"},
        {L"option COMMANDSEP = ; ", L"%@option[commandsep]", L";"},
        {L"option escapechar=!", L"%@option[escapechar]", L"!"},
        {L"option utf8output=yes", L"%@option[utf8output]", L"Yes"},
        {L"option unicodeoutput=on", L"%@option[unicodeoutput]", L"Yes"},
        {L"option codepage=1252", L"%@option[codepage]%_codepage", L"12521252"},
        {L"option codepage=65001", L"%_codepage", L"65001"},
    };
    for (const auto& c : cases) {
        LineRun run = RunLine(c.command);
        EXPECT_EQ(run.code, 0) << Show(c.command) << run.output.err;
        EXPECT_EQ(Expand(c.query).text, c.value) << Show(c.command);
        TearDown();
    }
    EXPECT_EQ(RunLine(L"option utf8output").output.out, "utf8output=No\r\n");
    LineRun list = RunLine(L"option");
    EXPECT_NE(list.output.out.find("commandsep=&\r\nescapechar=^\r\nutf8output=No\r\nunicodeoutput=No\r\ncodepage="),
              std::string::npos)
        << list.output.out;
}

TEST_F(CommandTest, BadOptionsAreRefused)
{
    for (const wchar_t* command : {L"option commandsep=ab", L"option commandsep=a", L"option commandsep=5",
                                   L"option commandsep=", L"option escapechar=", L"option escapechar=ab",
                                   L"option utf8output=maybe", L"option codepage=0", L"option codepage=12345678",
                                   L"option codepage=abc", L"option codepage=-437", L"option nosuch=1",
                                   L"option nosuch"}) {
        LineRun run = RunLine(command);
        EXPECT_EQ(run.code, 1) << Show(command);
        EXPECT_EQ(run.output.err.substr(0, 6), "ivsh: ") << Show(command);
    }
    EXPECT_EQ(Expand(L"%@option[commandsep]%@option[escapechar]%@option[utf8output]").text, L"&^No");
}

class RedirectTest : public ShellTest {
protected:
    std::wstring file_ = TempPath(L"redirect.txt");
    std::wstring Quoted() const { return L"\"" + file_ + L"\""; }
};

TEST_F(RedirectTest, SendsOutputToFiles)
{
    // The redirection leaves the blanks around it in the command.
    LineRun first = RunLine(L"echo one > " + Quoted() + L" & echo two>>" + Quoted());
    EXPECT_EQ(first.output.out, "");
    EXPECT_EQ(ReadBytes(file_), "one  \r\ntwo\r\n");
    // The module writes through the standard handle of the moment too.
    RunLine(L"probecmd x>>" + Quoted());
    EXPECT_EQ(ReadBytes(file_), "one  \r\ntwo\r\n[ x]");
    // Standard output is back afterwards.
    EXPECT_EQ(RunLine(L"echo back").output.out, "back\r\n");
}

TEST_F(RedirectTest, SendsErrorsToFiles)
{
    LineRun run = RunLine(L"nosuch 2>" + Quoted());
    EXPECT_EQ(run.output.err, "");
    EXPECT_EQ(ReadBytes(file_), "ivsh: Unknown command: nosuch\r\n");
    RunLine(L"echo %@fail[q] 2> " + Quoted());
    EXPECT_EQ(ReadBytes(file_), "probe: failing on purpose: q\r\n");
    RunLine(L"nosuch > " + Quoted() + L" 2>&1");
    EXPECT_EQ(ReadBytes(file_), "ivsh: Unknown command: nosuch\r\n");
}

TEST_F(RedirectTest, TargetIsExpandedAndResultsAreNot)
{
    SetEnvironmentVariableW(L"IVSH_TARGET", file_.c_str());
    RunLine(L"echo %@probe[\\x3e] >%IVSH_TARGET%");
    EXPECT_EQ(ReadBytes(file_), "<\\x3e> \r\n");
    LineRun run = RunLine(L"echo %@probe[a>b] %@probe[\">\"]");
    EXPECT_EQ(run.output.out, "<a>b> <\">\">\r\n");
    SetEnvironmentVariableW(L"IVSH_TARGET", nullptr);
}

TEST_F(RedirectTest, BadTargetsStopTheCommand)
{
    LineRun missing = RunLine(L"echo x > & echo y");
    EXPECT_EQ(missing.output.out, "");
    EXPECT_EQ(missing.output.err, "ivsh: Missing file name after >\r\n");
    LineRun bad = RunLine(L"echo x > " + TempPath(L"no\\such\\dir\\f.txt") + L" & echo y");
    EXPECT_EQ(bad.output.out, "");
    EXPECT_EQ(bad.output.err.substr(0, 17), "ivsh: Cannot open");
    EXPECT_EQ(bad.code, 1);
}

// A module's function that has the shell expand with the escape character
// switched off, through SETDOS commands run by Command, the way the real
// module reads lines: the inner expansion sees the changed setting, and the
// outer one goes on with the restored setting.
TEST_F(CommandTest, ModuleCallsBackWhileExpanding)
{
    struct {
        const wchar_t* start;
        const wchar_t* during;
    } const cases[] = {{L"0", L"1478"}, {L"5", L"14578"}, {L"9", L"14789"}, {L"1", L"1478"}};
    for (const auto& c : cases) {
        Apply(std::wstring(L"setdos /X") + c.start);
        std::wstring before = Expand(L"%_expansion").text;
        // The outer expansion turns ^^ into ^ and %% into %; the inner one,
        // with kind 8 off, keeps the ^ and expands the variable.
        Expansion result = Expand(L"%@reenter[x^^y %%_expansion] ^&");
        EXPECT_EQ(result.code, 0) << result.output.err;
        EXPECT_EQ(result.text, L"x^y " + std::wstring(c.during) + L" &") << Show(c.start);
        EXPECT_EQ(Expand(L"%_expansion").text, before) << "setting not restored from " << Show(c.start);
        Apply(L"setdos /X0");
    }
}

TEST_F(CommandTest, ModuleFailureInsideACallbackIsPassedOn)
{
    Expansion result = Expand(L"%@reenter[%%@line[" + TempPath(L"nonexistent.txt") + L",0]]");
    EXPECT_NE(result.code, 0);
    EXPECT_EQ(result.output.err.substr(0, 25), "ivsh: @line: Cannot read ");
    EXPECT_EQ(Expand(L"%_expansion").text, L"");
}

} // namespace
} // namespace shelltest
