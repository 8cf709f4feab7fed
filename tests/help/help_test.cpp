// Help: which names have topics, where the help file is looked for, where
// the viewer is taken from, the command line of the viewer, one viewer at a
// time, and the message box when there is no help file. The program runs in
// a folder of its own with a stand-in viewer hh.exe beside it, which it puts
// in the Windows directory for the run and which records how it was started.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "harness.h"
#include "plugin/functions.h"
#include "plugin/host.h"
#include "viewer_process.h"

namespace {

std::wstring Directory(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::wstring ExeDirectory()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return Directory(path);
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH];
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return full;
}

// `path` with each backslash a slash, or doubled.
std::wstring Slashed(std::wstring path)
{
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

std::wstring Doubled(const std::wstring& path)
{
    std::wstring doubled;
    for (wchar_t c : path)
        doubled += c == L'\\' ? std::wstring(L"\\\\") : std::wstring(1, c);
    return doubled;
}

std::wstring Lower(std::wstring text)
{
    CharLowerBuffW(text.data(), DWORD(text.size()));
    return text;
}


// What Help did: its result, the viewers started, the text of a message box
// it showed (which is read and dismissed), and its output.
struct HelpCall {
    int result = -1;
    std::vector<Launch> launches;
    std::wstring box;
    Output output;
};

class HelpViewer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        window_ = new ForegroundWindow;
        standIn_ = new StandInViewer;
    }
    static void TearDownTestSuite()
    {
        delete window_;
        delete standIn_;
    }

    void SetUp() override
    {
        log_ = TempDir() + L"\\viewer.log";
        DeleteFileW(log_.c_str());
        SetEnvironmentVariableW(L"IVRO_VIEWER_LOG", log_.c_str());
        SetEnvironmentVariableW(L"IvroHelp", nullptr);
        SetEnvironmentVariableW(L"PluginHelp", nullptr);
        viewer_ = standIn_->Installed();
    }

    void TearDown() override
    {
        ExportAs<ShutdownPluginProc>("ShutdownPlugin")(0);
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            if (!DeleteFileW(it->c_str()))
                RemoveDirectoryW(it->c_str());
        SetCurrentDirectoryW(ExeDirectory().c_str());
    }

    // A file (or directory) that the test removes again.
    std::wstring Make(const std::wstring& path, bool directory = false)
    {
        if (directory)
            CreateDirectoryW(path.c_str(), nullptr);
        else
            WriteFileBytes(path, "not really compiled help");
        made_.push_back(path);
        return FullPath(path);
    }

    std::vector<Launch> Launches(size_t atLeast) { return ::Launches(log_, atLeast); }

    // Calls Help of the module under test, or `help` of another copy.
    HelpCall CallHelp(const std::wstring& name, size_t launchesExpected, HelpProc help = nullptr)
    {
        HelpCall call;
        if (help == nullptr)
            help = ExportAs<HelpProc>("Help");
        std::wstring argument = name;
        call.box = DismissingTheBox([&] { call.output = Capture([&] { call.result = help(argument.data()); }); });
        call.launches = Launches(launchesExpected);
        return call;
    }

    std::wstring CommandLine(const std::wstring& chm, const std::wstring& topic)
    {
        return L"\"" + viewer_ + L"\" \"" + chm + L"::/" + topic + L".html\"";
    }

    static ForegroundWindow* window_;
    // A copy of the stand-in viewer at `to`.
    static void CopyStandIn(const std::wstring& to) { CopyFileW(standIn_->StandIn().c_str(), to.c_str(), FALSE); }

    static StandInViewer* standIn_;
    std::wstring log_;
    std::wstring viewer_;
    std::vector<std::wstring> made_;
};

ForegroundWindow* HelpViewer::window_ = nullptr;
StandInViewer* HelpViewer::standIn_ = nullptr;

// The command line of the last viewer a call started, or nothing.
std::wstring Last(const HelpCall& call)
{
    return call.launches.empty() ? std::wstring() : call.launches.back().commandLine;
}

