// The help viewer: Help finds the module's compiled help file and opens it at
// the topic of a name with the Windows help viewer.
#include <cwchar>
#include <cwctype>
#include <initializer_list>

#include "escape/cursor.h"
#include "escape/scratch.h"
#include "plugin/exports.h"
#include "plugin/host.h"
#include "plugin/module.h"

namespace {

// The viewer process started by the last successful help request; it is the
// only thing the module leaves running between calls.
HANDLE g_helpViewer = nullptr;

constexpr size_t kPathUnits = 32768;

// The places the help file may be, in the order they are tried. Each %s is the
// module's name; a location formatted from the first one starts with "%[".
const wchar_t* const kLocations[] = {
    L"%%[%sHelp]\\%s.chm",            // the directory named by IvroHelp
    L"%%[PluginHelp]\\%s.chm",        // the directory named by PluginHelp
    L"~\\%s.chm",                     // beside the module
    L"~\\Help\\%s.chm",               // in its Help subdirectory
    L"%%@path[%%_cmdspec]%s.chm",     // beside the shell
    L"%%@path[%%_cmdspec]help\\%s.chm", // in its help subdirectory
    L"%%windir\\help\\%s.chm",        // in the Windows help directory
};

// Told when no location worked, with the module's name, the name in upper
// case and the Windows directory.
const wchar_t kMissingHelp[] =
    L"I can\x2019t find the help file %s.chm.  It should be:\n\n"
    L"    \x2022  in a directory specified in %%%sHELP\n"
    L"    \x2022  in a directory specified in %%PLUGINHELP\n"
    L"    \x2022  in the same directory as the .DLL file\n"
    L"    \x2022  in a HELP directory within the .DLL\x2019s directory  \n"
    L"    \x2022  in the same directory as the command shell\n"
    L"    \x2022  in a HELP directory within the shell\x2019s directory  \n"
    L"    \x2022  or in %s\\Help.\n";

// The path, viewer-program and command-line buffers of one request.
struct HelpBuffers {
    wchar_t path[kPathUnits];
    wchar_t program[kPathUnits];
    wchar_t commandLine[kPathUnits];
};

// Starts the viewer on `location` (a formatted location text) at `topic`.
// Returns 1 when a viewer was started, else 0.
int TryHelpLocation(HelpBuffers* b, const wchar_t* location, const wchar_t* topic)
{
    TextCursor path(b->path, kPathUnits);
    if (location[0] == L'~' && location[1] == L'\\') {
        // "~\" stands for the module's own directory. The shell's expansion
        // below turns %% into %, so each % of the directory's name is doubled
        // to reach the file system as it is.
        DWORD length = GetModuleFileNameW(g_moduleHandle, b->program, kPathUnits);
        wchar_t* slash = length > 0 && length < kPathUnits ? wcsrchr(b->program, L'\\') : nullptr;
        if (slash == nullptr)
            return 0;
        *slash = 0;
        for (const wchar_t* c = b->program; *c != 0; ++c) {
            path.Append(*c);
            if (*c == L'%')
                path.Append(L'%');
        }
        path.Append(location + 1);
    } else {
        path.Append(location);
    }
    if (path.Overflowed())
        return 0;

    // An undefined bracketed variable leaves a bare "\Ivro.chm", which must
    // not be taken for a file on the current drive.
    const bool bracketed = wcsncmp(b->path, L"%[", 2) == 0;
    ExpandVariables(b->path, 1);
    if (bracketed && b->path[0] == L'\\')
        return 0;

    b->commandLine[0] = 0;
    QueryTrueName(b->path, b->commandLine);
    if (b->commandLine[0] == 0)
        return 0;

    // Not a directory, not a device; a missing file has every bit set.
    DWORD attributes = GetFileAttributesW(b->commandLine);
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return 0;

    b->program[0] = 0;
    SearchPathW(nullptr, L"hh.exe", nullptr, kPathUnits, b->program, nullptr);
    if (b->program[0] == 0)
        return 0;

    // "program" "file::/topic.html"; the file's true name is moved into the
    // path buffer to make room for the command line.
    wcscpy(b->path, b->commandLine);
    TextCursor line(b->commandLine, kPathUnits);
    for (const wchar_t* part : {L"\"", static_cast<const wchar_t*>(b->program), L"\" \"",
                                static_cast<const wchar_t*>(b->path), L"::/", topic, L".html\""})
        line.Append(part);
    if (line.Overflowed())
        return 0;

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(b->program, b->commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    // The new viewer is running before the old one is ended.
    EndHelpViewer();
    g_helpViewer = process.hProcess;
    return 1;
}

// Opens the help file at `topic`, or says where it should be. Returns 1.
int OpenHelpTopic(const wchar_t* topic)
{
    HelpBuffers* buffers = static_cast<HelpBuffers*>(ScratchAlloc(sizeof(HelpBuffers)));
    if (buffers == nullptr) {
        ReportError(L"Error allocating path buffers");
        return 1;
    }
    int opened = 0;
    wchar_t location[1024];
    for (const wchar_t* pattern : kLocations) {
        wsprintfW(location, pattern, kModuleName, kModuleName);
        if ((opened = TryHelpLocation(buffers, location, topic)) == 1)
            break;
    }
    ScratchFree(buffers);
    if (opened == 1)
        return 1;

    wchar_t upper[1024];
    wcscpy(upper, kModuleName);
    CharUpperW(upper);
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    wchar_t message[1024];
    wsprintfW(message, kMissingHelp, kModuleName, upper, windows);
    MessageBoxW(GetForegroundWindow(), message, L"Missing Help File", MB_OK);
    return 1;
}

} // namespace

void EndHelpViewer()
{
    if (g_helpViewer != nullptr) {
        // A viewer the user has closed fails to terminate; that is no error.
        TerminateProcess(g_helpViewer, 0);
        CloseHandle(g_helpViewer);
    }
    g_helpViewer = nullptr;
}

extern "C" {

// Help on one of the module's names, in any case: opens its topic page.
// Returns 0 for a name the module does not offer, else 1.
int WINAPI Help(LPWSTR name)
{
    if (name == nullptr)
        return 0;
    for (const wchar_t* entry = kFeatureList; *entry != 0;) {
        size_t length = wcscspn(entry, L",");
        size_t i = 0;
        while (i < length && name[i] != 0 && towlower(name[i]) == towlower(entry[i]))
            ++i;
        if (i == length && name[i] == 0) {
            // @name is served by f_name, _name by v_name, a command by itself.
            wchar_t topic[1024] = {};
            TextCursor cursor(topic, 1024);
            if (entry[0] == L'@') {
                cursor.Append(L"f_");
                cursor.Append(entry + 1, length - 1);
            } else {
                if (entry[0] == L'_')
                    cursor.Append(L'v');
                cursor.Append(entry, length);
            }
            for (wchar_t* c = topic; *c != 0; ++c)
                *c = wchar_t(towlower(*c));
            return OpenHelpTopic(topic);
        }
        entry += length;
        if (*entry == L',')
            ++entry;
    }
    return 0;
}

} // extern "C"
