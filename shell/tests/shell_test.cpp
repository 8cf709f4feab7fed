#include "shell_test.h"

#include <cstdio>
#include <vector>

namespace shelltest {

namespace {

std::wstring g_codePage; // the default code page, put back after each test

HANDLE OpenScratch(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadAll(HANDLE handle)
{
    std::string bytes;
    SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(handle, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    return bytes;
}

} // namespace

Output Capture(const std::function<void()>& body)
{
    static int serial = 0;
    ++serial;
    std::wstring outPath = TempPath(L"out" + std::to_wstring(serial));
    std::wstring errPath = TempPath(L"err" + std::to_wstring(serial));
    HANDLE out = OpenScratch(outPath);
    HANDLE err = OpenScratch(errPath);
    HANDLE oldOut = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE oldErr = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, err);
    body();
    SetStdHandle(STD_OUTPUT_HANDLE, oldOut);
    SetStdHandle(STD_ERROR_HANDLE, oldErr);
    Output output{ReadAll(out), ReadAll(err)};
    CloseHandle(out);
    CloseHandle(err);
    DeleteFileW(outPath.c_str());
    DeleteFileW(errPath.c_str());
    return output;
}

std::wstring TempDir()
{
    static std::wstring dir = [] {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        std::wstring path = std::wstring(base) + L"ivsh-test-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path.c_str(), nullptr);
        return path;
    }();
    return dir;
}

std::wstring TempPath(const std::wstring& name)
{
    return TempDir() + L"\\" + name;
}

std::wstring WriteBytes(const std::wstring& name, const std::string& bytes)
{
    std::wstring path = TempPath(name);
    HANDLE file = OpenScratch(path);
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

std::string ReadBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "(missing)";
    std::string bytes = ReadAll(file);
    CloseHandle(file);
    return bytes;
}

Expansion Expand(const std::wstring& text)
{
    std::vector<wchar_t> buffer(std::max(size_t(PLUGIN_BUFFER_LEN), text.size() + 1), L'\0');
    std::copy(text.begin(), text.end(), buffer.begin());
    Expansion expansion;
    expansion.output = Capture([&] { expansion.code = ExpandVariables(buffer.data(), 1); });
    expansion.text = buffer.data();
    return expansion;
}

LineRun RunLine(const std::wstring& line)
{
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    LineRun run;
    run.output = Capture([&] { run.code = Command(buffer.data(), 0); });
    return run;
}

void Apply(const std::wstring& line)
{
    LineRun run = RunLine(line);
    ASSERT_EQ(run.code, 0) << Show(line) << ": " << run.output.err;
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::string Show(const std::wstring& text)
{
    std::wstring shown;
    wchar_t hex[8];
    for (wchar_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            swprintf(hex, 8, L"\\u%04X", unsigned(c));
            shown += hex;
        } else {
            shown += c;
        }
    }
    return "\"" + Utf8(shown) + "\"";
}

std::string Utf16Bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void ShellTest::SetUp()
{
    if (g_codePage.empty())
        g_codePage = Expand(L"%_codepage").text;
}

void ShellTest::TearDown()
{
    // Escapes on first, so that the separator can be written escaped.
    Apply(L"setdos /X0");
    Apply(L"option escapechar=^");
    Apply(L"option commandsep=^&");
    Apply(L"option utf8output=no");
    Apply(L"option unicodeoutput=no");
    Apply(L"option codepage=" + g_codePage);
}

} // namespace shelltest

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Quiet: the probe prints its load and unload lines only when not transient.
    HostSetInternal(L"_transient", L"1");
    int loaded = 1;
    shelltest::Output output = shelltest::Capture([&] { loaded = HostLoadModule(L"ivsh-probe.dll"); });
    if (loaded != 0) {
        std::fprintf(stderr, "cannot load the probe module: %s\n", output.err.c_str());
        return 1;
    }
    int result = RUN_ALL_TESTS();
    HostUnloadModule();
    return result;
}
