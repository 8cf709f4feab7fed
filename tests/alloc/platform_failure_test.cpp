// The module's test build with its calls to Windows made to fail: for each
// export and each call it makes, the call failed (a write also cut short)
// and what the export then does: its result, its return code, its message,
// and what it leaves behind in the caller's buffer, the file or pipe it
// wrote to, the standard handles, the shell's expansion setting and the help
// viewer. A last check holds the table to the module: every call that any
// export makes has a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "harness.h"
#include "plugin/host.h"
#include "viewer_process.h"

namespace {

typedef const char*(WINAPI* OperationProc)(int i);
typedef int(WINAPI* FailCallProc)(const char* operation, long n, DWORD error, long bytes);
typedef long(WINAPI* CallsProc)(const char* operation);
typedef long(WINAPI* PendingProc)();
typedef void(WINAPI* ScratchFailAtProc)(long n);

// One call to Windows made to fail: the nth call of `operation` during the
// export's call fails with `error`. A WriteFile with `bytes` of zero or more
// first puts in that many bytes, and an `error` of 0 then reports success:
// a disk that takes what fits says so.
struct Fault {
    const char* operation;
    long nth;
    DWORD error;
    long bytes = -1;
};

// What a row's call runs against.
enum Scene {
    kBuffer,    // an export with its buffer and nothing else
    kFile,      // @expwrite to a disk file that holds `before`, at its end: {h}
    kReadFile,  // a file that holds `before` at its start: {h} its handle, {p} its path
    kPipe,      // @expwrite to a pipe: {h} its writing end
    kNul,       // @expwrite to the null device, a character device as a console is
    kStdout,    // @expwrite to standard output: what the call wrote there
    kHelp,      // Help, with the help file in IvroHelp's folder
    kHelpAgain, // the same, a viewer of an earlier request running
    kBeside,    // Help, with the help file beside the module (and the shell)
    kNoHelp,    // Help, with no help file anywhere
    kNoMemory,  // Help, with no memory for its path buffers
    kShutdown,  // ShutdownPlugin, a viewer running
};

// Where the standard handles are after the call.
enum Handles {
    kAsBefore,
    kErrOnNull, // standard error left on the null device, which stays open
    kOutOnNull,
};

struct Row {
    const char* name;
    Scene scene;
    const char* call;     // the export
    std::wstring argument; // {h} and {p} as the scene says
    std::vector<Fault> faults;
    int code;
    std::wstring text;    // the caller's buffer afterwards (not for Help)
    std::string err;      // standard error
    std::string target = {}; // the file's, pipe's or standard output's bytes afterwards
    const wchar_t* option = L"utf8output=yes";
    std::string before = "old\r\n";  // what the file holds before
    long long position = -1;         // the file's position afterwards; -1: its end
    int started = 0;                 // viewers started by the call
    bool box = false;                // the missing-help box shown
    bool earlierRuns = false;        // the viewer of the earlier request still runs
    Handles handles = kAsBefore;
};

constexpr DWORD kDiskFull = ERROR_DISK_FULL;
constexpr DWORD kDenied = ERROR_ACCESS_DENIED;
constexpr DWORD kNotFound = ERROR_ENVVAR_NOT_FOUND;

// The line "a\u00e9b" and CR LF in each encoding, and the marks.
const std::string kUtf8Line = "a\xC3\xA9" "b\r\n";
const std::string kUtf16Line("a\0\xE9\0b\0\r\0\n\0", 10);
const std::string kUtf8Mark = "\xEF\xBB\xBF";
const std::string kUtf16Mark = "\xFF\xFE";
const std::wstring kLine = L"a\\u00e9b";
const std::wstring kTooLong(MAX_ARG_LEN, L'z');
// The evaluator's complaint about @expfind's offset, and the module's.
const std::string kBadExpression = "ivsh: Bad expression: 1+\r\n";
const std::string kBadOffset = "Ivro plugin: Bad offset: \"1+\"\r\n";

const Row kRows[] = {
    // ---- @expwrite: a failed call leaves a disk file as it was.
    {"line refused", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, kDiskFull}}, 0, L"-1", "", "old\r\n"},
    {"line cut inside a character, reported whole", kFile, "f_expwrite", L"{h}," + kLine,
     {{"WriteFile", 1, 0, 2}}, 0, L"-1", "", "old\r\n"},
    {"line short by its last byte", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 5}}, 0, L"-1", "",
     "old\r\n"},
    {"nothing put in, reported as success", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 0}}, 0,
     L"-1", "", "old\r\n"},
    {"part put in, then refused", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, kDiskFull, 3}}, 0, L"-1",
     "", "old\r\n"},
    {"UTF-16 line cut inside a unit", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 3}}, 0, L"-1", "",
     "old\r\n", L"unicodeoutput=yes"},
    {"UTF-16 line short by one unit", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 8}}, 0, L"-1", "",
     "old\r\n", L"unicodeoutput=yes"},
    {"code page line cut", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 2}}, 0, L"-1", "", "old\r\n",
     L"codepage=1252"},
    {"UTF-16 mark refused", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, kDiskFull}}, 0, L"-1", "", "",
     L"unicodeoutput=yes", ""},
    {"UTF-16 mark cut", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 1}}, 0, L"-1", "", "",
     L"unicodeoutput=yes", ""},
    {"UTF-16 mark in, line cut: the mark is taken back too", kFile, "f_expwrite", L"{h}," + kLine,
     {{"WriteFile", 2, 0, 4}}, 0, L"-1", "", "", L"unicodeoutput=yes", ""},
    {"UTF-8 mark cut", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 2}}, 0, L"-1", "", "",
     L"utf8output=yes", ""},
    {"UTF-8 mark in, line refused", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 2, kDiskFull}}, 0, L"-1",
     "", "", L"utf8output=yes", ""},
    // A line holds CR LF at least: a conversion that gives nothing lost it.
    {"conversion gives nothing", kFile, "f_expwrite", L"{h}," + kLine,
     {{"WideCharToMultiByte", 1, ERROR_INVALID_PARAMETER}}, 0, L"-1", "", "old\r\n"},
    // Without what a take-back needs, a line that goes in whole still counts.
    {"kind of handle unknown", kFile, "f_expwrite", L"{h}," + kLine, {{"GetFileType", 1, ERROR_INVALID_HANDLE}}, 0,
     L"6", "", "old\r\n" + kUtf8Line},
    {"no file information: no mark", kFile, "f_expwrite", L"{h}," + kLine,
     {{"GetFileInformationByHandle", 1, kDenied}}, 0, L"6", "", kUtf8Line, L"utf8output=yes", ""},
    {"no position", kFile, "f_expwrite", L"{h}," + kLine, {{"SetFilePointerEx", 1, kDenied}}, 0, L"6", "",
     "old\r\n" + kUtf8Line},
    // ... and a cut line cannot be taken back: it stays, as before.
    {"kind of handle unknown, line cut", kFile, "f_expwrite", L"{h}," + kLine,
     {{"GetFileType", 1, ERROR_INVALID_HANDLE}, {"WriteFile", 1, 0, 2}}, 0, L"-1", "", "old\r\na\xC3"},
    {"no file information, line cut", kFile, "f_expwrite", L"{h}," + kLine,
     {{"GetFileInformationByHandle", 1, kDenied}, {"WriteFile", 1, 0, 2}}, 0, L"-1", "", "old\r\na\xC3"},
    {"no position, line cut", kFile, "f_expwrite", L"{h}," + kLine,
     {{"SetFilePointerEx", 1, kDenied}, {"WriteFile", 1, 0, 2}}, 0, L"-1", "", "old\r\na\xC3"},
    // The take-back failing: the torn line stays; after a failed cut the
    // position is at the old end, where the line written again covers it.
    {"move to the old end fails", kFile, "f_expwrite", L"{h}," + kLine,
     {{"WriteFile", 1, 0, 2}, {"SetFilePointerEx", 2, kDenied}}, 0, L"-1", "", "old\r\na\xC3"},
    {"cut fails", kFile, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 2}, {"SetEndOfFile", 1, kDenied}}, 0,
     L"-1", "", "old\r\na\xC3", L"utf8output=yes", "old\r\n", 5},
    {"move back fails after the cut", kFile, "f_expwrite", L"{h}," + kLine,
     {{"WriteFile", 1, 0, 2}, {"SetFilePointerEx", 3, kDenied}}, 0, L"-1", "", "old\r\n"},
    // Nothing can be taken back from a pipe; a character device counts a
    // successful write whole.
    {"pipe takes part", kPipe, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 2}}, 0, L"-1", "", "a\xE9",
     L"codepage=1252"},
    {"pipe refuses", kPipe, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, ERROR_NO_DATA}}, 0, L"-1", "", "",
     L"codepage=1252"},
    {"character device counts a short write whole", kNul, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, 0, 2}},
     0, L"6", ""},
    {"character device refuses", kNul, "f_expwrite", L"{h}," + kLine, {{"WriteFile", 1, ERROR_GEN_FAILURE}}, 0,
     L"-1", ""},
    {"no standard output", kStdout, "f_expwrite", L"-," + kLine, {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, 0,
     L"-1", "", ""},
    // A message goes whole or not at all.
    {"@expwrite message lost", kBuffer, "f_expwrite", L"", {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, -1, L"", ""},

    // ---- Escape settings and @escenv's value: a variable that cannot be
    // read counts as unset. Ivro_Chars is x, Ivro_Flags 1 (escape non-ASCII);
    // a multi-argument function's message leaves the caller's buffer as it
    // was.
    {"@escapify without Ivro_Chars", kBuffer, "f_escapify", L"x\u00e9", {{"GetEnvironmentVariableW", 1, kNotFound}},
     0, L"x\\u00e9", ""},
    {"@escapify without Ivro_Flags", kBuffer, "f_escapify", L"x\u00e9", {{"GetEnvironmentVariableW", 2, kNotFound}},
     0, L"\\u78\u00e9", ""},
    {"@escapify message lost", kBuffer, "f_escapify", std::wstring(5000, L'\t'),
     {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, -1, std::wstring(5000, L'\t'), ""},
    {"@expreplace without Ivro_Chars", kBuffer, "f_expreplace", L"q,x,0,q\u00e9",
     {{"GetEnvironmentVariableW", 1, kNotFound}}, 0, L"x\\u00e9", ""},
    {"@expreplace without Ivro_Flags", kBuffer, "f_expreplace", L"q,x,0,q\u00e9",
     {{"GetEnvironmentVariableW", 2, kNotFound}}, 0, L"\\u78\u00e9", ""},
    {"@expreplace message lost", kBuffer, "f_expreplace", L"a,b,z,abc", {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}},
     -1, L"a,b,z,abc", ""},
    {"@escenv without the value", kBuffer, "f_escenv", L"IVRO_XE", {{"GetEnvironmentVariableW", 1, kNotFound}}, 0,
     L"", ""},
    {"@escenv without Ivro_Chars", kBuffer, "f_escenv", L"IVRO_XE", {{"GetEnvironmentVariableW", 2, kNotFound}}, 0,
     L"x\\u00e9", ""},
    {"@escenv without Ivro_Flags", kBuffer, "f_escenv", L"IVRO_XE", {{"GetEnvironmentVariableW", 3, kNotFound}}, 0,
     L"\\u78\u00e9", ""},
    {"@escenv message lost", kBuffer, "f_escenv", L"1x", {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, -1, L"1X", ""},
    {"@escline without Ivro_Chars", kReadFile, "f_escline", L"{p},0", {{"GetEnvironmentVariableW", 1, kNotFound}},
     0, L"x\\ty", "", "", L"utf8output=yes", "x\ty\r\n"},
    {"@escline without Ivro_Flags", kReadFile, "f_escline", L"{p},0", {{"GetEnvironmentVariableW", 2, kNotFound}},
     0, L"\\u78\\ty", "", "", L"utf8output=yes", "x\ty\r\n"},
    {"@escline message lost", kBuffer, "f_escline", std::wstring(8185, L'a'),
     {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, -1, std::wstring(8185, L'a'), ""},
    {"@escread without Ivro_Chars", kReadFile, "f_escread", L"{h}", {{"GetEnvironmentVariableW", 1, kNotFound}}, 0,
     L"x\\ty", "", "", L"utf8output=yes", "x\ty\r\n"},
    {"@escread without Ivro_Flags", kReadFile, "f_escread", L"{h}", {{"GetEnvironmentVariableW", 2, kNotFound}}, 0,
     L"\\u78\\ty", "", "", L"utf8output=yes", "x\ty\r\n"},
    {"@escread message lost", kBuffer, "f_escread", std::wstring(8185, L'a'),
     {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, -1, std::wstring(8185, L'a'), ""},
    {"@expcmp message lost", kBuffer, "f_expcmp", L"a,b,z", {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, -1,
     L"a,b,z", ""},
    // @exp and EXPECHO complain only of a text longer than a shell hands
    // over (8192 units here: the call gets a buffer of that size and more).
    {"@exp message lost", kBuffer, "f_exp", kTooLong, {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, -1, kTooLong, ""},
    {"EXPECHO message lost", kBuffer, "expecho", L" " + kTooLong, {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, 2,
     L" " + kTooLong, ""},

    // ---- @expfind's offset: the evaluator's complaint is silenced only when
    // both standard handles can be sent away and brought back.
    {"standard error not given: the evaluator is heard", kBuffer, "f_expfind", L"abcb,b,1,0,1+",
     {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, -1, L"abcb,b,1,0,1+", kBadExpression + kBadOffset},
    {"standard output not given: the evaluator is heard", kBuffer, "f_expfind", L"abcb,b,1,0,1+",
     {{"GetStdHandle", 2, ERROR_INVALID_HANDLE}}, -1, L"abcb,b,1,0,1+", kBadExpression + kBadOffset},
    {"no null device: the evaluator is heard", kBuffer, "f_expfind", L"abcb,b,1,0,1+",
     {{"CreateFileW", 1, kDenied}}, -1, L"abcb,b,1,0,1+", kBadExpression + kBadOffset},
    {"standard error not sent away", kBuffer, "f_expfind", L"abcb,b,1,0,1+", {{"SetStdHandle", 1, kDenied}}, -1,
     L"abcb,b,1,0,1+", kBadExpression + kBadOffset},
    {"standard output not sent away", kBuffer, "f_expfind", L"abcb,b,1,0,1+", {{"SetStdHandle", 2, kDenied}}, -1,
     L"abcb,b,1,0,1+", kBadOffset},
    {"standard error not brought back: it stays on the null device", kBuffer, "f_expfind", L"abcb,b,1,0,1+",
     {{"SetStdHandle", 3, kDenied}}, -1, L"abcb,b,1,0,1+", "", "", L"utf8output=yes", "old\r\n", -1, 0, false, false,
     kErrOnNull},
    {"standard output not brought back: it stays on the null device", kBuffer, "f_expfind", L"abcb,b,1,0,1+",
     {{"SetStdHandle", 4, kDenied}}, -1, L"abcb,b,1,0,1+", kBadOffset, "", L"utf8output=yes", "old\r\n", -1, 0, false,
     false, kOutOnNull},
    {"null device not closed", kBuffer, "f_expfind", L"abcb,b,1,0,1+1", {{"CloseHandle", 1, ERROR_INVALID_HANDLE}},
     0, L"3", ""},
    {"@expfind message lost", kBuffer, "f_expfind", L"abcb,b,1,0,1+", {{"GetStdHandle", 3, ERROR_INVALID_HANDLE}},
     -1, L"abcb,b,1,0,1+", ""},

    // ---- Help: a place that fails moves the search on; the viewer comes
    // from the system's Windows directory, else the system directory, else
    // PATH (which names the Windows directory under wine).
    {"the help file's attributes", kHelp, "Help", L"@exp", {{"GetFileAttributesW", 1, kDenied}}, 1, L"", "", "",
     L"utf8output=yes", "", -1, 0, true},
    {"the viewer's attributes: PATH finds it", kHelp, "Help", L"@exp", {{"GetFileAttributesW", 2, kDenied}}, 1, L"",
     "", "", L"utf8output=yes", "", -1, 1},
    {"no Windows directory: PATH finds the viewer", kHelp, "Help", L"@exp",
     {{"GetSystemWindowsDirectoryW", 1, kDenied}}, 1, L"", "", "", L"utf8output=yes", "", -1, 1},
    {"no Windows or system directory", kHelp, "Help", L"@exp",
     {{"GetSystemWindowsDirectoryW", 1, kDenied}, {"GetSystemDirectoryW", 1, kDenied}}, 1, L"", "", "",
     L"utf8output=yes", "", -1, 1},
    {"no Windows directory, no PATH: no viewer", kHelp, "Help", L"@exp",
     {{"GetSystemWindowsDirectoryW", 1, kDenied}, {"GetEnvironmentVariableW", 1, kNotFound}}, 1, L"", "", "",
     L"utf8output=yes", "", -1, 0, true},
    {"the viewer does not start", kHelp, "Help", L"@exp", {{"CreateProcessW", 1, kDenied}}, 1, L"", "", "",
     L"utf8output=yes", "", -1, 0, true},
    {"its thread handle not closed", kHelp, "Help", L"@exp", {{"CloseHandle", 1, ERROR_INVALID_HANDLE}}, 1, L"", "",
     "", L"utf8output=yes", "", -1, 1},
    {"the earlier viewer not ended", kHelpAgain, "Help", L"@exp", {{"TerminateProcess", 1, kDenied}}, 1, L"", "", "",
     L"utf8output=yes", "", -1, 1, false, true},
    {"the earlier viewer's handle not closed", kHelpAgain, "Help", L"@exp", {{"CloseHandle", 2, kDenied}}, 1, L"",
     "", "", L"utf8output=yes", "", -1, 1},
    // The module's own folder unknown: the shell's, the same here, has it.
    {"no module file name", kBeside, "Help", L"@exp", {{"GetModuleFileNameW", 1, ERROR_INSUFFICIENT_BUFFER}}, 1,
     L"", "", "", L"utf8output=yes", "", -1, 1},
    // The box names the Windows directory as the seventh place has it.
    {"no Windows directory for the box", kNoHelp, "Help", L"@exp", {{"GetSystemWindowsDirectoryW", 1, kDenied}}, 1,
     L"", "", "", L"utf8output=yes", "", -1, 0, true},
    {"help's message lost without its path buffers", kNoMemory, "Help", L"@exp",
     {{"GetStdHandle", 1, ERROR_INVALID_HANDLE}}, 1, L"", "", "", L"utf8output=yes", "", -1, 0, false},
    {"the viewer not ended at shutdown", kShutdown, "ShutdownPlugin", L"", {{"TerminateProcess", 1, kDenied}}, 0,
     L"", "", "", L"utf8output=yes", "", -1, 0, false, true},
    {"its handle not closed at shutdown", kShutdown, "ShutdownPlugin", L"", {{"CloseHandle", 1, kDenied}}, 0, L"",
     "", "", L"utf8output=yes", "", -1, 0, false, false},
};

// Exports with no row: a sample call of each, which must make no call to
// Windows at all (or the table lacks its rows).
const struct {
    const char* call;
    std::wstring argument;
} kQuiet[] = {
    {"f_exp", L"a\\tb"},        {"f_exp", L"\\x"},      {"f_expcmp", L"a,b"}, {"_ivrover", L""},
    {"expecho", L"a\\tb"},      {"GetPluginInfo", L""}, {"InitializePlugin", L""}, {"Usage", L"expecho"},
};

class PlatformFailure : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        window_ = new ForegroundWindow;
        viewer_ = new StandInViewer;
        SetEnvironmentVariableW(L"Ivro_Chars", L"x");
        SetEnvironmentVariableW(L"Ivro_Flags", L"1");
        SetEnvironmentVariableW(L"IVRO_XE", L"x\u00e9");
        SetEnvironmentVariableW(L"noloadmsg", L"1");
    }
    static void TearDownTestSuite()
    {
        for (const wchar_t* name : {L"Ivro_Chars", L"Ivro_Flags", L"IVRO_XE", L"noloadmsg"})
            SetEnvironmentVariableW(name, nullptr);
        delete viewer_;
        delete window_;
    }

    static std::vector<std::string> Operations()
    {
        std::vector<std::string> names;
        for (int i = 0; const char* name = ExportAs<OperationProc>("IvroPlatformOperation")(i); ++i)
            names.push_back(name);
        return names;
    }
    static std::vector<long> Counts(const std::vector<std::string>& operations)
    {
        std::vector<long> counts;
        for (const std::string& name : operations)
            counts.push_back(ExportAs<CallsProc>("IvroPlatformCalls")(name.c_str()));
        return counts;
    }

    static ForegroundWindow* window_;
    static StandInViewer* viewer_;
};

ForegroundWindow* PlatformFailure::window_ = nullptr;
StandInViewer* PlatformFailure::viewer_ = nullptr;

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// What a row's call met and left: the scene set up, and taken down again.
class Stage {
public:
    explicit Stage(const Row& row) : row_(row)
    {
        ShellCommand(std::wstring(L"option ") + row.option);
        dir_ = TempDir() + L"\\failure";
        CreateDirectoryW(dir_.c_str(), nullptr);
        path_ = dir_ + L"\\target.txt";
        log_ = dir_ + L"\\viewer.log";
        DeleteFileW(log_.c_str());
        SetEnvironmentVariableW(L"IVRO_VIEWER_LOG", log_.c_str());
        SetEnvironmentVariableW(L"IvroHelp", nullptr);
        switch (row.scene) {
        case kFile:
        case kReadFile:
            WriteFileBytes(path_, row.before);
            handle_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
            if (row.scene == kFile)
                SetFilePointer(handle_, 0, nullptr, FILE_END);
            break;
        case kPipe: CreatePipe(&pipeEnd_, &handle_, nullptr, 1 << 16); break;
        case kNul:
            handle_ = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
            break;
        case kHelp:
        case kHelpAgain:
        case kShutdown:
            SetEnvironmentVariableW(L"IvroHelp", dir_.c_str());
            WriteFileBytes(dir_ + L"\\Ivro.chm", "not really compiled help");
            break;
        case kBeside: WriteFileBytes(ModuleFolder() + L"\\Ivro.chm", "not really compiled help"); break;
        default: break;
        }
        if (row.scene == kHelpAgain || row.scene == kShutdown) {
            wchar_t name[] = L"@expfind";
            ExportAs<HelpProc>("Help")(name);
            earlier_ = Launches(log_, 1);
        }
        if (row.scene == kNoMemory)
            ExportAs<ScratchFailAtProc>("IvroScratchFailAt")(1);
    }
    ~Stage()
    {
        ExportAs<ScratchFailAtProc>("IvroScratchFailAt")(0);
        ExportAs<ShutdownPluginProc>("ShutdownPlugin")(0);
        for (const Launch& launch : Launches(log_, 0))
            EndViewer(launch.pid);
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        if (pipeEnd_ != nullptr)
            CloseHandle(pipeEnd_);
        DeleteFileW(path_.c_str());
        DeleteFileW(log_.c_str());
        DeleteFileW((dir_ + L"\\Ivro.chm").c_str());
        DeleteFileW((ModuleFolder() + L"\\Ivro.chm").c_str());
        RemoveDirectoryW(dir_.c_str());
        ShellCommand(L"option unicodeoutput=no");
        ShellCommand(L"option utf8output=no");
        ShellCommand(L"option codepage=437");
    }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    std::wstring Argument() const
    {
        return Replace(Replace(row_.argument, L"{h}", std::to_wstring(reinterpret_cast<uintptr_t>(handle_))), L"{p}",
                       path_);
    }

    // What the file or pipe holds after the call.
    std::string Target()
    {
        if (row_.scene == kFile)
            return ReadFileBytes(path_);
        std::string bytes;
        if (row_.scene == kPipe) {
            CloseHandle(handle_);
            handle_ = nullptr;
            char chunk[256];
            DWORD got = 0;
            while (ReadFile(pipeEnd_, chunk, sizeof chunk, &got, nullptr) && got > 0)
                bytes.append(chunk, got);
        }
        return bytes;
    }

    long long Position() const
    {
        LARGE_INTEGER position = {};
        SetFilePointerEx(handle_, LARGE_INTEGER{}, &position, FILE_CURRENT);
        return position.QuadPart;
    }

    const std::vector<Launch>& Earlier() const { return earlier_; }
    const std::wstring& Log() const { return log_; }

    static std::wstring ModuleFolder()
    {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(Module(), path, MAX_PATH);
        std::wstring folder = path;
        return folder.substr(0, folder.find_last_of(L'\\'));
    }

private:
    const Row& row_;
    std::wstring dir_, path_, log_;
    HANDLE handle_ = nullptr;
    HANDLE pipeEnd_ = nullptr;
    std::vector<Launch> earlier_;
};

// What a call of an export did.
struct Outcome {
    int code = 0;
    std::wstring text;
    Output output;
    bool guardIntact = true;
    HANDLE err[2] = {}, out[2] = {}; // the standard handles before and after
    std::wstring box;
};

Outcome Call(const char* name, const std::wstring& argument)
{
    GuardedBuffer buffer(argument, std::max<size_t>(MAX_ARG_LEN, argument.size() + 1));
    const std::string export_ = name;

    Outcome outcome;
    outcome.box = DismissingTheBox([&] {
        outcome.output = Capture([&] {
            outcome.err[0] = GetStdHandle(STD_ERROR_HANDLE);
            outcome.out[0] = GetStdHandle(STD_OUTPUT_HANDLE);
            if (export_ == "Help" || export_ == "Usage") {
                wchar_t usage[PLUGIN_USAGE_LEN] = {};
                outcome.code = export_ == "Help" ? ExportAs<HelpProc>("Help")(buffer.Data())
                                                 : ExportAs<UsageProc>("Usage")(buffer.Data(), usage);
            } else if (export_ == "ShutdownPlugin") {
                outcome.code = ExportAs<ShutdownPluginProc>("ShutdownPlugin")(0);
            } else if (export_ == "InitializePlugin") {
                outcome.code = ExportAs<InitializePluginProc>("InitializePlugin")();
            } else if (export_ == "GetPluginInfo") {
                outcome.code = ExportAs<GetPluginInfoProc>("GetPluginInfo")() == nullptr;
            } else {
                outcome.code = BufferExport(name)(buffer.Data());
            }
            outcome.err[1] = GetStdHandle(STD_ERROR_HANDLE);
            outcome.out[1] = GetStdHandle(STD_OUTPUT_HANDLE);
            // Put back what the module could not, for the capture to read.
            SetStdHandle(STD_ERROR_HANDLE, outcome.err[0]);
            SetStdHandle(STD_OUTPUT_HANDLE, outcome.out[0]);
        });
    });
    outcome.text = buffer.Text();
    outcome.guardIntact = buffer.GuardIntact();
    return outcome;
}

void Arm(const std::vector<Fault>& faults)
{
    for (const Fault& fault : faults)
        ASSERT_EQ(ExportAs<FailCallProc>("IvroFailCall")(fault.operation, fault.nth, fault.error, fault.bytes), 0)
            << fault.operation << " is no operation of the module";
}

void Disarm() { ExportAs<FailCallProc>("IvroFailCall")(nullptr, 0, 0, -1); }

TEST_F(PlatformFailure, EveryCallOfEveryExport)
{
    const std::vector<std::string> operations = Operations();
    ASSERT_FALSE(operations.empty());
    // Which export made which call, with and without the failures.
    std::map<std::string, std::set<std::string>> made;
    auto note = [&](const char* call, const std::vector<long>& before) {
        const std::vector<long> after = Counts(operations);
        for (size_t i = 0; i < operations.size(); ++i)
            if (after[i] != before[i])
                made[call].insert(operations[i]);
    };
    wchar_t windows[MAX_PATH];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);

    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        {
            Stage stage(row);
            std::vector<long> before = Counts(operations);
            Call(row.call, stage.Argument());
            note(row.call, before);
        }
        Stage stage(row);
        const std::wstring expansion = ShellExpand(L"%_expansion");
        const std::vector<long> before = Counts(operations);
        Arm(row.faults);
        Outcome outcome = Call(row.call, stage.Argument());
        const long pending = ExportAs<PendingProc>("IvroFaultsPending")();
        Disarm();
        note(row.call, before);

        EXPECT_EQ(pending, 0) << "a failure was not reached";
        EXPECT_EQ(outcome.code, row.code);
        if (row.scene < kHelp) {
            EXPECT_EQ(Show(outcome.text), Show(row.text));
        }
        EXPECT_EQ(ShowBytes(outcome.output.err), ShowBytes(row.err));
        EXPECT_TRUE(outcome.guardIntact);
        EXPECT_EQ(Show(ShellExpand(L"%_expansion")), Show(expansion)) << "the shell's expansion setting";

        switch (row.scene) {
        case kFile: {
            EXPECT_EQ(ShowBytes(stage.Target()), ShowBytes(row.target));
            EXPECT_EQ(stage.Position(), row.position < 0 ? (long long)(row.target.size()) : row.position);
            break;
        }
        case kPipe: EXPECT_EQ(ShowBytes(stage.Target()), ShowBytes(row.target)); break;
        case kStdout: EXPECT_EQ(ShowBytes(outcome.output.out), ShowBytes(row.target)); break;
        default: break;
        }

        // The standard handles come back, or stay on the null device.
        const bool errMoved = row.handles == kErrOnNull, outMoved = row.handles == kOutOnNull;
        EXPECT_EQ(outcome.err[1] != outcome.err[0], errMoved) << "standard error";
        EXPECT_EQ(outcome.out[1] != outcome.out[0], outMoved) << "standard output";
        for (HANDLE left : {errMoved ? outcome.err[1] : nullptr, outMoved ? outcome.out[1] : nullptr}) {
            if (left != nullptr) {
                EXPECT_EQ(GetFileType(left), DWORD(FILE_TYPE_CHAR)) << "the null device, still open";
                CloseHandle(left);
            }
        }

        // The viewers: started, recorded (ended by the next shutdown), and
        // the earlier one ended or left running.
        if (row.scene >= kHelp) {
            const size_t earlier = stage.Earlier().size();
            std::vector<Launch> launches = Launches(stage.Log(), earlier + size_t(row.started));
            EXPECT_EQ(launches.size(), earlier + size_t(row.started)) << "viewers started";
            EXPECT_EQ(Show(outcome.box), Show(row.box ? MissingHelp(windows) : L""));
            ExportAs<ShutdownPluginProc>("ShutdownPlugin")(0);
            for (size_t i = 0; i < launches.size(); ++i) {
                const bool runs = i < earlier && row.earlierRuns;
                for (int wait = 0; wait < 250 && Alive(launches[i].pid) != runs; ++wait)
                    Sleep(20);
                EXPECT_EQ(Alive(launches[i].pid), runs) << (i < earlier ? "the earlier viewer" : "a new viewer");
            }
        }
    }

    for (const auto& quiet : kQuiet) {
        std::vector<long> before = Counts(operations);
        Call(quiet.call, quiet.argument);
        note(quiet.call, before);
    }
    // Every call an export made has a row that makes it fail.
    std::map<std::string, std::set<std::string>> failed;
    for (const Row& row : kRows)
        for (const Fault& fault : row.faults)
            failed[row.call].insert(fault.operation);
    for (const auto& [call, operations_made] : made)
        for (const std::string& operation : operations_made)
            EXPECT_EQ(failed[call].count(operation), 1u)
                << call << " calls " << operation << ", and no row makes that call fail";
}

} // namespace