TEST_F(HelpViewer, EveryNameOpensItsTopicInAnyCase)
{
    std::wstring chm = Make(TempDir() + L"\\Ivro.chm");
    SetEnvironmentVariableW(L"IvroHelp", TempDir().c_str());
    // Each name of the table as it stands, in capitals and in mixed case.
    struct Named {
        std::wstring name;
        std::wstring topic;
    };
    std::vector<Named> names;
#define IVRO_HELP_NAME(name, export, page, ...) names.push_back({L"" name, L"" page});
    IVRO_FUNCTIONS(IVRO_HELP_NAME)
#undef IVRO_HELP_NAME
    for (size_t i = 0, count = names.size(); i < count; ++i) {
        std::wstring upper = names[i].name, mixed = names[i].name;
        for (size_t k = 0; k < upper.size(); ++k) {
            upper[k] = wchar_t(towupper(upper[k]));
            if (k % 2 == 1)
                mixed[k] = upper[k];
        }
        names.push_back({upper, names[i].topic});
        names.push_back({mixed, names[i].topic});
    }
    size_t started = 0;
    for (const Named& n : names) {
        HelpCall call = CallHelp(n.name, ++started);
        EXPECT_EQ(call.result, 1) << Show(n.name);
        ASSERT_EQ(call.launches.size(), started) << Show(n.name);
        EXPECT_EQ(Show(call.launches.back().commandLine), Show(CommandLine(chm, n.topic))) << Show(n.name);
        EXPECT_EQ(call.box, L"");
        EXPECT_EQ(call.output.out + call.output.err, "");
    }
}

TEST_F(HelpViewer, OtherNamesHaveNoHelp)
{
    Make(TempDir() + L"\\Ivro.chm");
    SetEnvironmentVariableW(L"IvroHelp", TempDir().c_str());
    for (const wchar_t* name : {L"exp", L"@ex", L"@expx", L"@exp ", L" @exp", L"", L"ivrover", L"_ivro", L"expecho2",
                                L"@expcmpp", L"@", L"_", L",", L"@exp,@expcmp", L"f_exp", L"v_ivrover"}) {
        HelpCall call = CallHelp(name, 0);
        EXPECT_EQ(call.result, 0) << Show(name);
        EXPECT_TRUE(call.launches.empty()) << Show(name);
        EXPECT_EQ(call.box, L"") << Show(name);
    }
    EXPECT_EQ(ExportAs<HelpProc>("Help")(nullptr), 0);
}

// Where the file is looked for, and in which order.
TEST_F(HelpViewer, TheFirstPlaceThatHoldsTheFileWins)
{
    const std::wstring a = Make(TempDir() + L"\\a", true);
    const std::wstring b = Make(TempDir() + L"\\b", true);
    const std::wstring empty = Make(TempDir() + L"\\empty", true);
    const std::wstring inA = Make(a + L"\\Ivro.chm");
    const std::wstring inB = Make(b + L"\\Ivro.chm");

    SetEnvironmentVariableW(L"IvroHelp", a.c_str());
    SetEnvironmentVariableW(L"PluginHelp", b.c_str());
    EXPECT_EQ(Last(CallHelp(L"@exp", 1)), CommandLine(inA, L"f_exp"));

    SetEnvironmentVariableW(L"IvroHelp", empty.c_str());
    EXPECT_EQ(Last(CallHelp(L"@exp", 2)), CommandLine(inB, L"f_exp"));

    // Beside the module, before its Help subdirectory.
    SetEnvironmentVariableW(L"IvroHelp", nullptr);
    SetEnvironmentVariableW(L"PluginHelp", nullptr);
    const std::wstring helpDirectory = Make(ExeDirectory() + L"\\Help", true);
    const std::wstring inHelp = Make(helpDirectory + L"\\Ivro.chm");
    EXPECT_EQ(Last(CallHelp(L"@exp", 3)), CommandLine(inHelp, L"f_exp"));
    const std::wstring beside = Make(ExeDirectory() + L"\\Ivro.chm");
    EXPECT_EQ(Last(CallHelp(L"_ivrover", 4)), CommandLine(beside, L"v_ivrover"));
}

TEST_F(HelpViewer, ADirectoryNamedLikeTheFileIsNotTheFile)
{
    const std::wstring a = Make(TempDir() + L"\\a", true);
    Make(a + L"\\Ivro.chm", true);
    const std::wstring b = Make(TempDir() + L"\\b", true);
    const std::wstring inB = Make(b + L"\\Ivro.chm");
    SetEnvironmentVariableW(L"IvroHelp", a.c_str());
    SetEnvironmentVariableW(L"PluginHelp", b.c_str());
    EXPECT_EQ(Last(CallHelp(L"expecho", 1)), CommandLine(inB, L"expecho"));
}

