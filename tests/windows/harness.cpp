#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "plugin/host.h"
#include "ivro_platform.h"

extern "C" {
int WINAPI HostLoadModule(LPCWSTR path);
void WINAPI HostUnloadModule(void);
}

namespace {

HMODULE g_module = nullptr;

std::wstring MakeTempDir()
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    wchar_t name[64];
    swprintf(name, 64, L"ivro-test-%lu", GetCurrentProcessId());
    std::wstring dir = std::wstring(base) + name;
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

HANDLE OpenScratch(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

std::string ReadAll(HANDLE h)
{
    std::string bytes;
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    return bytes;
}

} // namespace

Output Capture(const std::function<void()>& body)
{
    static int serial = 0;
    std::wstring dir = TempDir();
    std::wstring outPath = dir + L"\\out" + std::to_wstring(++serial);
    std::wstring errPath = dir + L"\\err" + std::to_wstring(serial);
    HANDLE out = OpenScratch(outPath);
    HANDLE err = OpenScratch(errPath);
    HANDLE oldOut = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE oldErr = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, err);
    body();
    SetStdHandle(STD_OUTPUT_HANDLE, oldOut);
    SetStdHandle(STD_ERROR_HANDLE, oldErr);
    Output result{ReadAll(out), ReadAll(err)};
    CloseHandle(out);
    CloseHandle(err);
    DeleteFileW(outPath.c_str());
    DeleteFileW(errPath.c_str());
    return result;
}

HMODULE Module() { return g_module; }

FARPROC Export(const char* name) { return GetProcAddress(g_module, name); }

BufferProc BufferExport(const char* name) { return ExportAs<BufferProc>(name); }

std::string Bytes(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t c : text)
        bytes += char(c);
    return bytes;
}

std::string Show(const std::wstring& text)
{
    std::string shown;
    char hex[8];
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += char(c);
        } else {
            snprintf(hex, sizeof hex, "\\u%04X", unsigned(c));
            shown += hex;
        }
    }
    return shown;
}

std::string ShowBytes(const std::string& bytes)
{
    std::string shown;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += char(c);
        } else {
            snprintf(hex, sizeof hex, "\\x%02X", unsigned(c));
            shown += hex;
        }
    }
    return shown;
}

std::wstring ShellExpand(const std::wstring& text)
{
    std::vector<wchar_t> buffer(MAX_ARG_LEN, 0);
    text.copy(buffer.data(), text.size());
    EXPECT_EQ(ExpandVariables(buffer.data(), 1), 0) << Show(text);
    return buffer.data();
}

int ShellCommand(const std::wstring& line)
{
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(0);
    return Command(buffer.data(), 0);
}

namespace {
constexpr size_t kGuardUnits = 64;
constexpr wchar_t kGuardUnit = 0xA5A5;
} // namespace

GuardedBuffer::GuardedBuffer(const std::wstring& argument, size_t units) : units_(units + kGuardUnits, kGuardUnit)
{
    std::fill(units_.begin(), units_.begin() + ptrdiff_t(units), 0);
    argument.copy(units_.data(), std::min(argument.size(), units - 1));
}

size_t GuardedBuffer::Size() const { return units_.size() - kGuardUnits; }

std::wstring GuardedBuffer::Text() const { return std::wstring(units_.data(), wcsnlen(units_.data(), Size())); }

bool GuardedBuffer::GuardIntact() const
{
    return std::all_of(units_.begin() + ptrdiff_t(Size()), units_.end(),
                       [](wchar_t unit) { return unit == kGuardUnit; });
}

CallResult CallBuffer(const char* exportName, const std::wstring& argument)
{
    GuardedBuffer buffer(argument);
    BufferProc proc = BufferExport(exportName);
    CallResult result{};
    if (proc == nullptr) {
        ADD_FAILURE() << "the module exports no " << exportName;
        return result;
    }
    result.output = Capture([&] { result.code = proc(buffer.Data()); });
    result.text = buffer.Text();
    result.guardIntact = buffer.GuardIntact();
    return result;
}

std::wstring TempDir()
{
    static const std::wstring dir = MakeTempDir();
    return dir;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // A test that goes on without its file would fail far from here.
        ADD_FAILURE() << "cannot create " << Show(path) << ": error " << GetLastError();
        return;
    }
    DWORD written = 0;
    if (!WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr) || written != bytes.size())
        ADD_FAILURE() << "cannot write " << Show(path) << ": error " << GetLastError();
    CloseHandle(h);
}

std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes = ReadAll(h);
    CloseHandle(h);
    return bytes;
}

// Loads the module once for the whole program, the way the shell does at its
// start, and keeps what the load printed for the tests of the load message.
std::string g_loadOutput;

class ModuleEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        Output output = Capture([] { ASSERT_EQ(HostLoadModule(L"" IVRO_FILE_NAME), 0); });
        g_loadOutput = output.out;
        g_module = GetModuleHandleW(L"" IVRO_FILE_NAME);
        ASSERT_NE(g_module, nullptr);
    }
    void TearDown() override
    {
        HostUnloadModule();
        RemoveDirectoryW(TempDir().c_str());
    }
};

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);
    return RUN_ALL_TESTS();
}
