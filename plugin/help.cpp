// The help viewer: Help finds the module's compiled help file and opens it at
// the topic of a name with the Windows help viewer.
#include <cwchar>
#include <cwctype>
#include <initializer_list>

#include "escape/cursor.h"
#include "escape/scratch.h"
#include "plugin/exports.h"
#include "plugin/functions.h"
#include "plugin/help_locations.h"
#include "plugin/host.h"
#include "plugin/module.h"
#include "plugin/os.h"

namespace {

// The topic page of each of the module's names.
struct HelpTopic {
    const wchar_t* name;
    const wchar_t* page;
};
#define IVRO_TOPIC_ROW(name, export, page, ...) HelpTopic{L"" name, L"" page},
constexpr HelpTopic kHelpTopics[] = {IVRO_FUNCTIONS(IVRO_TOPIC_ROW)};
#undef IVRO_TOPIC_ROW

// The viewer process started by the last successful help request; it is the
// only thing the module leaves running between calls.
HANDLE g_helpViewer = nullptr;

constexpr size_t kPathUnits = 32768;

// The buffers of one help request, each with one role.
struct HelpBuffers {
    wchar_t folder[kPathUnits];      // a place's folder, as the shell expanded it, or the module's
    wchar_t path[kPathUnits];        // the help file's path in that folder
    wchar_t file[kPathUnits];        // its true name: the file the viewer opens
    wchar_t searched[kPathUnits];    // where the viewer is looked for: a system folder, or PATH
    wchar_t program[kPathUnits];     // the viewer's path
    wchar_t commandLine[kPathUnits]; // the viewer's command line
};

bool IsSlash(wchar_t unit) { return unit == L'\\' || unit == L'/'; }

// A file, not a directory or a device; a missing file has every bit set.
bool IsFile(const wchar_t* path)
{
    return (OsGetFileAttributesW(path) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Appends `folder` (`length` units) and `name`, joined by one backslash, to
// `out`, with the folder written the way Windows reads a plain path: a slash
// taken for a backslash, a run of them for one (but for the two that begin
// \\server\share and \\?\), and those at its end dropped. After \\?\ Windows
// reads nothing: each unit reaches the file system as it stands, and
// "\\?\C:\tools\\hh.exe" names no file.
void JoinPath(TextCursor& out, const wchar_t* folder, size_t length, const wchar_t* name)
{
    size_t i = 0;
    bool afterSlash = false;
    if (length >= 2 && IsSlash(folder[0]) && IsSlash(folder[1])) {
        out.Append(L"\\\\");
        i = 2;
        afterSlash = true;
    }
    while (length > i && IsSlash(folder[length - 1]))
        --length;
    for (; i < length; ++i) {
        if (!IsSlash(folder[i]))
            out.Append(folder[i]);
        else if (!afterSlash)
            out.Append(L'\\');
        afterSlash = IsSlash(folder[i]);
    }
    out.Append(L'\\');
    out.Append(name);
}

// Drops one pair of double quotes around `*text` (`*length` units), as
// Windows drops them around a folder of PATH.
void Unquote(const wchar_t** text, size_t* length)
{
    if (*length >= 2 && (*text)[0] == L'"' && (*text)[*length - 1] == L'"') {
        ++*text;
        *length -= 2;
    }
}

// The next folder of PATH, from *cursor on, as Windows reads PATH: up to a
// semicolon outside double quotes, with the quotes dropped, so that a folder
// in quotes may hold a semicolon ("C:\tools;old\bin"). The folder is
// written over itself without its quotes; its length is returned, *folder
// points to it, and *cursor moves past its semicolon.
size_t NextPathFolder(wchar_t** cursor, const wchar_t** folder)
{
    wchar_t* in = *cursor;
    wchar_t* out = in;
    *folder = in;
    bool quoted = false;
    for (; *in != 0 && (quoted || *in != L';'); ++in) {
        if (*in == L'"')
            quoted = !quoted;
        else
            *out++ = *in;
    }
    *cursor = *in == L';' ? in + 1 : in;
    return size_t(out - *folder);
}

// Writes the viewer's path in `folder` (`length` units) into `program`; true
// when that names a file.
bool ViewerIn(const wchar_t* folder, size_t length, wchar_t* program)
{
    TextCursor path(program, kPathUnits);
    JoinPath(path, folder, length, L"hh.exe");
    return !path.Overflowed() && IsFile(program);
}

// The system folders the help viewer is looked for in, in this order, before
// the folders of PATH. The system's Windows directory, not the Windows
// directory: on a multi-user server that is a folder of the user's own for a
// program that is not marked as aware of it.
constexpr UINT (*kViewerFolders[])(LPWSTR, UINT) = {OsGetSystemWindowsDirectoryW, OsGetSystemDirectoryW};

// Finds the help viewer, "hh.exe", where Windows keeps it, into b->program:
// in kViewerFolders, and only then in the folders of PATH that are full
// paths. Never the current directory, nor a folder of PATH relative to it,
// nor the shell's own directory (the places a plain search looks first): a
// script that changed into a downloaded folder would run whatever hh.exe
// that folder holds.
bool FindViewer(HelpBuffers* b)
{
    for (const auto folder : kViewerFolders) {
        const UINT length = folder(b->searched, kPathUnits);
        if (length > 0 && length < kPathUnits && ViewerIn(b->searched, length, b->program))
            return true;
    }
    DWORD size = OsGetEnvironmentVariableW(L"PATH", b->searched, kPathUnits);
    if (size == 0 || size >= kPathUnits)
        return false;
    for (wchar_t* entry = b->searched; *entry != 0;) {
        const wchar_t* folder;
        const size_t n = NextPathFolder(&entry, &folder);
        const bool drive = n >= 3 && (folder[0] | 0x20) >= L'a' && (folder[0] | 0x20) <= L'z' && folder[1] == L':' &&
                           IsSlash(folder[2]);
        const bool unc = n >= 2 && IsSlash(folder[0]) && IsSlash(folder[1]); // \\server\share, \\?\...
        if ((drive || unc) && ViewerIn(folder, n, b->program))
            return true;
    }
    return false;
}

// Starts the viewer at `topic` on the help file `file` in `folder` (both
// formatted location texts; a null folder is the module's own directory).
// Returns 1 when a viewer was started, else 0.
int TryHelpLocation(HelpBuffers* b, const wchar_t* folder, const wchar_t* file, const wchar_t* topic)
{
    const wchar_t* where = b->folder;
    size_t length = 0;
    if (folder == nullptr) {
        DWORD units = OsGetModuleFileNameW(g_moduleHandle, b->folder, kPathUnits);
        const wchar_t* slash = units > 0 && units < kPathUnits ? wcsrchr(b->folder, L'\\') : nullptr;
        if (slash == nullptr)
            return 0;
        length = size_t(slash - b->folder);
    } else {
        // A failed expansion (a value too long for the shell) skips the
        // place, and so does an undefined, empty or blank variable: the
        // file's path alone would be taken from the current directory or
        // drive. A value in double quotes is meant without them.
        if (ExpandShellText(folder, b->folder, kPathUnits) != 0)
            return 0;
        length = wcslen(b->folder);
        Unquote(&where, &length);
        if (wcsspn(where, L" \t") >= length)
            return 0;
    }
    TextCursor path(b->path, kPathUnits);
    JoinPath(path, where, length, file);
    if (path.Overflowed())
        return 0;

    b->file[0] = 0;
    QueryTrueName(b->path, b->file);
    if (b->file[0] == 0 || !IsFile(b->file))
        return 0;
    if (!FindViewer(b))
        return 0;

    // "program" "file::/topic.html"
    TextCursor line(b->commandLine, kPathUnits);
    for (const wchar_t* part : {L"\"", static_cast<const wchar_t*>(b->program), L"\" \"",
                                static_cast<const wchar_t*>(b->file), L"::/", topic, L".html\""})
        line.Append(part);
    if (line.Overflowed())
        return 0;

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!OsCreateProcessW(b->program, b->commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return 0;
    OsCloseHandle(process.hThread);
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
    // The system's Windows directory, where the viewer is looked for first;
    // should the system not say, the seventh place's own folder.
    wchar_t windows[MAX_PATH];
    UINT length = OsGetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        ExpandShellText(L"%windir", windows, MAX_PATH);
    // The message's format: its first line, then one line for each place.
    wchar_t format[1024];
    TextCursor told(format, 1024);
    told.Append(kMissingHelpHead);
    for (const auto& location : kLocations) {
        told.Append(kMissingHelpBullet);
        told.Append(location.told);
        told.Append(L'\n');
    }
    wchar_t message[1024];
    wsprintfW(message, format, kModuleName, upper, windows);
    MessageBoxW(GetForegroundWindow(), message, L"Missing Help File", MB_OK);
    return 1;
}

} // namespace

void EndHelpViewer()
{
    if (g_helpViewer != nullptr) {
        // A viewer the user has closed fails to terminate; that is no error.
        OsTerminateProcess(g_helpViewer, 0);
        OsCloseHandle(g_helpViewer);
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
    for (const HelpTopic& topic : kHelpTopics) {
        size_t i = 0;
        while (topic.name[i] != 0 && name[i] != 0 && towlower(name[i]) == towlower(topic.name[i]))
            ++i;
        if (topic.name[i] == 0 && name[i] == 0)
            return OpenHelpTopic(topic.page);
    }
    return 0;
}

} // extern "C"