// Each place reaches the file system as it is: the module's folder whatever
// its name holds, a variable's value in any form Windows takes. A place the
// shell cannot expand, or whose variable is undefined or empty, is skipped:
// what is left of it would point at the current directory or drive, which
// holds a decoy here.
TEST_F(HelpViewer, EveryPlaceIsTakenAsItIs)
{
    const std::wstring work = Make(L"C:\\ivro-help-work", true);
    SetCurrentDirectoryW(work.c_str());
    Make(L"C:\\Ivro.chm");
    Make(L"C:\\help", true);
    Make(L"C:\\help\\Ivro.chm");
    Make(work + L"\\%[IvroHelp]", true);
    Make(work + L"\\%[IvroHelp]\\Ivro.chm");
    const std::wstring fallback = Make(TempDir() + L"\\fallback", true);
    const std::wstring inFallback = Make(fallback + L"\\Ivro.chm");
    const std::wstring named = Make(TempDir() + L"\\named", true);
    const std::wstring inNamed = Make(named + L"\\Ivro.chm");
    Make(work + L"\\in-work", true);
    const std::wstring inWork = Make(work + L"\\in-work\\Ivro.chm");
    // A share, as wine serves \\server\share from the prefix's dosdevices\unc.
    wchar_t prefix[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH), 0u) << "runs under wine only";
    std::wstring share = L"Z:" + std::wstring(prefix) + L"\\dosdevices\\unc";
    std::replace(share.begin(), share.end(), L'/', L'\\');
    for (const wchar_t* part : {L"", L"\\ivro-server", L"\\ivro-server\\share", L"\\ivro-server\\share\\help"})
        Make(share + part, true);
    Make(share + L"\\ivro-server\\share\\help\\Ivro.chm");

    const struct {
        const char* why;
        bool defined;
        std::wstring ivroHelp;
        std::wstring opened; // the help file the viewer gets
    } variables[] = {
        {"a folder", true, named, inNamed},
        {"a folder of the current directory", true, L".\\in-work", inWork},
        {"a \\\\?\\ path", true, L"\\\\?\\" + named, L"\\\\?\\" + inNamed},
        {"a share", true, L"\\\\ivro-server\\share\\help", L"\\\\ivro-server\\share\\help\\Ivro.chm"},
        // As users type a folder: in double quotes, with slashes, doubled or
        // trailing backslashes; the folder and the file joined by one
        // backslash, also after \\?\, where Windows reads nothing.
        {"in double quotes", true, L"\"" + named + L"\"", inNamed},
        {"forward slashes", true, Slashed(named), inNamed},
        {"doubled backslashes", true, Doubled(named), inNamed},
        {"a trailing backslash", true, named + L"\\", inNamed},
        {"a \\\\?\\ path in double quotes", true, L"\"\\\\?\\" + named + L"\"", L"\\\\?\\" + inNamed},
        {"a \\\\?\\ path with forward slashes", true, L"\\\\?\\" + Slashed(named), L"\\\\?\\" + inNamed},
        {"a \\\\?\\ path with doubled backslashes", true, L"\\\\?\\" + Doubled(named), L"\\\\?\\" + inNamed},
        {"a \\\\?\\ path with a trailing backslash", true, L"\\\\?\\" + named + L"\\", L"\\\\?\\" + inNamed},
        {"empty double quotes: not the root of the drive", true, L"\"\"", inFallback},
        {"blanks: not the root of the drive", true, L"   ", inFallback},
        {"blanks in double quotes", true, L"\"  \"", inFallback},
        {"undefined: not the root of the drive", false, L"", inFallback},
        {"empty: not the root of the drive", true, L"", inFallback},
        {"too long for the shell: not %[IvroHelp] in the current directory", true, std::wstring(9000, L'x'),
         inFallback},
    };
    size_t started = 0;
    for (const auto& v : variables) {
        SetEnvironmentVariableW(L"IvroHelp", v.defined ? v.ivroHelp.c_str() : nullptr);
        SetEnvironmentVariableW(L"PluginHelp", fallback.c_str());
        EXPECT_EQ(Show(Last(CallHelp(L"@exp", ++started))), Show(CommandLine(v.opened, L"f_exp"))) << v.why;
    }

    // With nothing set, no windir either, and nothing beside the module or
    // the shell, the box: not C:\help\Ivro.chm, all that "%windir" leaves;
    // it names the system's Windows directory.
    wchar_t windir[MAX_PATH] = {}, windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    GetEnvironmentVariableW(L"windir", windir, MAX_PATH);
    SetEnvironmentVariableW(L"IvroHelp", nullptr);
    SetEnvironmentVariableW(L"PluginHelp", nullptr);
    SetEnvironmentVariableW(L"windir", nullptr);
    HelpCall none = CallHelp(L"@exp", started);
    SetEnvironmentVariableW(L"windir", windir);
    EXPECT_EQ(none.launches.size(), started);
    EXPECT_EQ(Show(none.box), Show(MissingHelp(windows)));

    // The module's own folder, with every character the shell might read.
    wchar_t module[MAX_PATH];
    GetModuleFileNameW(Module(), module, MAX_PATH);
    const std::wstring moduleName = std::wstring(module).substr(std::wstring(module).find_last_of(L'\\'));
    for (const wchar_t* name : {L"d^x", L"d%x%", L"d%%x", L"d&x", L"d`x", L"d[x]", L"d(x)", L"d'x", L"d!x"}) {
        const std::wstring folder = Make(TempDir() + L"\\" + name, true);
        const std::wstring chm = Make(folder + L"\\Ivro.chm");
        const std::wstring copy = Make(folder + moduleName);
        ASSERT_TRUE(CopyFileW(module, copy.c_str(), FALSE)) << Show(copy);
        HMODULE other = LoadLibraryW(copy.c_str());
        ASSERT_NE(other, nullptr) << Show(copy);
        auto help = reinterpret_cast<HelpProc>(reinterpret_cast<void*>(GetProcAddress(other, "Help")));
        EXPECT_EQ(Show(Last(CallHelp(L"@exp", ++started, help))), Show(CommandLine(chm, L"f_exp"))) << Show(name);
        reinterpret_cast<ShutdownPluginProc>(reinterpret_cast<void*>(GetProcAddress(other, "ShutdownPlugin")))(0);
        FreeLibrary(other);
    }
}

