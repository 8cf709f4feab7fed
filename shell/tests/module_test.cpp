// Loading modules, and the shell program as a whole (HostMain).
#include <vector>

#include "shell_test.h"
#include "ivro_platform.h"

namespace shelltest {
namespace {

// These tests load and unload modules themselves; the probe is loaded again
// afterwards for the other tests.
class ModuleTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        Capture([] { HostUnloadModule(); });
    }
    void TearDown() override
    {
        Capture([] { HostUnloadModule(); });
        HostSetInternal(L"_transient", L"1");
        HostSetInternal(L"_pipe", L"0");
        int loaded = 1;
        Output output = Capture([&] { loaded = HostLoadModule(L"ivsh-probe.dll"); });
        ASSERT_EQ(loaded, 0) << output.err;
        ShellTest::TearDown();
    }

    static int Main(std::vector<std::wstring> args, Output* output)
    {
        args.insert(args.begin(), L"ivsh.exe");
        std::vector<LPWSTR> argv;
        for (std::wstring& arg : args)
            argv.push_back(arg.data());
        int code = -99;
        *output = Capture([&] { code = HostMain(int(argv.size()), argv.data()); });
        return code;
    }
};

const char kProbeWarnings[] = "ivsh: ivsh-probe.dll names @missingfn but exports no f_missingfn\r\n"
                              "ivsh: ivsh-probe.dll names missingcmd but exports no missingcmd\r\n";

TEST_F(ModuleTest, LoadWarnsOnceAboutEachMissingExport)
{
    HostSetInternal(L"_transient", L"0");
    int code = 1;
    Output load = Capture([&] { code = HostLoadModule(L"ivsh-probe.dll"); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(load.err, kProbeWarnings);
    EXPECT_EQ(load.out, "Probe loaded.\r\n"); // InitializePlugin ran once, with the state ready
    Output unload = Capture([] {
        HostUnloadModule();
        HostUnloadModule();
    });
    EXPECT_EQ(unload.out, "Probe unloaded.\r\n"); // ShutdownPlugin ran once
}

TEST_F(ModuleTest, LoadMessageFollowsTheShellState)
{
    struct {
        const wchar_t* transient;
        const wchar_t* pipe;
        const wchar_t* noloadmsg;
        const char* out;
    } const cases[] = {
        {L"0", L"0", nullptr, "Probe loaded.\r\n"},
        {L"1", L"0", nullptr, ""},
        {L"0", L"1", nullptr, ""},
        {L"0", L"0", L"yes", ""},
    };
    for (const auto& c : cases) {
        HostSetInternal(L"_transient", c.transient);
        HostSetInternal(L"_pipe", c.pipe);
        SetEnvironmentVariableW(L"noloadmsg", c.noloadmsg);
        Output load = Capture([] { HostLoadModule(L"ivsh-probe.dll"); });
        EXPECT_EQ(load.out, c.out) << Show(c.transient) << Show(c.pipe);
        HostSetInternal(L"_transient", L"1");
        Capture([] { HostUnloadModule(); });
    }
    SetEnvironmentVariableW(L"noloadmsg", nullptr);
}

TEST_F(ModuleTest, LoadFailsCleanly)
{
    std::wstring text = WriteBytes(L"notamodule.dll", "this is text");
    struct {
        std::wstring path;
        const char* message;
    } const cases[] = {
        {TempPath(L"nonexistent.dll"), "ivsh: Cannot find the module "},
        {TempDir(), "ivsh: Cannot find the module "},                  // a directory
        {text, "ivsh: Cannot load the module "},
        {L"TakeCmd.dll", "is not a module: it exports no GetPluginInfo"}, // a library, but no module
    };
    for (const auto& c : cases) {
        int code = 0;
        Output output = Capture([&] { code = HostLoadModule(c.path.c_str()); });
        EXPECT_NE(code, 0) << Show(c.path);
        EXPECT_NE(output.err.find(c.message), std::string::npos) << output.err;
        EXPECT_EQ(Expand(L"%@probe[x]").code != 0, true) << "nothing may stay loaded";
    }
}

TEST_F(ModuleTest, SecondLoadIsRefused)
{
    Capture([] { HostLoadModule(L"ivsh-probe.dll"); });
    int code = 0;
    Output again = Capture([&] { code = HostLoadModule(L"ivsh-probe.dll"); });
    EXPECT_NE(code, 0);
    EXPECT_EQ(again.err.substr(0, 34), "ivsh: A module is already loaded: ");
}

TEST_F(ModuleTest, ShellFillsItsFieldsOfTheRecord)
{
    Capture([] { HostLoadModule(L"ivsh-probe.dll"); });
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    EXPECT_EQ(Expand(L"%@info[]").text, std::wstring(program) + L"|library");
    EXPECT_EQ(Expand(L"%_cmdspec").text, program);
}

TEST_F(ModuleTest, MainRunsALine)
{
    Output output;
    // The words after -c are joined by blanks into one line.
    EXPECT_EQ(Main({L"-m", L"ivsh-probe.dll", L"-c", L"echo", L"%_transient", L"&", L"probecmd", L"fail"}, &output), 3);
    EXPECT_EQ(output.out, "1 \r\n[ fail]"); // transient: no load line
    EXPECT_EQ(output.err, kProbeWarnings);
    EXPECT_EQ(Main({L"-m", L"ivsh-probe.dll", L"-c", L"exit 7 & echo no"}, &output), 7);
    EXPECT_EQ(output.out, "");
}

TEST_F(ModuleTest, MainRunsABatchFileWithTheRealModule)
{
    std::wstring batch = WriteBytes(L"real.btm", "echo %@exp[a\\tb\\x41]\r\necho [%1] [%2] %_batch\r\nexit 4\r\n");
    Output output;
    EXPECT_EQ(Main({L"-m", L"" IVRO_FILE_NAME, batch, L"one", L"two three"}, &output), 4) << output.err;
    EXPECT_EQ(output.out, "Ivro v0.60.0 loaded.\r\na\tbA\r\n[one] [\"two three\"] 1\r\n");
}

TEST_F(ModuleTest, MainRefusesBadCommandLines)
{
    struct {
        std::vector<std::wstring> args;
        const char* message;
    } const cases[] = {
        {{L"-z"}, "ivsh: Unknown option: -z\r\nUsage: ivsh "},
        {{L"-m"}, "ivsh: Missing value after -m\r\nUsage: ivsh "},
        {{L"-o", L"codepage"}, "ivsh: Expected NAME=VALUE after -o: codepage\r\n"},
        {{L"-o", L"codepage=1", L"-c", L"echo x"}, "ivsh: Bad value for option codepage: "},
        {{L"-m", L"nonexistent.dll", L"-c", L"echo x"}, "ivsh: Cannot find the module "},
    };
    for (const auto& c : cases) {
        Output output;
        EXPECT_EQ(Main(c.args, &output), 1) << Show(c.args[0]);
        EXPECT_EQ(output.err.substr(0, strlen(c.message)), c.message) << output.err;
        EXPECT_EQ(output.out, "");
    }
}

} // namespace
} // namespace shelltest
