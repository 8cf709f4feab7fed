// @line, @fileopen, @fileread, @fileclose and QueryTrueName.
#include <vector>

#include "shell_test.h"

namespace shelltest {
namespace {

using FilesTest = ShellTest;

struct TextFileCase {
    const char* label;
    std::string bytes;
    std::vector<std::wstring> lines;
};

const TextFileCase kTextFiles[] = {
    {"UTF-8, CR LF", "one\r\ntwo\r\n", {L"one", L"two"}},
    {"UTF-8, LF, no final line end", "one\ntwo", {L"one", L"two"}},
    {"UTF-8, empty lines", "\r\n\nx\r\n", {L"", L"", L"x"}},
    {"UTF-8 with mark", "\xEF\xBB\xBF\xC3\xA9t\xC3\xA9\r\n\xE2\x82\xAC\n", {L"\u00e9t\u00e9", L"\u20ac"}},
    {"UTF-8 without mark", "\xC3\xA9\n", {L"\u00e9"}},
    {"UTF-16LE", std::string("\xFF\xFE" "a\0\xE9\0\r\0\n\0\x3D\xD8\x00\xDE\n\0", 14), {L"a\u00e9", L"\U0001F600"}},
    {"UTF-16LE, LF byte inside a unit", std::string("\xFF\xFE\x0A\x01\n\0", 6), {L"\u010A"}},
    {"lone CR stays", "a\rb\n", {L"a\rb"}},
    {"empty file", "", {}},
};

std::wstring LineOf(const std::wstring& path, size_t index)
{
    return Expand(L"%@line[" + path + L"," + std::to_wstring(index) + L"]").text;
}

TEST_F(FilesTest, LineReadsEachEncoding)
{
    int serial = 0;
    for (const TextFileCase& c : kTextFiles) {
        std::wstring path = WriteBytes(L"line" + std::to_wstring(++serial) + L".txt", c.bytes);
        for (size_t i = 0; i < c.lines.size(); ++i)
            EXPECT_EQ(LineOf(path, i), c.lines[i]) << c.label << " line " << i;
        EXPECT_EQ(LineOf(path, c.lines.size()), L"**EOF**") << c.label;
        EXPECT_EQ(LineOf(path, 1000), L"**EOF**") << c.label;
    }
}

TEST_F(FilesTest, FilereadReadsEachEncodingLineByLine)
{
    int serial = 0;
    for (const TextFileCase& c : kTextFiles) {
        std::wstring path = WriteBytes(L"read" + std::to_wstring(++serial) + L".txt", c.bytes);
        std::wstring handle = Expand(L"%@fileopen[" + path + L"]").text;
        ASSERT_NE(handle, L"-1") << c.label;
        for (const std::wstring& line : c.lines)
            EXPECT_EQ(Expand(L"%@fileread[" + handle + L"]").text, line) << c.label;
        EXPECT_EQ(Expand(L"%@fileread[" + handle + L"]").text, L"**EOF**") << c.label;
        EXPECT_EQ(Expand(L"%@fileread[" + handle + L"]").text, L"**EOF**") << c.label;
        EXPECT_EQ(Expand(L"%@fileclose[" + handle + L"]").text, L"0") << c.label;
        EXPECT_EQ(Expand(L"%@fileclose[" + handle + L"]").text, L"-1") << c.label;
    }
}

TEST_F(FilesTest, LineTakesTheNameBeforeTheLastComma)
{
    std::wstring path = WriteBytes(L"a,b.txt", "first\r\nsecond\r\n");
    EXPECT_EQ(Expand(L"%@line[" + path + L", 1 ]").text, L"second");
    EXPECT_EQ(Expand(L"%@line[ \"" + path + L"\" ,0]").text, L"first");
}

TEST_F(FilesTest, LineRefusesBadArguments)
{
    std::wstring path = WriteBytes(L"bad.txt", "x\n");
    struct {
        std::wstring args;
        const char* message;
    } const cases[] = {
        {path, "ivsh: @line: Expected a file name, a comma and a line number: "},
        {path + L",-1", "ivsh: @line: Bad line number: \"-1\""},
        {path + L",x", "ivsh: @line: Bad line number: \"x\""},
        {path + L",", "ivsh: @line: Bad line number: \"\""},
        {path + L",99999999999999999999", "ivsh: @line: Bad line number: "},
        {L",0", "ivsh: @line: Missing file name"},
        {TempPath(L"nonexistent.txt") + L",0", "ivsh: @line: Cannot read "},
    };
    for (const auto& c : cases) {
        Expansion result = Expand(L"%@line[" + c.args + L"]");
        EXPECT_NE(result.code, 0) << Show(c.args);
        EXPECT_EQ(result.output.err.substr(0, strlen(c.message)), c.message) << Show(c.args);
    }
}

TEST_F(FilesTest, FilereadLeavesTheHandleJustAfterTheLine)
{
    std::wstring path = WriteBytes(L"position.txt", "first\r\nsecond\r\nthird");
    std::wstring handle = Expand(L"%@fileopen[" + path + L",read]").text;
    EXPECT_EQ(Expand(L"%@fileread[" + handle + L"]").text, L"first");
    // Whoever reads the handle next gets the rest, not what was read ahead.
    char rest[64] = {};
    DWORD got = 0;
    ReadFile(reinterpret_cast<HANDLE>(uintptr_t(std::stoul(handle))), rest, sizeof rest - 1, &got, nullptr);
    EXPECT_STREQ(rest, "second\r\nthird");
    Expand(L"%@fileclose[" + handle + L"]");
}

TEST_F(FilesTest, FileseekMovesTheHandle)
{
    std::wstring path = WriteBytes(L"seek.txt", "first\r\nsecond\r\nthird");
    std::wstring handle = Expand(L"%@fileopen[" + path + L",read]").text;
    const struct {
        std::wstring args;
        std::wstring position;
        std::wstring next; // what @fileread then gives
    } cases[] = {
        {L"7", L"7", L"second"},
        {L" -5 , 2", L"15", L"third"},
        {L"-10,1", L"10", L"ond"},
        {L"0,0", L"0", L"first"},
        {L"-1,0", L"-1", L"second"}, // before the start: the handle stays where it was
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Expand(L"%@fileseek[" + handle + L"," + c.args + L"]").text, c.position) << Show(c.args);
        EXPECT_EQ(Expand(L"%@fileread[" + handle + L"]").text, c.next) << Show(c.args);
    }
    Expand(L"%@fileclose[" + handle + L"]");
    EXPECT_EQ(Expand(L"%@fileseek[" + handle + L",0]").text, L"-1"); // closed
    Expansion bad = Expand(L"%@fileseek[" + handle + L",0,3]");
    EXPECT_EQ(bad.output.err, "ivsh: @fileseek: Bad method: \"3\" (0, 1 or 2)\r\n");
}

TEST_F(FilesTest, FileopenModes)
{
    std::wstring path = TempPath(L"modes.txt");
    DeleteFileW(path.c_str());
    EXPECT_EQ(Expand(L"%@fileopen[" + path + L"]").text, L"-1");          // read: the file must exist
    EXPECT_EQ(Expand(L"%@fileopen[" + path + L",read]").text, L"-1");

    auto writeThrough = [](const std::wstring& handle, const char* text) {
        DWORD written = 0;
        HANDLE file = reinterpret_cast<HANDLE>(uintptr_t(std::stoul(handle)));
        EXPECT_TRUE(WriteFile(file, text, DWORD(strlen(text)), &written, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        EXPECT_TRUE(GetFileInformationByHandle(file, &info)); // a real file handle
    };
    std::wstring handle = Expand(L"%@fileopen[" + path + L",write]").text;
    ASSERT_NE(handle, L"-1");
    writeThrough(handle, "one\r\n");
    Expand(L"%@fileclose[" + handle + L"]");
    handle = Expand(L"%@fileopen[" + path + L", APPEND ]").text;
    writeThrough(handle, "two\r\n");
    Expand(L"%@fileclose[" + handle + L"]");
    EXPECT_EQ(ReadBytes(path), "one\r\ntwo\r\n");
    handle = Expand(L"%@fileopen[" + path + L",Write]").text;
    Expand(L"%@fileclose[" + handle + L"]");
    EXPECT_EQ(ReadBytes(path), "");                                       // write truncates

    Expansion bad = Expand(L"%@fileopen[" + path + L",sideways]");
    EXPECT_NE(bad.code, 0);
    EXPECT_EQ(bad.output.err, "ivsh: @fileopen: Bad mode: \"sideways\" (read, write or append)\r\n");
}

TEST_F(FilesTest, BadHandlesFail)
{
    for (const wchar_t* handle : {L"", L"x", L"0", L"-4", L"12abc"}) {
        Expansion read = Expand(std::wstring(L"%@fileread[") + handle + L"]");
        EXPECT_NE(read.code, 0) << Show(handle);
        EXPECT_EQ(read.output.err.substr(0, 28), "ivsh: @fileread: Bad handle:") << Show(handle);
    }
    // A number that is no open handle cannot be read.
    Expansion closed = Expand(L"%@fileread[123456]");
    EXPECT_NE(closed.code, 0);
    EXPECT_EQ(closed.output.err.substr(0, 40), "ivsh: @fileread: Cannot read handle 1234");
    EXPECT_EQ(Expand(L"%@fileclose[123456]").text, L"-1");
}

TEST_F(FilesTest, QueryTrueNameGivesTheFullPath)
{
    wchar_t directory[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, directory);
    std::wstring expected = std::wstring(directory) + (directory[wcslen(directory) - 1] == L'\\' ? L"" : L"\\") +
                            L"some.txt";
    std::vector<wchar_t> out(32768, L'x');
    EXPECT_EQ(QueryTrueName(L"some.txt", out.data()), 0);
    EXPECT_EQ(std::wstring(out.data()), expected);
    EXPECT_NE(QueryTrueName(L"", out.data()), 0);
    EXPECT_EQ(out[0], L'\0');
}

TEST_F(FilesTest, QueryTrueNameNeverWritesPast32768Units)
{
    std::wstring name;
    while (name.size() < 40000)
        name += L"abcdefgh\\";
    constexpr size_t kSize = 32768, kGuard = 64;
    std::vector<wchar_t> out(kSize + kGuard, L'\xA5A5');
    QueryTrueName(name.c_str(), out.data());
    EXPECT_EQ(out[0], L'\0');
    for (size_t i = kSize; i < out.size(); ++i)
        ASSERT_EQ(out[i], L'\xA5A5') << "written at " << i;
}

} // namespace
} // namespace shelltest