// The viewer is taken from the Windows directory, else from the system
// directory, else from a folder of PATH given in full; never from the
// current directory, a relative folder of PATH or the program's own
// directory (unless PATH names it in full), which hold stand-in viewers of
// their own here.
TEST_F(HelpViewer, TheViewerComesFromWhereWindowsKeepsIt)
{
    Make(TempDir() + L"\\Ivro.chm");
    SetEnvironmentVariableW(L"IvroHelp", TempDir().c_str());
    const std::wstring work = Make(TempDir() + L"\\work", true);
    CopyStandIn(Make(work + L"\\hh.exe"));
    SetCurrentDirectoryW(work.c_str());
    const std::wstring tools = Make(TempDir() + L"\\tools", true);
    CopyStandIn(Make(tools + L"\\hh.exe"));
    const std::wstring semicolon = Make(TempDir() + L"\\tools;old", true);
    CopyStandIn(Make(semicolon + L"\\hh.exe"));
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring inSystem = std::wstring(system) + L"\\hh.exe";
    const std::wstring hidden = viewer_ + L".hidden";
    // What a run that died half-way left behind is put right first.
    MoveFileExW(hidden.c_str(), viewer_.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (ReadFileBytes(inSystem) == ReadFileBytes(standIn_->StandIn()))
        DeleteFileW(inSystem.c_str());
    ASSERT_EQ(GetFileAttributesW(inSystem.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the prefix has a viewer of its own in " << Show(inSystem) << ", which this test would replace";
    // For a program in the system directory wine starts its own built-in one
    // unless the process was started told to run the file.
    wchar_t overrides[256] = {};
    GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 256);
    ASSERT_NE(wcsstr(overrides, L"hh.exe=n"), nullptr) << "run with WINEDLLOVERRIDES=hh.exe=n, as CTest does";

    wchar_t path[32768];
    GetEnvironmentVariableW(L"PATH", path, 32768);
    const std::wstring inTools = tools + L"\\hh.exe";
    const struct {
        bool inWindows, inSystem;
        std::wstring path;
        std::wstring started; // empty: none, and the box says where the file is
        std::wstring named = {}; // the program on the command line, when not `started` itself
    } rows[] = {
        {true, true, L".;work;" + tools, viewer_},
        {false, true, L".;work;" + tools, inSystem},
        {false, false, L".;work;\"" + tools + L"\"", inTools},
        // A semicolon inside quotes belongs to the folder.
        {false, false, L".;work;\"" + semicolon + L"\";" + tools, semicolon + L"\\hh.exe"},
        {false, false, L".;work;" + ExeDirectory(), ExeDirectory() + L"\\hh.exe"},
        {false, false, L".;work;..\\work", L""},
        // The folder and the program joined by one backslash, the folder as
        // Windows reads a plain path: also after \\?\, where it reads nothing.
        {false, false, L".;work;" + tools + L"\\", inTools},
        {false, false, L".;work;" + Slashed(tools) + L"/", inTools},
        {false, false, L".;work;\\\\?\\" + tools + L"\\", inTools, L"\\\\?\\" + inTools},
        {false, false, L".;work;\\\\?\\" + Slashed(tools), inTools, L"\\\\?\\" + inTools},
    };
    size_t started = 0;
    for (const auto& row : rows) {
        if (!row.inWindows)
            MoveFileW(viewer_.c_str(), hidden.c_str());
        if (row.inSystem)
            CopyStandIn(inSystem);
        SetEnvironmentVariableW(L"PATH", row.path.c_str());
        HelpCall call = CallHelp(L"@exp", started + !row.started.empty());
        SetEnvironmentVariableW(L"PATH", path);
        // The viewer ends before its file can go.
        ExportAs<ShutdownPluginProc>("ShutdownPlugin")(0);
        for (int wait = 0; wait < 250 && call.launches.size() > started && Alive(call.launches.back().pid); ++wait)
            Sleep(20);
        if (row.inSystem) {
            EXPECT_TRUE(DeleteFileW(inSystem.c_str()));
        }
        if (!row.inWindows) {
            EXPECT_TRUE(MoveFileW(hidden.c_str(), viewer_.c_str()));
        }

        if (row.started.empty()) {
            EXPECT_EQ(call.launches.size(), started) << Show(row.path);
            EXPECT_NE(call.box, L"") << Show(row.path);
            continue;
        }
        ASSERT_EQ(call.launches.size(), ++started) << Show(row.path);
        EXPECT_EQ(Show(Lower(call.launches.back().image)), Show(Lower(row.started))) << Show(row.path);
        const std::wstring& named = row.named.empty() ? row.started : row.named;
        EXPECT_EQ(call.launches.back().commandLine.rfind(L"\"" + named + L"\" ", 0), 0u)
            << Show(call.launches.back().commandLine);
    }
}

TEST_F(HelpViewer, TheWindowsHelpDirectoryIsTheLastPlace)
{
    wchar_t windows[MAX_PATH];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    CreateDirectoryW((std::wstring(windows) + L"\\help").c_str(), nullptr);
    const std::wstring chm = Make(std::wstring(windows) + L"\\help\\Ivro.chm");
    EXPECT_EQ(Last(CallHelp(L"@expwrite", 1)), CommandLine(chm, L"f_expwrite"));
}

TEST_F(HelpViewer, ASecondRequestReplacesTheViewerAndShutdownEndsIt)
{
    Make(TempDir() + L"\\Ivro.chm");
    SetEnvironmentVariableW(L"IvroHelp", TempDir().c_str());
    CallHelp(L"@exp", 1);
    std::vector<Launch> launches = CallHelp(L"@escapify", 2).launches;
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_FALSE(Alive(launches[0].pid));
    EXPECT_TRUE(Alive(launches[1].pid));

    int result = -1;
    Output output = Capture([&] { result = ExportAs<ShutdownPluginProc>("ShutdownPlugin")(0); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(output.out + output.err, "");
    for (int wait = 0; wait < 500 && Alive(launches[1].pid); ++wait)
        Sleep(20);
    EXPECT_FALSE(Alive(launches[1].pid));
}

TEST_F(HelpViewer, AViewerTheUserClosedIsEndedWithoutComplaint)
{
    Make(TempDir() + L"\\Ivro.chm");
    SetEnvironmentVariableW(L"IvroHelp", TempDir().c_str());
    std::vector<Launch> launches = CallHelp(L"@exp", 1).launches;
    ASSERT_EQ(launches.size(), 1u);
    EndViewer(launches[0].pid);

    int result = -1;
    Output output = Capture([&] { result = ExportAs<ShutdownPluginProc>("ShutdownPlugin")(0); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(output.out + output.err, "");
    // The record is empty again: a new request starts a new viewer.
    EXPECT_EQ(CallHelp(L"@exp", 2).launches.size(), 2u);
}

TEST_F(HelpViewer, WithoutAHelpFileTheBoxSaysWhereItShouldBe)
{
    wchar_t windows[MAX_PATH];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring expected = MissingHelp(windows);
    HelpCall call = CallHelp(L"@EXPFIND", 0);
    EXPECT_EQ(call.result, 1);
    EXPECT_TRUE(call.launches.empty());
    // The static control of a message box holds the text as given.
    EXPECT_EQ(Show(call.box), Show(expected));
    EXPECT_EQ(call.output.out + call.output.err, "");
}

} // namespace
