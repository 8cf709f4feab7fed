// The plug-in protocol: entry point, registration, start and end, and the
// internal variable _ivrover.
#include <cstring>

#include "plugin/exports.h"
#include "plugin/host.h"
#include "plugin/module.h"
#include "plugin/protocol.h"
#include "plugin/version.h"

HINSTANCE g_moduleHandle = nullptr;
const wchar_t kModuleName[] = L"" IVRO_NAME;
namespace {

// Every name the shell may call, comma-separated and sorted unit by unit
// (a name before the longer ones it starts), made at compile time from the
// table of functions.
struct FunctionName {
    const wchar_t* text;
    size_t length;
};
#define IVRO_NAME_ROW(name, ...) FunctionName{L"" name, sizeof(L"" name) / sizeof(wchar_t) - 1},
constexpr FunctionName kFunctionNames[] = {IVRO_FUNCTIONS(IVRO_NAME_ROW)};
#undef IVRO_NAME_ROW
constexpr size_t kFunctionCount = sizeof kFunctionNames / sizeof *kFunctionNames;

constexpr bool SortsBefore(const FunctionName& a, const FunctionName& b)
{
    for (size_t i = 0; i < a.length && i < b.length; ++i)
        if (a.text[i] != b.text[i])
            return a.text[i] < b.text[i];
    return a.length < b.length;
}

// The names, a comma after each but the last, and the NUL.
#define IVRO_NAME_AND_COMMA(name, ...) name ","
struct FeatureList {
    wchar_t text[sizeof(L"" IVRO_FUNCTIONS(IVRO_NAME_AND_COMMA)) / sizeof(wchar_t) - 1];
};
#undef IVRO_NAME_AND_COMMA

constexpr FeatureList MakeFeatureList()
{
    size_t order[kFunctionCount] = {};
    for (size_t i = 0; i < kFunctionCount; ++i) {
        size_t at = i;
        for (; at > 0 && SortsBefore(kFunctionNames[i], kFunctionNames[order[at - 1]]); --at)
            order[at] = order[at - 1];
        order[at] = i;
    }
    FeatureList list = {};
    size_t end = 0;
    for (size_t k = 0; k < kFunctionCount; ++k) {
        if (k > 0)
            list.text[end++] = L',';
        for (size_t i = 0; i < kFunctionNames[order[k]].length; ++i)
            list.text[end++] = kFunctionNames[order[k]].text[i];
    }
    list.text[end] = 0;
    return list;
}

// Given to the shell as it is (its field is not const).
FeatureList g_featureList = MakeFeatureList();

PluginInfo g_info;

wchar_t kAuthor[] = L"The Ivro developers";
// Set when a release is made; empty by default.
wchar_t kEmail[] = L"" IVRO_REPORT_EMAIL;
wchar_t kWeb[] = L"" IVRO_REPORT_WEB;
wchar_t kDescription[] = L"Ivro plugin";

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_moduleHandle = instance;
    return TRUE;
}

PluginInfo* WINAPI GetPluginInfo(void)
{
    // The last two fields are the shell's and stay as it left them.
    g_info.module = const_cast<LPWSTR>(kModuleName);
    g_info.author = kAuthor;
    g_info.email = kEmail;
    g_info.web = kWeb;
    g_info.description = kDescription;
    g_info.features = g_featureList.text;
    g_info.major = IVRO_VERSION_MAJOR;
    g_info.minor = IVRO_VERSION_MINOR;
    g_info.build = IVRO_VERSION_BUILD;
    return &g_info;
}

int WINAPI InitializePlugin(void)
{
    // Quiet in a transient shell, in a pipe, and when the user asks for it.
    wchar_t state[1024];
    ExpandShellText(L"%[_transient]%[_pipe]%[noloadmsg]", state, 1024);
    if (wcscmp(state, L"00") == 0)
        Printf(L"%s v%u.%u.%u loaded.\r\n", kModuleName, unsigned(IVRO_VERSION_MAJOR),
               unsigned(IVRO_VERSION_MINOR), unsigned(IVRO_VERSION_BUILD));
    return 0;
}

int WINAPI ShutdownPlugin(int)
{
    EndHelpViewer();
    return 0;
}

int WINAPI _ivrover(LPWSTR buffer)
{
    if (buffer == nullptr)
        return 1;
    const char version[] = IVRO_VARIABLE_VERSION;
    for (size_t i = 0; i < sizeof version; ++i) // the NUL included
        buffer[i] = wchar_t(static_cast<unsigned char>(version[i]));
    return 0;
}

} // extern "C"
