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

// The places the help file may be, in the order they are tried: a folder and
// the file's path within it. Each %s is the module's name. The shell expands
// the folder (a null folder is the module's own directory, which needs no
// expansion); the file's path is appended after the expansion, so that
// whatever the folder's name holds (%, ^, &, quotes, brackets, backquotes)
// reaches the file system as it is and is never read by the shell again.
const struct {
    const wchar_t* folder;
    const wchar_t* file;
} kLocations[] = {
    {L"%%[%sHelp]", L"\\%s.chm"},                // the directory named by IvroHelp
    {L"%%[PluginHelp]", L"\\%s.chm"},            // the directory named by PluginHelp
    {nullptr, L"\\%s.chm"},                      // beside the module
    {nullptr, L"\\Help\\%s.chm"},                // in its Help subdirectory
    {L"%%@path[%%_cmdspec]", L"%s.chm"},         // beside the shell
    {L"%%@path[%%_cmdspec]", L"help\\%s.chm"},   // in its help subdirectory
    {L"%%windir", L"\\help\\%s.chm"},            // in the Windows help directory
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

// A file, not a directory or a device; a missing file has every bit set.
bool IsFile(const wchar_t* path)
{
    return (GetFileAttributesW(path) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Writes `folder` (of `length` units) and "\hh.exe" into `program`; true
// when that names a file.
bool ViewerIn(const wchar_t* folder, size_t length, wchar_t* program)
{
    TextCursor path(program, kPathUnits);
    path.Append(folder, length);
    path.Append(L"\\hh.exe");
    return !path.Overflowed() && IsFile(program);
}

// Finds the help viewer, "hh.exe", where Windows keeps it: the Windows
// directory, then the system directory, and only then the folders of PATH
// that are full paths. Never the current directory, nor a folder of PATH
// relative to it, nor the shell's own directory (the places a plain search
// looks first): a script that changed into a downloaded folder would run
// whatever hh.exe that folder holds. `scratch` receives PATH.
bool FindViewer(wchar_t* program, wchar_t* scratch)
{
    UINT length = GetWindowsDirectoryW(scratch, kPathUnits);
    if (length > 0 && length < kPathUnits && ViewerIn(scratch, length, program))
        return true;
    length = GetSystemDirectoryW(scratch, kPathUnits);
    if (length > 0 && length < kPathUnits && ViewerIn(scratch, length, program))
        return true;
    DWORD size = GetEnvironmentVariableW(L"PATH", scratch, kPathUnits);
    if (size == 0 || size >= kPathUnits)
        return false;
    for (const wchar_t* entry = scratch; *entry != 0;) {
        size_t n = wcscspn(entry, L";");
        const wchar_t* folder = entry;
        entry += n;
        if (*entry == L';')
            ++entry;
        if (n >= 2 && folder[0] == L'"' && folder[n - 1] == L'"') {
            ++folder;
            n -= 2;
        }
        const bool drive = n >= 3 && (folder[0] | 0x20) >= L'a' && (folder[0] | 0x20) <= L'z' && folder[1] == L':' &&
                           (folder[2] == L'\\' || folder[2] == L'/');
        const bool unc = n >= 2 && folder[0] == L'\\' && folder[1] == L'\\'; // \\server\share, \\?\...
        if ((drive || unc) && ViewerIn(folder, n, program))
            return true;
    }
    return false;
}

// Starts the viewer at `topic` on the help file `file` in `folder` (both
// formatted location texts; a null folder is the module's own directory).
// Returns 1 when a viewer was started, else 0.
int TryHelpLocation(HelpBuffers* b, const wchar_t* folder, const wchar_t* file, const wchar_t* topic)
{
    // The folder goes into the program buffer first, which is free until
    // the viewer is looked for.
    if (folder == nullptr) {
        DWORD length = GetModuleFileNameW(g_moduleHandle, b->program, kPathUnits);
        wchar_t* slash = length > 0 && length < kPathUnits ? wcsrchr(b->program, L'\\') : nullptr;
        if (slash == nullptr)
            return 0;
        *slash = 0;
    } else {
        // A failed expansion (a value too long for the shell) skips the
        // place, and so does an undefined or empty variable: the file's path
        // alone would be taken from the current directory or drive.
        if (ExpandShellText(folder, b->program, kPathUnits) != 0 || b->program[0] == 0)
            return 0;
    }
    TextCursor path(b->path, kPathUnits);
    path.Append(b->program);
    path.Append(file);
    if (path.Overflowed())
        return 0;

    b->commandLine[0] = 0;
    QueryTrueName(b->path, b->commandLine);
    if (b->commandLine[0] == 0)
        return 0;

    if (!IsFile(b->commandLine))
        return 0;
    // The file's true name is moved into the path buffer, which frees the
    // command-line buffer for PATH and then for the command line.
    wcscpy(b->path, b->commandLine);
    if (!FindViewer(b->program, b->commandLine))
        return 0;

    // "program" "file::/topic.html"
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
    wchar_t folder[1024], file[1024];
    for (const auto& location : kLocations) {
        if (location.folder != nullptr)
            wsprintfW(folder, location.folder, kModuleName);
        wsprintfW(file, location.file, kModuleName);
        if ((opened = TryHelpLocation(buffers, location.folder ? folder : nullptr, file, topic)) == 1)
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
