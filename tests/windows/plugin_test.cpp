// The plug-in frame of the real module, loaded by the stand-in shell:
// registration, the load message, _ivrover, error reporting and @exp.
#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "harness.h"
#include "ivro_platform.h"
#include "plugin/host.h"

extern "C" int WINAPI HostSetInternal(LPCWSTR name, LPCWSTR value);
extern std::string g_loadOutput;

namespace {

const wchar_t kFeatures[] = L"@escapify,@escenv,@escline,@escread,@exp,@expcmp,@expfind,"
                            L"@expreplace,@expwrite,_ivrover,expecho";

TEST(GetPluginInfo, DescribesTheModuleTheSameWayOnEveryCall)
{
    auto get = ExportAs<GetPluginInfoProc>("GetPluginInfo");
    ASSERT_NE(get, nullptr);
    PluginInfo* first = get();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->module, L"Ivro");
    EXPECT_STREQ(first->description, L"Ivro plugin");
    EXPECT_STREQ(first->features, kFeatures);
    EXPECT_EQ(first->major, 0u);
    EXPECT_EQ(first->minor, 60u);
    EXPECT_EQ(first->build, 0u);
    EXPECT_NE(first->author, nullptr);
    EXPECT_STREQ(first->email, L"" IVRO_REPORT_EMAIL); // as the release sets them, no placeholder
    EXPECT_STREQ(first->web, L"" IVRO_REPORT_WEB);

    PluginInfo copy = *first;
    PluginInfo* second = get();
    EXPECT_EQ(second, first);
    EXPECT_EQ(0, memcmp(&copy, second, sizeof copy));
}

TEST(GetPluginInfo, LeavesTheShellsFieldsAlone)
{
    auto get = ExportAs<GetPluginInfoProc>("GetPluginInfo");
    PluginInfo* info = get();
    HMODULE savedModule = info->shellModule;
    LPWSTR savedPath = info->shellPath;
    // The stand-in filled them in when it loaded the module.
    EXPECT_EQ(savedModule, GetModuleHandleW(L"TakeCmd.dll"));
    ASSERT_NE(savedPath, nullptr);

    wchar_t marker[] = L"marker";
    info->shellModule = reinterpret_cast<HMODULE>(0x1234);
    info->shellPath = marker;
    get();
    EXPECT_EQ(info->shellModule, reinterpret_cast<HMODULE>(0x1234));
    EXPECT_EQ(info->shellPath, marker);
    info->shellModule = savedModule;
    info->shellPath = savedPath;
}

TEST(VersionResource, NamesTheFileAndItsPlatform)
{
    const bool x64 = sizeof(void*) == 8;
    wchar_t path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(Module(), path, MAX_PATH), 0u);
    const std::wstring file = x64 ? L"Ivro-x64.dll" : L"Ivro-x86.dll";
    EXPECT_EQ(std::wstring(path).substr(wcslen(path) - file.size()), file);

    DWORD size = GetFileVersionInfoSizeW(path, nullptr);
    ASSERT_NE(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, data.data()));
    auto text = [&](const wchar_t* name) {
        wchar_t* value = nullptr;
        UINT length = 0;
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        return VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) && value
                   ? std::wstring(value)
                   : std::wstring(L"(none)");
    };
    EXPECT_EQ(text(L"OriginalFilename"), file);
    EXPECT_EQ(text(L"ProductVersion"), x64 ? L"0.60.0.5  (x64)" : L"0.60.0.5  (x86)");
    EXPECT_EQ(text(L"FileVersion"), L"0.60.0.5");
    EXPECT_EQ(text(L"InternalName"), L"Ivro");
    EXPECT_EQ(text(L"ProductName"), L"Ivro plugin");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 60u);
    EXPECT_EQ(fixed->dwFileVersionLS, 5u);
    EXPECT_EQ(fixed->dwProductVersionMS, 60u);
    EXPECT_EQ(fixed->dwProductVersionLS, 5u);
}

TEST(Exports, AreNamedPlainly)
{
    for (const char* name : {"GetPluginInfo", "InitializePlugin", "ShutdownPlugin", "_ivrover", "f_exp"})
        EXPECT_NE(Export(name), nullptr) << name;
    EXPECT_EQ(Export("f_exp@4"), nullptr);
    EXPECT_EQ(Export("_f_exp@4"), nullptr);
}

TEST(InitializePlugin, PrintedTheLoadMessageWhenTheShellLoadedIt)
{
    EXPECT_EQ(g_loadOutput, "Ivro v0.60.0 loaded.\r\n");
}

// The load message appears only when _transient and _pipe are both 0 and
// noloadmsg is not set.
struct LoadCase {
    const wchar_t* transient;
    const wchar_t* pipe;
    const wchar_t* noloadmsg; // null: unset
    const char* expected;
};

class InitializePluginQuiet : public ::testing::TestWithParam<LoadCase> {};

TEST_P(InitializePluginQuiet, PrintsOnlyInAnInteractiveUnpipedShell)
{
    const LoadCase& c = GetParam();
    auto init = ExportAs<InitializePluginProc>("InitializePlugin");
    ASSERT_EQ(HostSetInternal(L"_transient", c.transient), 0);
    ASSERT_EQ(HostSetInternal(L"_pipe", c.pipe), 0);
    SetEnvironmentVariableW(L"noloadmsg", c.noloadmsg);
    int result = -1;
    Output output = Capture([&] { result = init(); });
    SetEnvironmentVariableW(L"noloadmsg", nullptr);
    HostSetInternal(L"_transient", L"0");
    HostSetInternal(L"_pipe", L"0");

    EXPECT_EQ(result, 0);
    EXPECT_EQ(output.out, c.expected);
    EXPECT_EQ(output.err, "");
}

