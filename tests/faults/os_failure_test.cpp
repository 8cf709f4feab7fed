// The module's test build with its calls to Windows made to fail.
//
// The sweep: for each export that calls Windows and each scene of a small
// product (handles opened for reading, writing and appending, positions,
// pipes, devices, encodings; settings, messages), the call runs once to count
// its calls; then every one of them is failed in turn, once and from then on
// (refused, and a write also cut short, reported as success and as failure,
// and with each call of the take-back after it failing too), and each
// outcome is judged against a model of what the call may leave: the whole
// result or a failure, never something in between. Every scene runs under
// wine's rules for what a handle may do and under Windows' stricter ones.
//
// The rows: what the sweep's one failure a case cannot reach (a take-back
// failing after a failed write, another handle writing in between, the help
// viewer, which setting a failed read stands for, a message word for word),
// one row each, runnable alone by name.
//
// A last check holds both to the module: every call that any export makes is
// failed by a row or by the sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "harness.h"
#include "plugin/functions.h"
#include "plugin/host.h"
#include "viewer_process.h"

namespace {

typedef const char*(WINAPI* OperationProc)(int i);
typedef int(WINAPI* FailCallProc)(const char* operation, long n, DWORD error, long bytes);
typedef int(WINAPI* FailCallsFromProc)(const char* operation, long n, DWORD error);
typedef int(WINAPI* WindowsRulesProc)(BOOL windows, HANDLE handle, DWORD access);
typedef int(WINAPI* InterposeProc)(const char* operation, long n, void(WINAPI* step)());
typedef long(WINAPI* CallsProc)(const char* operation);
typedef long(WINAPI* PendingProc)();
typedef void(WINAPI* ScratchFailAtProc)(long n);

constexpr DWORD kDiskFull = ERROR_DISK_FULL;
constexpr DWORD kDenied = ERROR_ACCESS_DENIED;
constexpr DWORD kNotFound = ERROR_ENVVAR_NOT_FOUND;

// One call to Windows made to fail: the nth call of `operation` during the
// export's call fails with `error`, and where it `persists` every later call
// of it too. A WriteFile with `bytes` of zero or more first puts in that many
// bytes, and an `error` of 0 then reports success: a disk that takes what
// fits says so.
struct Fault {
    std::string operation;
    long nth;
    DWORD error;
    long bytes = -1;
    bool persists = false;
};

Fault Refused(const char* operation, long nth = 1, DWORD error = kDenied) { return {operation, nth, error}; }
// The nth call and every later one refused.
Fault RefusedFrom(const std::string& operation, long nth, DWORD error) { return {operation, nth, error, -1, true}; }
// The nth write puts in `bytes` and reports success.
Fault WriteCut(long nth, long bytes) { return {"WriteFile", nth, 0, bytes}; }
// The nth write puts in `bytes` and then fails.
Fault WriteCutRefused(long nth, long bytes) { return {"WriteFile", nth, kDiskFull, bytes}; }
// The nth read reads `bytes`, the position moving past them, and then fails.
Fault ReadCutRefused(long nth, long bytes) { return {"ReadFile", nth, kDenied, bytes}; }

std::string Describe(const Fault& fault)
{
    std::string text = fault.operation + " #" + std::to_string(fault.nth);
    if (fault.bytes < 0)
        return text + (fault.persists ? " and every later one refused" : " refused");
    return text + " cut at " + std::to_string(fault.bytes) + " bytes, reported as " +
           (fault.error == 0 ? "success" : "failure");
}

// The error a refused call of `operation` sets.
DWORD ErrorOf(const std::string& operation)
{
    if (operation == "WriteFile")
        return kDiskFull;
    if (operation == "GetStdHandle")
        return ERROR_INVALID_HANDLE;
    if (operation == "GetEnvironmentVariableW")
        return kNotFound;
    return kDenied;
}

void Arm(const std::vector<Fault>& faults)
{
    for (const Fault& fault : faults) {
        const char* operation = fault.operation.c_str();
        ASSERT_EQ(fault.persists
                      ? ExportAs<FailCallsFromProc>("IvroFailCallsFrom")(operation, fault.nth, fault.error)
                      : ExportAs<FailCallProc>("IvroFailCall")(operation, fault.nth, fault.error, fault.bytes),
                  0)
            << fault.operation << " is no operation of the module";
    }
}

void Disarm() { ExportAs<FailCallProc>("IvroFailCall")(nullptr, 0, 0, -1); }

// Whose rules a handle's calls follow: wine's own, or Windows' (a handle
// that only appends cannot cut the file, say), which the module's test build
// applies to the handles it is told the access of.
enum class Rules { kWine, kWindows };
Rules g_rules = Rules::kWine;

const char* Name(Rules rules) { return rules == Rules::kWine ? "wine's rules" : "Windows' rules"; }
void PrintTo(Rules rules, std::ostream* out) { *out << Name(rules); }

// Under Windows' rules, the calls on `handle` follow the rights of `access`.
void NameAccess(HANDLE handle, DWORD access)
{
    if (g_rules == Rules::kWindows) {
        ASSERT_EQ(ExportAs<WindowsRulesProc>("IvroWindowsRules")(TRUE, handle, access), 0) << "too many handles named";
    }
}

void SetRules(Rules rules)
{
    g_rules = rules;
    ExportAs<WindowsRulesProc>("IvroWindowsRules")(rules == Rules::kWindows, nullptr, 0);
}

long Pending() { return ExportAs<PendingProc>("IvroFaultsPending")(); }

std::vector<std::string> Operations()
{
    std::vector<std::string> names;
    for (int i = 0; const char* name = ExportAs<OperationProc>("IvroOsOperation")(i); ++i)
        names.push_back(name);
    return names;
}

// How often each operation has been called so far.
std::map<std::string, long> Counts()
{
    static const std::vector<std::string> operations = Operations();
    std::map<std::string, long> counts;
    for (const std::string& name : operations)
        counts[name] = ExportAs<CallsProc>("IvroOsCalls")(name.c_str());
    return counts;
}

// The calls made between two counts, by operation.
std::map<std::string, long> Made(const std::map<std::string, long>& before)
{
    std::map<std::string, long> made;
    for (const auto& [name, count] : Counts())
        if (count != before.at(name))
            made[name] = count - before.at(name);
    return made;
}

// Which export made which call, and which calls some row or sweep made fail:
// the last check compares the two.
struct Coverage {
    std::map<std::string, std::set<std::string>> made, failed;
    size_t rows = 0, sweeps = 0, quiet = 0; // sweeps: those that ran every scene
};
Coverage g_coverage;

void NoteMade(const char* call, const std::map<std::string, long>& made)
{
    for (const auto& entry : made)
        g_coverage.made[call].insert(entry.first);
}

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// What a call of an export did.
struct Outcome {
    int code = 0;
    std::wstring text;
    Output output;
    bool guardIntact = true;
    HANDLE err[2] = {}, out[2] = {}; // the standard handles before and after
    std::wstring box;
};

// Calls an export with `argument` in a buffer of the shell's size (or more,
// for a longer argument), its output captured.
Outcome Call(const char* name, const std::wstring& argument)
{
    GuardedBuffer buffer(argument, std::max<size_t>(MAX_ARG_LEN, argument.size() + 1));
    const std::string export_ = name;
    Outcome outcome;
    outcome.output = Capture([&] {
        outcome.err[0] = GetStdHandle(STD_ERROR_HANDLE);
        outcome.out[0] = GetStdHandle(STD_OUTPUT_HANDLE);
        // The capture's files are open for reading and writing.
        NameAccess(outcome.out[0], GENERIC_READ | GENERIC_WRITE);
        NameAccess(outcome.err[0], GENERIC_READ | GENERIC_WRITE);
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
    outcome.text = buffer.Text();
    outcome.guardIntact = buffer.GuardIntact();
    return outcome;
}

// The same, reading and dismissing the box a help request may show.
Outcome CallDismissing(const char* name, const std::wstring& argument)
{
    Outcome outcome;
    std::wstring box = DismissingTheBox([&] { outcome = Call(name, argument); });
    outcome.box = box;
    return outcome;
}

// A standard handle that a call left on the null device is closed here, so
// that the next call starts as this one did.
void CloseLeftOnNull(HANDLE before, HANDLE after)
{
    if (after != before && after != nullptr && after != INVALID_HANDLE_VALUE &&
        GetFileType(after) == FILE_TYPE_CHAR)
        CloseHandle(after);
}

const std::string kLines = "line1\r\nline2\r\n";

// The line "a\u00e9b" and CR LF in each output encoding, and the marks.
const std::wstring kLine = L"a\\u00e9b";
const std::string kUtf8Line = "a\xC3\xA9" "b\r\n";
const std::string kUtf16Line("a\0\xE9\0b\0\r\0\n\0", 10);
const std::string kCp1252Line = "a\xE9" "b\r\n";
const std::string kUtf8Mark = "\xEF\xBB\xBF";
const std::string kUtf16Mark = "\xFF\xFE";
const std::wstring kTooLong(MAX_ARG_LEN, L'z');
// The evaluator's complaint about @expfind's offset, and the module's.
const std::string kBadExpression = "ivsh: Bad expression: 1+\r\n";
const std::string kBadOffset = "Ivro plugin: Bad offset: \"1+\"\r\n";

// The settings that the exports read, as the tests set them: Ivro_Chars x,
// Ivro_Flags 1 (escape non-ASCII), IVRO_XE for @escenv.
class Settings {
public:
    Settings()
    {
        SetEnvironmentVariableW(L"Ivro_Chars", L"x");
        SetEnvironmentVariableW(L"Ivro_Flags", L"1");
        SetEnvironmentVariableW(L"IVRO_XE", L"x\u00e9");
        SetEnvironmentVariableW(L"noloadmsg", L"1");
    }
    ~Settings()
    {
        for (const wchar_t* name : {L"Ivro_Chars", L"Ivro_Flags", L"IVRO_XE", L"noloadmsg"})
            SetEnvironmentVariableW(name, nullptr);
    }
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;
};

// ---------------------------------------------------------------------------
// The sweep of @expwrite.

enum class Kind { kDisk, kPipe, kNull, kConsole, kStdout };
enum class Access { kReadWrite, kReadOnly, kWriteOnly, kAppendOnly, kAppendRead };

struct WriteScene {
    const char* name;
    Kind kind;
    Access access = Access::kReadWrite;
    std::string before = {}; // what a disk file holds
    long long position = 0;  // where its handle is
};

const WriteScene kWriteScenes[] = {
    {"read-write, at the end", Kind::kDisk, Access::kReadWrite, kLines, 14},
    {"read-write, in the middle", Kind::kDisk, Access::kReadWrite, kLines, 7},
    {"read-write, at the start", Kind::kDisk, Access::kReadWrite, kLines, 0},
    {"read-write, empty", Kind::kDisk, Access::kReadWrite, "", 0},
    {"read-only, in the middle", Kind::kDisk, Access::kReadOnly, kLines, 7},
    {"read-only, empty", Kind::kDisk, Access::kReadOnly, "", 0},
    {"write-only, in the middle", Kind::kDisk, Access::kWriteOnly, kLines, 7},
    {"append-only", Kind::kDisk, Access::kAppendOnly, kLines, 0},
    {"append-only, empty", Kind::kDisk, Access::kAppendOnly, "", 0},
    // Past the end the line, written at the end, ends before the position.
    {"append-only, past the end", Kind::kDisk, Access::kAppendOnly, kLines, 100},
    {"appending and reading", Kind::kDisk, Access::kAppendRead, kLines, 0},
    {"appending and reading, past the end of an empty file", Kind::kDisk, Access::kAppendRead, "", 50},
    {"a pipe", Kind::kPipe},
    {"the null device", Kind::kNull},
    {"a console", Kind::kConsole},
    {"standard output, a file", Kind::kStdout},
};

struct Encoding {
    const char* name;
    const wchar_t* option;
    std::string line; // the line's bytes
    std::string mark; // the byte-order mark of an empty file
    unsigned count;   // the result: units (UTF-16) or bytes
};

const Encoding kEncodings[] = {
    {"UTF-16", L"unicodeoutput=yes", kUtf16Line, kUtf16Mark, 5},
    {"UTF-8", L"utf8output=yes", kUtf8Line, kUtf8Mark, 6},
    {"code page 1252", L"codepage=1252", kCp1252Line, "", 5},
};

void SetOutput(const wchar_t* option)
{
    ShellCommand(L"option unicodeoutput=no");
    ShellCommand(L"option utf8output=no");
    ShellCommand(L"option codepage=437");
    ShellCommand(std::wstring(L"option ") + option);
}

// A console of the test program's own, where wine gives one (it needs an X
// server): its output handle, or null.
HANDLE g_console = nullptr;
std::string g_noConsole;

// The target of one call of @expwrite: set up for the call, read after it.
class WriteStage {
public:
    WriteStage(const WriteScene& scene, const Encoding& encoding) : scene_(scene)
    {
        SetOutput(encoding.option);
        path_ = TempDir() + L"\\sweep.txt";
        switch (scene.kind) {
        case Kind::kDisk: {
            WriteFileBytes(path_, scene.before);
            const DWORD access[] = {GENERIC_READ | GENERIC_WRITE, GENERIC_READ, GENERIC_WRITE, FILE_APPEND_DATA,
                                    FILE_APPEND_DATA | GENERIC_READ};
            handle_ = CreateFileW(path_.c_str(), access[int(scene.access)], FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
            NameAccess(handle_, access[int(scene.access)]);
            LARGE_INTEGER at = {};
            at.QuadPart = scene.position;
            SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN);
            break;
        }
        case Kind::kPipe:
            CreatePipe(&pipeEnd_, &handle_, nullptr, 1 << 16);
            NameAccess(handle_, GENERIC_WRITE); // a pipe's write end
            break;
        case Kind::kNull:
            handle_ = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
            NameAccess(handle_, GENERIC_WRITE);
            break;
        case Kind::kConsole:
            handle_ = g_console;
            NameAccess(handle_, GENERIC_READ | GENERIC_WRITE);
            break;
        case Kind::kStdout: break;
        }
        BY_HANDLE_FILE_INFORMATION info;
        // The capture's file is empty and known to Windows.
        sized_ = scene.kind == Kind::kStdout || GetFileInformationByHandle(handle_, &info);
    }
    ~WriteStage()
    {
        SetRules(g_rules); // the handles named forgotten
        if (handle_ != nullptr && handle_ != g_console)
            CloseHandle(handle_);
        if (pipeEnd_ != nullptr)
            CloseHandle(pipeEnd_);
        DeleteFileW(path_.c_str());
    }
    WriteStage(const WriteStage&) = delete;
    WriteStage& operator=(const WriteStage&) = delete;

    std::wstring Argument() const
    {
        const std::wstring handle =
            scene_.kind == Kind::kStdout ? L"-" : std::to_wstring(reinterpret_cast<uintptr_t>(handle_));
        return handle + L"," + kLine;
    }

    // Windows tells the handle's file size: an empty file gets the mark.
    bool Sized() const { return sized_; }

    // What the file or pipe holds after the call (for standard output, what
    // the call wrote there).
    std::string Target(const Outcome& outcome)
    {
        switch (scene_.kind) {
        case Kind::kDisk: return ReadFileBytes(path_);
        case Kind::kStdout: return outcome.output.out;
        case Kind::kPipe: {
            CloseHandle(handle_);
            handle_ = nullptr;
            std::string bytes;
            char chunk[256];
            DWORD got = 0;
            while (ReadFile(pipeEnd_, chunk, sizeof chunk, &got, nullptr) && got > 0)
                bytes.append(chunk, got);
            return bytes;
        }
        default: return "";
        }
    }

    long long Position() const
    {
        LARGE_INTEGER position = {};
        SetFilePointerEx(handle_, LARGE_INTEGER{}, &position, FILE_CURRENT);
        return position.QuadPart;
    }

private:
    const WriteScene& scene_;
    std::wstring path_;
    HANDLE handle_ = nullptr;
    HANDLE pipeEnd_ = nullptr;
    bool sized_ = false;
};

// `bytes` written over `file` at `at`, the file growing where they reach past
// its end.
std::string Overlay(std::string file, const std::string& bytes, size_t at)
{
    if (file.size() < at + bytes.size())
        file.resize(at + bytes.size());
    file.replace(at, bytes.size(), bytes);
    return file;
}

// The model of @expwrite. A call leaves the whole line or nothing: the
// result counts the line and the target holds it (after the mark on an empty
// file) at the handle's position (at the end for a handle that only
// appends), the position just after it; or the result is -1 and the target
// is as it was, bytes and position. Then where the line must be lost, where
// it must survive, and what a handle cannot take back:
// - a write refused or cut short loses the line; a console alone counts a
//   cut that reports success whole;
// - a conversion or standard output that cannot be had loses it;
// - a call that only looks at the target (its kind, its size, whether it is
//   a console, the bytes the line will overwrite) never costs the line, nor
//   does a refused move of a position (the line still goes in, or nothing);
// - a handle that cannot write takes nothing; what went into a pipe stays
//   there; a handle that cannot read leaves what a failed line overwrote
//   inside the file;
// - where Windows does not let a handle that only appends cut the file, what
//   got in stays at the end (and wine lets it cut: the file as it was);
// - where a call of the take-back fails too, what it could not undo stays:
//   the line's first bytes where it was put, the rest of the file as it was;
//   and where a move of the position failed for good, the handle may stand
//   anywhere the call's own reads, writes and moves took it.
// And always: no message, the caller's buffer within its size, the shell's
// expansion setting and the standard handles as they were.
void JudgeWrite(const WriteScene& scene, const Encoding& encoding, const WriteStage& stage, Rules rules,
                const std::vector<Fault>& faults, const Outcome& outcome, const std::string& target, long long position,
                const std::wstring& expansion)
{
    const Fault* fault = faults.empty() ? nullptr : &faults.front();
    const bool takeBackFails = faults.size() > 1;
    bool moveLost = false;
    for (const Fault& each : faults)
        moveLost = moveLost || (each.operation == "SetFilePointerEx" && (each.persists || takeBackFails));
    EXPECT_EQ(outcome.code, 0);
    EXPECT_EQ(ShowBytes(outcome.output.err), "");
    EXPECT_TRUE(outcome.guardIntact);
    EXPECT_EQ(Show(ShellExpand(L"%_expansion")), Show(expansion)) << "the shell's expansion setting";
    EXPECT_EQ(outcome.err[1], outcome.err[0]) << "standard error";
    EXPECT_EQ(outcome.out[1], outcome.out[0]) << "standard output";

    const bool counted = outcome.text == std::to_wstring(encoding.count);
    const bool failed = outcome.text == L"-1";
    ASSERT_TRUE(counted || failed) << "the result: " << Show(outcome.text);

    const std::string op = fault != nullptr ? fault->operation : "";
    const bool disk = scene.kind == Kind::kDisk || scene.kind == Kind::kStdout;
    const bool writable = scene.kind != Kind::kDisk || scene.access != Access::kReadOnly;
    if (!writable || op == "WideCharToMultiByte" || op == "GetStdHandle") {
        EXPECT_TRUE(failed) << "the line cannot have been written";
    } else if (op == "WriteFile") {
        EXPECT_EQ(counted, scene.kind == Kind::kConsole && fault->bytes >= 0 && fault->error == 0)
            << "a write refused or cut short, counted as the whole line";
    } else if (op != "SetFilePointerEx") {
        EXPECT_TRUE(counted) << "a call that only looks at the target cost the line";
    }

    const bool empty = disk && scene.before.empty();
    const bool marked = empty && stage.Sized() && op != "GetFileInformationByHandle";
    const std::string written = (marked ? encoding.mark : "") + encoding.line;
    switch (scene.kind) {
    case Kind::kDisk:
    case Kind::kStdout: {
        const bool appends = scene.access == Access::kAppendOnly || scene.access == Access::kAppendRead;
        const size_t at = appends ? scene.before.size() : size_t(scene.position);
        if (counted) {
            EXPECT_EQ(ShowBytes(target), ShowBytes(Overlay(scene.before, written, at))) << "the line, whole";
            if (scene.kind == Kind::kDisk && !moveLost) {
                EXPECT_EQ(position, (long long)(at + written.size())) << "the position just after the line";
            }
            break;
        }
        if (scene.kind == Kind::kDisk && !moveLost) {
            EXPECT_EQ(position, scene.position) << "the position as it was";
        } else if (scene.kind == Kind::kDisk) {
            const long long size = (long long)scene.before.size(), lowest = std::min(scene.position, size),
                            highest = std::max({scene.position, size, (long long)at}) + (long long)written.size();
            EXPECT_TRUE(position >= lowest && position <= highest)
                << "the position " << position << " beyond the call's own reach, " << lowest << " to " << highest;
        }
        const bool keepsWhatGotIn = rules == Rules::kWindows && appends;
        if (scene.access != Access::kWriteOnly && !keepsWhatGotIn && !takeBackFails) {
            EXPECT_EQ(ShowBytes(target), ShowBytes(scene.before)) << "the file as it was";
            break;
        }
        {
            // Only the line's first bytes may stand where it was put. A
            // handle that cannot read has nothing to write the overwritten
            // bytes back with, and the file keeps its size; one that cannot
            // cut, or whose take-back failed, may keep what got in past the
            // old end, the bytes inside the file put back or not.
            const bool grows = keepsWhatGotIn || takeBackFails;
            const size_t inside = at < scene.before.size() ? scene.before.size() - at : 0;
            bool torn = false;
            for (size_t k = 0; k <= written.size() && (grows || at + k <= scene.before.size()); ++k) {
                torn = torn || Overlay(scene.before, written.substr(0, k), at) == target;
                if (grows && k > inside)
                    torn = torn || scene.before + written.substr(inside, k - inside) == target;
            }
            EXPECT_TRUE(torn) << "beyond the line's first bytes, the file as it was: " << ShowBytes(target);
        }
        break;
    }
    case Kind::kPipe:
        if (counted) {
            EXPECT_EQ(ShowBytes(target), ShowBytes(written));
            break;
        }
        EXPECT_TRUE(target.size() <= written.size() && written.compare(0, target.size(), target) == 0)
            << "a pipe keeps what went in, a part of the line: " << ShowBytes(target);
        break;
    default: break;
    }
}

// ---------------------------------------------------------------------------
// The sweep of the other exports: their settings, their messages, the
// standard handles of @expfind.

struct CallScene {
    std::string name;
    std::string call;
    std::wstring argument; // {p}: a file that holds "x\ty" CR LF; {h}: its handle, open for reading
    // What the shell may say when the module cannot send standard error away.
    std::string aside = {};
};

// An argument for each parameter that the functions' syntax lines name: an
// ordinary one, and those the functions report as faults (or cannot take
// whole). A function of the table is swept with all its arguments ordinary,
// then with each parameter's faulty ones in turn; a parameter of a new name
// needs its row here.
struct ParameterKind {
    const char* name;
    std::wstring ordinary;
    std::vector<std::wstring> faulty;
    std::string aside = {}; // what the shell says of a faulty one
};

const std::wstring kTabs(5000, L'\t'); // escaped, more than a buffer holds
const std::wstring kTooLongName(8185, L'a');

const ParameterKind kParameterKinds[] = {
    {"text", L"x\u00e9", {kTabs, kTooLong}},
    {"string", L"q\u00e9b", {kTabs, kTooLong}},
    {"s1", L"a", {kTooLong}},
    {"s2", L"b", {}},
    {"sub", L"b", {}},
    {"from", L"q", {L""}},
    {"to", L"x", {}},
    {"name", L"IVRO_XE", {L"1x"}},
    {"file", L"{p}", {kTooLongName}},
    {"handle", L"{h}", {kTooLongName}},
    {"n", L"0", {L"x"}},
    {"flags", L"0", {L"z"}},
    // The evaluator complains of an offset it cannot read.
    {"offset", L"1+1", {L"1+"}, kBadExpression},
};

// The parameters of a syntax line, "%@name[a,b[,c]]" or "COMMAND a".
std::vector<std::string> ParametersOf(const std::string& syntax)
{
    std::vector<std::string> parameters;
    const size_t open = syntax.find_first_of("[ ");
    if (open == std::string::npos)
        return parameters;
    std::string name;
    for (size_t i = open + 1; i <= syntax.size(); ++i) {
        const char c = i < syntax.size() ? syntax[i] : ',';
        if (c == ',' || c == '[' || c == ']' || c == ' ') {
            if (!name.empty())
                parameters.push_back(name);
            name.clear();
        } else {
            name += c;
        }
    }
    return parameters;
}

// The scenes of every function of the table that takes arguments.
std::vector<CallScene> CallScenes()
{
    struct Function {
        const char* name;
        const char* call;
        const char* syntax;
    };
    static const Function kFunctions[] = {
#define IVRO_SWEPT_FUNCTION(name, export, page, syntax, summary) {name, #export, syntax},
        IVRO_FUNCTIONS(IVRO_SWEPT_FUNCTION)
#undef IVRO_SWEPT_FUNCTION
    };
    std::vector<CallScene> scenes;
    for (const Function& function : kFunctions) {
        std::vector<const ParameterKind*> kinds;
        for (const std::string& parameter : ParametersOf(function.syntax)) {
            const ParameterKind* kind = nullptr;
            for (const ParameterKind& each : kParameterKinds)
                if (parameter == each.name)
                    kind = &each;
            if (kind == nullptr)
                ADD_FAILURE() << function.name << " takes " << parameter
                              << ", which has no row in kParameterKinds: the sweep cannot call it";
            else
                kinds.push_back(kind);
        }
        if (kinds.empty())
            continue;
        // A command's text follows its name and a blank; a function's
        // arguments are separated by commas.
        const bool command = function.name[0] != '@';
        auto argument = [&](size_t faulty, const std::wstring& value) {
            std::wstring joined = command ? L" " : L"";
            for (size_t k = 0; k < kinds.size(); ++k)
                joined += (k > 0 ? L"," : L"") + (k == faulty ? value : kinds[k]->ordinary);
            return joined;
        };
        scenes.push_back({function.name, function.call, argument(kinds.size(), L"")});
        for (size_t k = 0; k < kinds.size(); ++k)
            for (size_t f = 0; f < kinds[k]->faulty.size(); ++f)
                scenes.push_back({std::string(function.name) + ", its " + kinds[k]->name + " faulty (" +
                                      std::to_string(f + 1) + ")",
                                  function.call, argument(k, kinds[k]->faulty[f]), kinds[k]->aside});
    }
    return scenes;
}

// The settings a failed read may stand for: the call with one of them unset.
const wchar_t* const kSettings[] = {L"Ivro_Chars", L"Ivro_Flags", L"IVRO_XE"};

class CallStage {
public:
    explicit CallStage(const CallScene& scene) : scene_(scene)
    {
        SetOutput(L"codepage=437");
        path_ = TempDir() + L"\\line.txt";
        WriteFileBytes(path_, "x\ty\r\n");
        handle_ = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
        NameAccess(handle_, GENERIC_READ);
    }
    ~CallStage()
    {
        SetRules(g_rules);
        CloseHandle(handle_);
        DeleteFileW(path_.c_str());
    }
    CallStage(const CallStage&) = delete;
    CallStage& operator=(const CallStage&) = delete;

    std::wstring Argument() const
    {
        return Replace(Replace(scene_.argument, L"{h}", std::to_wstring(reinterpret_cast<uintptr_t>(handle_))), L"{p}",
                       path_);
    }

private:
    const CallScene& scene_;
    std::wstring path_;
    HANDLE handle_;
};

// The model of the other exports. A setting that cannot be read counts as
// unset: the result is the call's own, or the one it gives with one setting
// unset. The return code is the call's own. Standard error holds the call's
// message, unless the standard handles are what failed: then the message is
// lost whole where it was all standard error was asked for, may be lost
// where @expfind also sent the handles away, and what the shell says may
// get through. A standard handle
// that was sent away and cannot be brought back stays on the null device,
// still open; any other is as it was. The caller's buffer stays within its
// size, and the shell's expansion setting comes back.
void JudgeCall(const CallScene& scene, const Fault& fault, const Outcome& clean,
               const std::vector<std::wstring>& unsetTexts, const Outcome& outcome, const std::wstring& expansion)
{
    EXPECT_EQ(outcome.code, clean.code);
    EXPECT_TRUE(outcome.text == clean.text ||
                std::find(unsetTexts.begin(), unsetTexts.end(), outcome.text) != unsetTexts.end())
        << "the result: " << Show(outcome.text) << ", the call's own: " << Show(clean.text);
    EXPECT_TRUE(outcome.guardIntact);
    EXPECT_EQ(Show(ShellExpand(L"%_expansion")), Show(expansion)) << "the shell's expansion setting";

    const std::string& err = outcome.output.err;
    const bool handles = fault.operation == "GetStdHandle" || fault.operation == "SetStdHandle" ||
                         fault.operation == "CreateFileW";
    const std::string& aside = scene.aside;
    const std::string without = aside.empty() || err.compare(0, aside.size(), aside) != 0 ? err : err.substr(aside.size());
    if (aside.empty() && fault.operation == "GetStdHandle" && !clean.output.err.empty()) {
        // Standard error asked for the message alone, and not given.
        EXPECT_EQ(ShowBytes(err), "") << "the message goes whole or not at all";
    } else if (handles) {
        EXPECT_TRUE(without == clean.output.err || without.empty()) << ShowBytes(err);
    } else {
        EXPECT_EQ(ShowBytes(err), ShowBytes(clean.output.err));
    }

    const bool mayStay = fault.operation == "SetStdHandle";
    for (const auto& [before, after, name] : {std::tuple{outcome.err[0], outcome.err[1], "standard error"},
                                              std::tuple{outcome.out[0], outcome.out[1], "standard output"}}) {
        if (after == before)
            continue;
        EXPECT_TRUE(mayStay) << name << " moved";
        EXPECT_EQ(GetFileType(after), DWORD(FILE_TYPE_CHAR)) << name << " left on the null device, still open";
    }
}

// ---------------------------------------------------------------------------
// The rows.

// What a row's call runs against.
enum Scene {
    kBuffer,    // an export with its buffer and nothing else
    kFile,      // @expwrite to a disk file that holds `before`, at `at`: {h}
    kReadFile,  // a file that holds `before` at its start: {h} its handle, {p} its path
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
    Scene scene = kBuffer;
    const char* call;
    std::wstring argument = {}; // {h} and {p} as the scene says
    std::vector<Fault> faults = {};
    // Another handle appends `appended` to the file just before the nth call
    // of `between` (the call's count, as a Fault's).
    Fault between = {};
    std::string appended = {};
    int code = 0;
    std::wstring text = {};      // the caller's buffer afterwards (not for Help)
    std::string err = {};        // standard error
    std::string target = {};     // the file's bytes afterwards
    const wchar_t* option = L"utf8output=yes";
    std::string before = "old\r\n"; // what the file holds before
    DWORD access = GENERIC_READ | GENERIC_WRITE; // what its handle may do
    Rules rules = Rules::kWine;     // under whose rules
    long long at = -1;              // where the handle is before; -1: at the end
    long long position = -1;        // where it is afterwards; -1: at the end
    int started = 0;                // viewers started by the call
    bool box = false;               // the missing-help box shown
    bool earlierRuns = false;       // the viewer of the earlier request still runs
    Handles handles = kAsBefore;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

const std::wstring kWriteLine = L"{h}," + kLine;

// The path of the file a row writes to, for the other handle's step.
std::wstring g_rowPath;
std::string g_rowAppended;

void WINAPI AppendThroughAnotherHandle()
{
    HANDLE other = CreateFileW(g_rowPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    DWORD done = 0;
    WriteFile(other, g_rowAppended.data(), DWORD(g_rowAppended.size()), &done, nullptr);
    CloseHandle(other);
}

const Row kRows[] = {
    // ---- @expwrite: what the sweep's single failure cannot reach. A line
    // cut short where nothing can be taken back stays torn: the kind, the
    // size or the position of the handle unknown.
    {.name = "kind of handle unknown, line cut", .scene = kFile, .call = "f_expwrite", .argument = kWriteLine,
     .faults = {Refused("GetFileType", 1, ERROR_INVALID_HANDLE), WriteCut(1, 2)}, .text = L"-1",
     .target = "old\r\na\xC3"},
    {.name = "no file information, line cut", .scene = kFile, .call = "f_expwrite", .argument = kWriteLine,
     .faults = {Refused("GetFileInformationByHandle"), WriteCut(1, 2)}, .text = L"-1", .target = "old\r\na\xC3"},
    {.name = "no position, line cut", .scene = kFile, .call = "f_expwrite", .argument = kWriteLine,
     .faults = {Refused("SetFilePointerEx"), WriteCut(1, 2)}, .text = L"-1", .target = "old\r\na\xC3"},
    // The take-back failing: what it could not undo stays, and the position
    // goes back wherever it can, so that the line written again covers it.
    {.name = "where the line ended unknown", .scene = kFile, .call = "f_expwrite", .argument = kWriteLine,
     .faults = {WriteCut(1, 2), Refused("SetFilePointerEx", 2)}, .text = L"-1", .target = "old\r\na\xC3",
     .position = 5},
    {.name = "the size after the line unknown", .scene = kFile, .call = "f_expwrite", .argument = kWriteLine,
     .faults = {WriteCut(1, 2), Refused("GetFileInformationByHandle", 2)}, .text = L"-1", .target = "old\r\na\xC3",
     .position = 5},
    {.name = "move to the old end fails", .scene = kFile, .call = "f_expwrite", .argument = kWriteLine,
     .faults = {WriteCut(1, 2), Refused("SetFilePointerEx", 3)}, .text = L"-1", .target = "old\r\na\xC3",
     .position = 5},
    {.name = "cut fails", .scene = kFile, .call = "f_expwrite", .argument = kWriteLine,
     .faults = {WriteCut(1, 2), Refused("SetEndOfFile")}, .text = L"-1", .target = "old\r\na\xC3", .position = 5},
    {.name = "move back fails after the cut", .scene = kFile, .call = "f_expwrite", .argument = kWriteLine,
     .faults = {WriteCut(1, 2), Refused("SetFilePointerEx", 4)}, .text = L"-1", .target = "old\r\n"},
    // In the middle of a file: the overwritten bytes, read before the line,
    // are written back unless the file holds them still.
    {.name = "inside: the line cut, its bytes put back", .scene = kFile, .call = "f_expwrite",
     .argument = kWriteLine, .faults = {WriteCut(1, 4)}, .text = L"-1", .target = "old\r\n", .at = 1, .position = 1},
    {.name = "inside: the bytes there not read again, nothing written blind", .scene = kFile, .call = "f_expwrite",
     .argument = kWriteLine, .faults = {WriteCut(1, 4), Refused("ReadFile", 2)}, .text = L"-1",
     .target = "oa\xC3\xA9" "b", .at = 1, .position = 1},
    {.name = "inside: the bytes there read in part, nothing written blind", .scene = kFile, .call = "f_expwrite",
     .argument = kWriteLine, .faults = {WriteCut(1, 4), ReadCutRefused(2, 2)}, .text = L"-1",
     .target = "oa\xC3\xA9" "b", .at = 1, .position = 1},
    // The read of the bytes the line will overwrite fails after moving on:
    // the line still goes where the handle was.
    {.name = "inside: the read before the line moved and failed", .scene = kFile, .call = "f_expwrite",
     .argument = kWriteLine, .faults = {ReadCutRefused(1, 2)}, .text = L"6", .target = "oa\xC3\xA9" "b\r\n", .at = 1},
    {.name = "inside: the put-back refused", .scene = kFile, .call = "f_expwrite", .argument = kWriteLine,
     .faults = {WriteCut(1, 4), Refused("WriteFile", 2, kDiskFull)}, .text = L"-1", .target = "oa\xC3\xA9" "b",
     .at = 1, .position = 1},
    {.name = "inside: no position to put them back at", .scene = kFile, .call = "f_expwrite",
     .argument = kWriteLine, .faults = {WriteCut(1, 4), Refused("SetFilePointerEx", 4)}, .text = L"-1",
     .target = "oa\xC3\xA9" "b", .at = 1, .position = 1},
    // Another handle appends while the line fails: the size is not the one
    // the call left, and the file is left alone but for the position.
    {.name = "another handle appends in between: no cut", .scene = kFile, .call = "f_expwrite",
     .argument = kWriteLine, .faults = {WriteCut(1, 2)}, .between = Refused("GetFileInformationByHandle", 2),
     .appended = "zz", .text = L"-1", .target = "old\r\na\xC3zz", .position = 5},
    // A handle that only appends writes at the end, whatever its position:
    // past the end, its line ends before the position and is cut off all
    // the same. Windows does not let such a handle cut the file: what got in
    // stays there (wine lets it).
    {.name = "appending past the end: the line cut off", .scene = kFile, .call = "f_expwrite",
     .argument = kWriteLine, .faults = {WriteCut(1, 2)}, .text = L"-1", .target = "old\r\n",
     .access = FILE_APPEND_DATA, .at = 100, .position = 100},
    {.name = "appending under Windows' rules: what got in stays", .scene = kFile, .call = "f_expwrite",
     .argument = kWriteLine, .faults = {WriteCut(1, 2)}, .text = L"-1", .target = "old\r\na\xC3",
     .access = FILE_APPEND_DATA, .rules = Rules::kWindows, .at = 100, .position = 100},
    {.name = "@expwrite message lost", .call = "f_expwrite", .faults = {Refused("GetStdHandle", 1,
                                                                               ERROR_INVALID_HANDLE)},
     .code = -1},

    // ---- Which setting a failed read of the environment stands for: a
    // variable that cannot be read counts as unset. Ivro_Chars is x,
    // Ivro_Flags 1 (escape non-ASCII).
    {.name = "@escapify without Ivro_Chars", .call = "f_escapify", .argument = L"x\u00e9",
     .faults = {Refused("GetEnvironmentVariableW", 1, kNotFound)}, .text = L"x\\u00e9"},
    {.name = "@escapify without Ivro_Flags", .call = "f_escapify", .argument = L"x\u00e9",
     .faults = {Refused("GetEnvironmentVariableW", 2, kNotFound)}, .text = L"\\u78\u00e9"},
    {.name = "@expreplace without Ivro_Chars", .call = "f_expreplace", .argument = L"q,x,0,q\u00e9",
     .faults = {Refused("GetEnvironmentVariableW", 1, kNotFound)}, .text = L"x\\u00e9"},
    {.name = "@expreplace without Ivro_Flags", .call = "f_expreplace", .argument = L"q,x,0,q\u00e9",
     .faults = {Refused("GetEnvironmentVariableW", 2, kNotFound)}, .text = L"\\u78\u00e9"},
    {.name = "@escenv without the value", .call = "f_escenv", .argument = L"IVRO_XE",
     .faults = {Refused("GetEnvironmentVariableW", 1, kNotFound)}, .text = L""},
    {.name = "@escenv without Ivro_Chars", .call = "f_escenv", .argument = L"IVRO_XE",
     .faults = {Refused("GetEnvironmentVariableW", 2, kNotFound)}, .text = L"x\\u00e9"},
    {.name = "@escenv without Ivro_Flags", .call = "f_escenv", .argument = L"IVRO_XE",
     .faults = {Refused("GetEnvironmentVariableW", 3, kNotFound)}, .text = L"\\u78\u00e9"},
    {.name = "@escline without Ivro_Chars", .scene = kReadFile, .call = "f_escline", .argument = L"{p},0",
     .faults = {Refused("GetEnvironmentVariableW", 1, kNotFound)}, .text = L"x\\ty", .before = "x\ty\r\n"},
    {.name = "@escline without Ivro_Flags", .scene = kReadFile, .call = "f_escline", .argument = L"{p},0",
     .faults = {Refused("GetEnvironmentVariableW", 2, kNotFound)}, .text = L"\\u78\\ty", .before = "x\ty\r\n"},
    {.name = "@escread without Ivro_Chars", .scene = kReadFile, .call = "f_escread", .argument = L"{h}",
     .faults = {Refused("GetEnvironmentVariableW", 1, kNotFound)}, .text = L"x\\ty", .before = "x\ty\r\n"},
    {.name = "@escread without Ivro_Flags", .scene = kReadFile, .call = "f_escread", .argument = L"{h}",
     .faults = {Refused("GetEnvironmentVariableW", 2, kNotFound)}, .text = L"\\u78\\ty", .before = "x\ty\r\n"},

    // ---- @expfind's offset: the evaluator's complaint is silenced only when
    // both standard handles can be sent away and brought back.
    {.name = "standard error not given: the evaluator is heard", .call = "f_expfind", .argument = L"abcb,b,1,0,1+",
     .faults = {Refused("GetStdHandle", 1, ERROR_INVALID_HANDLE)}, .code = -1, .text = L"abcb,b,1,0,1+",
     .err = kBadExpression + kBadOffset},
    {.name = "standard output not given: the evaluator is heard", .call = "f_expfind",
     .argument = L"abcb,b,1,0,1+", .faults = {Refused("GetStdHandle", 2, ERROR_INVALID_HANDLE)}, .code = -1,
     .text = L"abcb,b,1,0,1+", .err = kBadExpression + kBadOffset},
    {.name = "no null device: the evaluator is heard", .call = "f_expfind", .argument = L"abcb,b,1,0,1+",
     .faults = {Refused("CreateFileW")}, .code = -1, .text = L"abcb,b,1,0,1+", .err = kBadExpression + kBadOffset},
    {.name = "standard error not sent away", .call = "f_expfind", .argument = L"abcb,b,1,0,1+",
     .faults = {Refused("SetStdHandle")}, .code = -1, .text = L"abcb,b,1,0,1+", .err = kBadExpression + kBadOffset},
    {.name = "standard output not sent away", .call = "f_expfind", .argument = L"abcb,b,1,0,1+",
     .faults = {Refused("SetStdHandle", 2)}, .code = -1, .text = L"abcb,b,1,0,1+", .err = kBadOffset},
    {.name = "standard error not brought back: it stays on the null device", .call = "f_expfind",
     .argument = L"abcb,b,1,0,1+", .faults = {Refused("SetStdHandle", 3)}, .code = -1, .text = L"abcb,b,1,0,1+",
     .handles = kErrOnNull},
    {.name = "standard output not brought back: it stays on the null device", .call = "f_expfind",
     .argument = L"abcb,b,1,0,1+", .faults = {Refused("SetStdHandle", 4)}, .code = -1, .text = L"abcb,b,1,0,1+",
     .err = kBadOffset, .handles = kOutOnNull},
    {.name = "null device not closed", .call = "f_expfind", .argument = L"abcb,b,1,0,1+1",
     .faults = {Refused("CloseHandle", 1, ERROR_INVALID_HANDLE)}, .text = L"3"},
    {.name = "@expfind message lost", .call = "f_expfind", .argument = L"abcb,b,1,0,1+",
     .faults = {Refused("GetStdHandle", 3, ERROR_INVALID_HANDLE)}, .code = -1, .text = L"abcb,b,1,0,1+"},

    // ---- Help: a place that fails moves the search on; the viewer comes
    // from the system's Windows directory, else the system directory, else
    // PATH (which names the Windows directory under wine).
    {.name = "the help file's attributes", .scene = kHelp, .call = "Help", .argument = L"@exp",
     .faults = {Refused("GetFileAttributesW")}, .code = 1, .box = true},
    {.name = "the viewer's attributes: PATH finds it", .scene = kHelp, .call = "Help", .argument = L"@exp",
     .faults = {Refused("GetFileAttributesW", 2)}, .code = 1, .started = 1},
    {.name = "no Windows directory: PATH finds the viewer", .scene = kHelp, .call = "Help", .argument = L"@exp",
     .faults = {Refused("GetSystemWindowsDirectoryW")}, .code = 1, .started = 1},
    {.name = "no Windows or system directory", .scene = kHelp, .call = "Help", .argument = L"@exp",
     .faults = {Refused("GetSystemWindowsDirectoryW"), Refused("GetSystemDirectoryW")}, .code = 1, .started = 1},
    {.name = "no Windows directory, no PATH: no viewer", .scene = kHelp, .call = "Help", .argument = L"@exp",
     .faults = {Refused("GetSystemWindowsDirectoryW"), Refused("GetEnvironmentVariableW", 1, kNotFound)}, .code = 1,
     .box = true},
    {.name = "the viewer does not start", .scene = kHelp, .call = "Help", .argument = L"@exp",
     .faults = {Refused("CreateProcessW")}, .code = 1, .box = true},
    {.name = "its thread handle not closed", .scene = kHelp, .call = "Help", .argument = L"@exp",
     .faults = {Refused("CloseHandle", 1, ERROR_INVALID_HANDLE)}, .code = 1, .started = 1},
    {.name = "the earlier viewer not ended", .scene = kHelpAgain, .call = "Help", .argument = L"@exp",
     .faults = {Refused("TerminateProcess")}, .code = 1, .started = 1, .earlierRuns = true},
    {.name = "the earlier viewer's handle not closed", .scene = kHelpAgain, .call = "Help", .argument = L"@exp",
     .faults = {Refused("CloseHandle", 2)}, .code = 1, .started = 1},
    // The module's own folder unknown: the shell's, the same here, has it.
    {.name = "no module file name", .scene = kBeside, .call = "Help", .argument = L"@exp",
     .faults = {Refused("GetModuleFileNameW", 1, ERROR_INSUFFICIENT_BUFFER)}, .code = 1, .started = 1},
    // The box names the Windows directory as the seventh place has it.
    {.name = "no Windows directory for the box", .scene = kNoHelp, .call = "Help", .argument = L"@exp",
     .faults = {Refused("GetSystemWindowsDirectoryW")}, .code = 1, .box = true},
    {.name = "help's message lost without its path buffers", .scene = kNoMemory, .call = "Help",
     .argument = L"@exp", .faults = {Refused("GetStdHandle", 1, ERROR_INVALID_HANDLE)}, .code = 1},
    {.name = "the viewer not ended at shutdown", .scene = kShutdown, .call = "ShutdownPlugin",
     .faults = {Refused("TerminateProcess")}, .earlierRuns = true},
    {.name = "its handle not closed at shutdown", .scene = kShutdown, .call = "ShutdownPlugin",
     .faults = {Refused("CloseHandle")}},
};

// Exports with no row and no scene of the sweep: a sample call of each,
// which must make no call to Windows at all (or they lack their rows).
const struct {
    const char* call;
    std::wstring argument;
} kQuiet[] = {
    {"f_exp", L"a\\tb"},        {"f_exp", L"\\x"},      {"f_expcmp", L"a,b"}, {"_ivrover", L""},
    {"expecho", L"a\\tb"},      {"GetPluginInfo", L""}, {"InitializePlugin", L""}, {"Usage", L"expecho"},
};

// What a row's call met and left: the scene set up, and taken down again.
class Stage {
public:
    explicit Stage(const Row& row) : row_(row)
    {
        SetOutput(row.option);
        dir_ = TempDir() + L"\\failure";
        CreateDirectoryW(dir_.c_str(), nullptr);
        path_ = dir_ + L"\\target.txt";
        log_ = dir_ + L"\\viewer.log";
        DeleteFileW(log_.c_str());
        SetEnvironmentVariableW(L"IVRO_VIEWER_LOG", log_.c_str());
        SetEnvironmentVariableW(L"IvroHelp", nullptr);
        switch (row.scene) {
        case kFile:
        case kReadFile: {
            WriteFileBytes(path_, row.before);
            handle_ = CreateFileW(path_.c_str(), row.access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
            SetRules(row.rules);
            NameAccess(handle_, row.access);
            LARGE_INTEGER at = {};
            at.QuadPart = row.at < 0 ? 0 : row.at;
            if (row.scene == kFile)
                SetFilePointerEx(handle_, at, nullptr, row.at < 0 ? FILE_END : FILE_BEGIN);
            g_rowPath = path_;
            g_rowAppended = row.appended;
            break;
        }
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
        SetRules(Rules::kWine);
        ExportAs<ScratchFailAtProc>("IvroScratchFailAt")(0);
        ExportAs<ShutdownPluginProc>("ShutdownPlugin")(0);
        for (const Launch& launch : Launches(log_, 0))
            EndViewer(launch.pid);
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        DeleteFileW(path_.c_str());
        DeleteFileW(log_.c_str());
        DeleteFileW((dir_ + L"\\Ivro.chm").c_str());
        DeleteFileW((ModuleFolder() + L"\\Ivro.chm").c_str());
        RemoveDirectoryW(dir_.c_str());
        SetOutput(L"codepage=437");
    }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;

    std::wstring Argument() const
    {
        return Replace(Replace(row_.argument, L"{h}", std::to_wstring(reinterpret_cast<uintptr_t>(handle_))), L"{p}",
                       path_);
    }

    std::string Target() const { return ReadFileBytes(path_); }

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
    std::vector<Launch> earlier_;
};

// ---------------------------------------------------------------------------
// The tests.

class PlatformFailure : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        window_ = new ForegroundWindow;
        viewer_ = new StandInViewer;
        settings_ = new Settings;
    }
    static void TearDownTestSuite()
    {
        delete settings_;
        delete viewer_;
        delete window_;
    }

    static ForegroundWindow* window_;
    static StandInViewer* viewer_;
    static Settings* settings_;
};

ForegroundWindow* PlatformFailure::window_ = nullptr;
StandInViewer* PlatformFailure::viewer_ = nullptr;
Settings* PlatformFailure::settings_ = nullptr;

class FailureRow : public PlatformFailure, public ::testing::WithParamInterface<Row> {};

TEST_P(FailureRow, LeavesWhatTheRowSays)
{
    const Row& row = GetParam();
    {
        // The calls the export makes without the failures.
        Stage stage(row);
        const auto before = Counts();
        CallDismissing(row.call, stage.Argument());
        NoteMade(row.call, Made(before));
    }
    wchar_t windows[MAX_PATH];
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    Stage stage(row);
    const std::wstring expansion = ShellExpand(L"%_expansion");
    const auto before = Counts();
    Arm(row.faults);
    if (!row.appended.empty()) {
        ASSERT_EQ(ExportAs<InterposeProc>("IvroInterpose")(row.between.operation.c_str(), row.between.nth,
                                                           AppendThroughAnotherHandle),
                  0);
    }
    const Outcome outcome = CallDismissing(row.call, stage.Argument());
    const long pending = Pending();
    Disarm();
    NoteMade(row.call, Made(before));
    for (const Fault& fault : row.faults)
        g_coverage.failed[row.call].insert(fault.operation);
    ++g_coverage.rows;

    EXPECT_EQ(pending, 0) << "a failure was not reached";
    EXPECT_EQ(outcome.code, row.code);
    if (row.scene < kHelp) {
        EXPECT_EQ(Show(outcome.text), Show(row.text));
    }
    EXPECT_EQ(ShowBytes(outcome.output.err), ShowBytes(row.err));
    EXPECT_TRUE(outcome.guardIntact);
    EXPECT_EQ(Show(ShellExpand(L"%_expansion")), Show(expansion)) << "the shell's expansion setting";
    if (row.scene == kFile) {
        EXPECT_EQ(ShowBytes(stage.Target()), ShowBytes(row.target));
        EXPECT_EQ(stage.Position(), row.position < 0 ? (long long)(row.target.size()) : row.position);
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

    // The viewers: started, recorded (ended by the next shutdown), and the
    // earlier one ended or left running.
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

// A row's name as a test's: "cut fails" is FailureRow.LeavesWhatTheRowSays/cut_fails.
std::string TestName(const ::testing::TestParamInfo<Row>& info)
{
    std::string name;
    for (const char* c = info.param.name; *c != 0; ++c) {
        const bool word = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        if (word)
            name += *c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_')
        name.pop_back();
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, FailureRow, ::testing::ValuesIn(kRows), TestName);

TEST_F(PlatformFailure, ExportsWithoutRowsCallNothing)
{
    for (const auto& quiet : kQuiet) {
        const auto before = Counts();
        Call(quiet.call, quiet.argument);
        NoteMade(quiet.call, Made(before));
        ++g_coverage.quiet;
    }
}

// The calls a case made after the call its first fault failed or cut, by
// operation: the first and the last of them, counted from the case's start
// as a Fault counts them.
using Later = std::map<std::string, std::pair<long, long>>;

// Every call of every case of the sweep, under the rules of the parameter.
class Sweep : public PlatformFailure, public ::testing::WithParamInterface<Rules> {
protected:
    void SetUp() override { SetRules(GetParam()); }
    void TearDown() override { SetRules(Rules::kWine); }

    static void SetUpTestSuite()
    {
        PlatformFailure::SetUpTestSuite();
        // A console of the program's own, for the console scene; the
        // standard handles stay the program's.
        const HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE),
                     err = GetStdHandle(STD_ERROR_HANDLE);
        FreeConsole();
        if (AllocConsole()) {
            g_console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
            DWORD mode = 0;
            if (g_console == INVALID_HANDLE_VALUE || !GetConsoleMode(g_console, &mode)) {
                g_noConsole = "wine's console gave no output handle";
                g_console = nullptr;
            }
        } else {
            g_noConsole = "wine made no console (error " + std::to_string(GetLastError()) + ")";
        }
        SetStdHandle(STD_INPUT_HANDLE, in);
        SetStdHandle(STD_OUTPUT_HANDLE, out);
        SetStdHandle(STD_ERROR_HANDLE, err);
    }
    static void TearDownTestSuite()
    {
        // The console itself stays until the program ends: freeing it under
        // wine takes the program's own output with it.
        if (g_console != nullptr)
            CloseHandle(g_console);
        g_console = nullptr;
        PlatformFailure::TearDownTestSuite();
    }

    // How many cases failed one call and how many failed every call from one
    // on (a cut write and a take-back call failing count as the latter's
    // mode).
    struct Tally {
        size_t once = 0, from = 0;
        void Add(const Tally& other)
        {
            once += other.once;
            from += other.from;
        }
    };

    // Runs `clean` once without failures to count its calls, then `faulted`
    // once for every case: each call failed in turn, once and from then on,
    // and each write also cut short at a few byte counts (`sizes`: the bytes
    // each write of the call has), reported as success and as failure. Where
    // a call can `takeBack` a cut write, `faulted` also tells which calls it
    // made after that write (as faults' counts from the call's start), and
    // each of those is failed too, once and from then on, beside the cut.
    // `faulted(faults, later)` runs one case; `later`, where not null, gets
    // those counts.
    template <class Clean, class Faulted>
    static Tally Run(const char* call, const std::vector<size_t>& sizes, bool takeBack, Clean clean,
                     Faulted faulted)
    {
        const auto before = Counts();
        clean();
        const auto made = Made(before);
        NoteMade(call, made);
        Tally tally;
        auto one = [&](const std::vector<Fault>& faults, Later* later) {
            std::string trace;
            for (const Fault& fault : faults)
                trace += (trace.empty() ? "" : ", then ") + Describe(fault);
            SCOPED_TRACE(trace);
            faulted(faults, later);
            ++(faults.back().persists ? tally.from : tally.once);
        };
        for (const auto& [operation, count] : made) {
            g_coverage.failed[call].insert(operation);
            for (long nth = 1; nth <= count; ++nth) {
                one({Refused(operation.c_str(), nth, ErrorOf(operation))}, nullptr);
                one({RefusedFrom(operation, nth, ErrorOf(operation))}, nullptr);
                const size_t size = operation == "WriteFile" && size_t(nth) <= sizes.size() ? sizes[nth - 1] : 0;
                if (size == 0)
                    continue;
                std::vector<Fault> cuts;
                for (size_t bytes : std::set<size_t>{0, 1, size / 2, size - 1})
                    cuts.push_back(WriteCut(nth, long(bytes)));
                for (size_t bytes : std::set<size_t>{1, size / 2, size})
                    cuts.push_back(WriteCutRefused(nth, long(bytes)));
                for (const Fault& cut : cuts) {
                    Later later;
                    one({cut}, takeBack ? &later : nullptr);
                    for (const auto& [operation2, range] : later) {
                        for (long m = range.first; m <= range.second; ++m) {
                            one({cut, Refused(operation2.c_str(), m, ErrorOf(operation2))}, nullptr);
                            one({cut, RefusedFrom(operation2, m, ErrorOf(operation2))}, nullptr);
                        }
                    }
                }
            }
        }
        return tally;
    }

    // Said by a sweep that ran every scene, under both rules.
    static void Summary(const char* what, Rules rules, const Tally& tally, size_t scenes)
    {
        ++g_coverage.sweeps;
        wchar_t module[MAX_PATH];
        GetModuleFileNameW(Module(), module, MAX_PATH);
        const std::wstring name = std::wstring(module).substr(std::wstring(module).find_last_of(L'\\') + 1);
        char line[256];
        std::snprintf(line, sizeof line, "sweep of %s under %s: %zu cases failing a call once, %zu failing calls "
                      "from one on, in %zu scenes (%ls)\n", what, Name(rules), tally.once, tally.from, scenes,
                      name.c_str());
        std::fputs(line, stdout);
        // The test run prints these after the tests.
        if (FILE* summary = std::fopen("sweep-summary.txt", "a")) {
            std::fputs(line, summary);
            std::fclose(summary);
        }
    }
};

// The counts of the calls at the one a case's first fault failed or cut.
std::map<std::string, long> g_countsThere;
void WINAPI NoteCountsThere() { g_countsThere = Counts(); }

// Arms `faults`, runs `body` and disarms them, checking that each was
// reached; where `later` is not null, notes the calls made after the first
// fault's.
template <class Body>
auto RunArmed(const std::vector<Fault>& faults, Later* later, Body body)
{
    const auto before = Counts();
    Arm(faults);
    if (later != nullptr) {
        const Fault& first = faults.front();
        EXPECT_EQ(ExportAs<InterposeProc>("IvroInterpose")(first.operation.c_str(), first.nth, NoteCountsThere), 0);
    }
    auto outcome = body();
    const long pending = Pending();
    Disarm();
    EXPECT_EQ(pending, 0) << "a failure was not reached";
    if (later != nullptr && pending == 0) {
        for (const auto& [operation, count] : Counts()) {
            const long first = g_countsThere.at(operation) - before.at(operation) + 1, last = count - before.at(operation);
            if (last >= first)
                (*later)[operation] = {first, last};
        }
    }
    return outcome;
}

TEST_P(Sweep, ExpWrite)
{
    const Rules rules = GetParam();
    Tally tally;
    size_t scenes = 0;
    for (const WriteScene& scene : kWriteScenes) {
        if (scene.kind == Kind::kConsole && g_console == nullptr) {
            // The one scene of a console counting the whole line: it may be
            // left out only where the run is told that there is no console.
            const char* none = std::getenv("IVRO_NO_CONSOLE");
            if (none != nullptr && *none != 0)
                std::printf("the console scene skipped (IVRO_NO_CONSOLE): %s\n", g_noConsole.c_str());
            else
                ADD_FAILURE() << "the console scene cannot run: " << g_noConsole
                              << " (IVRO_NO_CONSOLE=1 says that this machine has no console)";
            continue;
        }
        for (const Encoding& encoding : kEncodings) {
            SCOPED_TRACE(std::string(scene.name) + ", " + encoding.name + ", " + Name(rules));
            ++scenes;
            // The writes of the call: the mark on an empty file, the line.
            std::vector<size_t> sizes;
            bool rewindable = false;
            {
                WriteStage stage(scene, encoding);
                const bool disk = scene.kind == Kind::kDisk || scene.kind == Kind::kStdout;
                if (disk && scene.before.empty() && stage.Sized() && !encoding.mark.empty())
                    sizes.push_back(encoding.mark.size());
                sizes.push_back(encoding.line.size());
                rewindable = disk && stage.Sized();
            }
            auto run = [&](const std::vector<Fault>& faults, Later* later) {
                WriteStage stage(scene, encoding);
                const std::wstring expansion = ShellExpand(L"%_expansion");
                const Outcome outcome =
                    RunArmed(faults, later, [&] { return Call("f_expwrite", stage.Argument()); });
                const std::string target = stage.Target(outcome);
                JudgeWrite(scene, encoding, stage, rules, faults, outcome, target,
                           scene.kind == Kind::kDisk ? stage.Position() : -1, expansion);
            };
            tally.Add(Run("f_expwrite", sizes, rewindable, [&] { run({}, nullptr); }, run));
            if (HasFailure())
                return;
        }
    }
    Summary("@expwrite", rules, tally, scenes);
}

TEST_P(Sweep, OtherExports)
{
    const Rules rules = GetParam();
    Tally tally;
    const std::vector<CallScene> scenes = CallScenes();
    for (const CallScene& scene : scenes) {
        SCOPED_TRACE(scene.name + ", " + Name(rules));
        // The call's own outcome, and what it gives with each setting unset
        // and, for failures that persist, with any of them unset.
        Outcome clean;
        std::vector<std::wstring> unsetTexts, anyUnsetTexts;
        auto call = [&]() {
            CallStage stage(scene);
            return Call(scene.call.c_str(), stage.Argument());
        };
        const size_t settings = std::size(kSettings);
        for (unsigned unset = 1; unset < 1u << settings; ++unset) {
            wchar_t values[std::size(kSettings)][64] = {};
            for (size_t i = 0; i < settings; ++i) {
                GetEnvironmentVariableW(kSettings[i], values[i], 64);
                if ((unset >> i & 1) != 0)
                    SetEnvironmentVariableW(kSettings[i], nullptr);
            }
            const std::wstring text = call().text;
            anyUnsetTexts.push_back(text);
            if ((unset & (unset - 1)) == 0)
                unsetTexts.push_back(text);
            for (size_t i = 0; i < settings; ++i)
                SetEnvironmentVariableW(kSettings[i], values[i]);
        }
        tally.Add(Run(scene.call.c_str(), {}, false, [&] { clean = call(); }, [&](const std::vector<Fault>& faults, Later*) {
            const std::wstring expansion = ShellExpand(L"%_expansion");
            const Outcome outcome = RunArmed(faults, nullptr, call);
            JudgeCall(scene, faults.front(), clean, faults.front().persists ? anyUnsetTexts : unsetTexts, outcome,
                      expansion);
            CloseLeftOnNull(outcome.err[0], outcome.err[1]);
            CloseLeftOnNull(outcome.out[0], outcome.out[1]);
        }));
        if (HasFailure())
            return;
    }
    Summary("the other exports", rules, tally, scenes.size());
}

INSTANTIATE_TEST_SUITE_P(Rules, Sweep, ::testing::Values(Rules::kWine, Rules::kWindows),
                         [](const ::testing::TestParamInfo<Rules>& info) {
                             return info.param == Rules::kWine ? std::string("Wine") : std::string("Windows");
                         });

// After all the tests: every call an export made has a row or a case of the
// sweep that made it fail. Only a run of them all can tell.
class EveryCallFailed : public ::testing::Environment {
    void TearDown() override
    {
        if (g_coverage.rows != std::size(kRows) || g_coverage.sweeps != 4 || g_coverage.quiet != std::size(kQuiet)) {
            if (g_coverage.rows + g_coverage.sweeps + g_coverage.quiet > 0)
                std::printf("not every row and sweep ran: whether every call of the module fails somewhere is "
                            "left unchecked\n");
            return;
        }
        for (const auto& [call, operations] : g_coverage.made)
            for (const std::string& operation : operations)
                EXPECT_EQ(g_coverage.failed[call].count(operation), 1u)
                    << call << " calls " << operation << ", and no row or case of the sweep makes that call fail";
    }
};

const auto* const g_everyCallFailed = ::testing::AddGlobalTestEnvironment(new EveryCallFailed);

} // namespace