INSTANTIATE_TEST_SUITE_P(States, InitializePluginQuiet,
                         ::testing::Values(LoadCase{L"0", L"0", nullptr, "Ivro v0.60.0 loaded.\r\n"},
                                           LoadCase{L"1", L"0", nullptr, ""},
                                           LoadCase{L"0", L"1", nullptr, ""},
                                           LoadCase{L"0", L"0", L"1", ""},
                                           LoadCase{L"0", L"0", L"anything", ""},
                                           LoadCase{L"0", L"00", nullptr, ""},
                                           LoadCase{L"0", L"", nullptr, ""}));

TEST(ShutdownPlugin, WithNoViewerDoesNothing)
{
    auto shutdown = ExportAs<ShutdownPluginProc>("ShutdownPlugin");
    int result = -1;
    Output output = Capture([&] { result = shutdown(12345); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");
}

TEST(IvroVer, WritesItsVersionAndNothingBeyondIt)
{
    auto ivrover = BufferExport("_ivrover");
    EXPECT_EQ(ivrover(nullptr), 1);

    std::vector<wchar_t> buffer(MAX_ARG_LEN, L'#');
    EXPECT_EQ(ivrover(buffer.data()), 0);
    EXPECT_STREQ(buffer.data(), L"1.1.6.1");
    EXPECT_EQ(buffer[8], L'#');
}

TEST(IvroVer, IsAnInternalVariableOfTheShell)
{
    wchar_t buffer[MAX_ARG_LEN] = L"[%_ivrover]";
    EXPECT_EQ(ExpandVariables(buffer, 1), 0);
    EXPECT_STREQ(buffer, L"[1.1.6.1]");
}

// @exp through the export: the whole argument is one text; the escape engine
// itself is tested natively.
struct ExpCase {
    const wchar_t* argument;
    const wchar_t* expected;
};

class ExpExport : public ::testing::TestWithParam<ExpCase> {};

TEST_P(ExpExport, ExpandsTheWholeArgumentInPlace)
{
    const ExpCase& c = GetParam();
    CallResult r = CallBuffer("f_exp", c.argument);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(Show(r.text), Show(c.expected)) << "argument " << Show(c.argument);
    EXPECT_EQ(r.output.out, "");
    EXPECT_EQ(r.output.err, "");
    EXPECT_TRUE(r.guardIntact);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ExpExport,
    ::testing::Values(ExpCase{L"", L""}, ExpCase{L"a\\tb\\x41", L"a\tbA"},
                      // commas, double quotes and outer spaces are ordinary text
                      ExpCase{L" \"a,b\" , c ", L" \"a,b\" , c "}, ExpCase{L"\\q\\c\\\"", L"\",\""},
                      ExpCase{L"\\U1F600!", L"\xD83D\xDE00!"},
                      // the trap of Windows paths: \U, \t and a dropped backslash
                      ExpCase{L"C:\\Users\\temp", L"C:Users\temp"},
                      ExpCase{L"C:\\\\Users\\\\temp", L"C:\\Users\\temp"}));

TEST(BufferExports, EveryOneRefusesANullBuffer)
{
    for (const char* name : {"f_escapify", "f_escenv", "f_escline", "f_escread", "f_exp", "f_expcmp", "f_expfind",
                             "f_expreplace", "f_expwrite", "_ivrover", "expecho"})
        EXPECT_EQ(BufferExport(name)(nullptr), 1) << name;
}

TEST(ExpExport, ATextFillingTheBufferIsExpandedWithinIt)
{
    // 8189 letters and \t: 8191 units in, 8190 out.
    std::wstring text(8189, L'a');
    text += L"\\t";
    CallResult r = CallBuffer("f_exp", text);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, std::wstring(8189, L'a') + L"\t");
    EXPECT_TRUE(r.guardIntact);
}

TEST(BufferExports, OverflowIsReportedAndTheTextKept)
{
    // No shell hands over more than 8191 units; a longer text in a larger
    // buffer is the one way to an overflow: of the expansion, or of the
    // split of the functions that take several arguments.
    const std::string kSplit = "Ivro plugin: Buffer overflow: b = 8191, MAX_ARG_LEN = 8192 \r\n";
    const struct {
        const char* name;
        std::string err;
    } cases[] = {{"f_exp", "Ivro plugin: Buffer overflow\r\n"},
                 {"f_expcmp", kSplit},
                 {"f_expfind", kSplit},
                 {"f_expreplace", kSplit}};
    for (const auto& c : cases) {
        std::vector<wchar_t> buffer(9000, 0);
        std::fill(buffer.begin(), buffer.begin() + 8192, L'z');
        std::vector<wchar_t> before = buffer;
        int result = 0;
        Output output = Capture([&] { result = BufferExport(c.name)(buffer.data()); });
        EXPECT_EQ(result, -1) << c.name;
        EXPECT_EQ(output.err, c.err) << c.name;
        EXPECT_EQ(output.out, "") << c.name;
        EXPECT_TRUE(buffer == before) << c.name;
    }
}

TEST(ExpFunction, ServesTheShellsAtExp)
{
    wchar_t buffer[MAX_ARG_LEN] = L"<%@exp[a\\sb\\k]>";
    EXPECT_EQ(ExpandVariables(buffer, 1), 0);
    EXPECT_STREQ(buffer, L"<a b`>");
}

} // namespace
