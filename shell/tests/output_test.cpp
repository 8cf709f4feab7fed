// Printf, Qprintf, QPuts and the shell's own output: one formatter, one
// writer, three encodings.
#include "shell_test.h"

namespace shelltest {
namespace {

class OutputTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        Apply(L"option codepage=1252"); // a known single-byte code page
    }
};

TEST_F(OutputTest, FormatsEachConversion)
{
    struct {
        std::function<int()> call;
        const char* expected;
    } const cases[] = {
        {[] { return Printf(L"plain"); }, "plain"},
        {[] { return Printf(L"%s|%s", L"text", static_cast<const wchar_t*>(nullptr)); }, "text|(null)"},
        {[] { return Printf(L"%d %d %u", -5, 2147483647, 4000000000u); }, "-5 2147483647 4000000000"},
        {[] { return Printf(L"%x %X %c%c", 255u, 0xABCu, L'Z', L'!'); }, "ff ABC Z!"},
        {[] { return Printf(L"100%% %q %"); }, "100% %q %"},                 // unknown stays literal
        {[] { return Printf(L"[%5d|%-3d|%03u|%4s]", 42, 7, 9u, L"ab"); }, "[   42|7  |009|  ab]"},
        {[] { return Printf(L"%ls %lu", L"long", 12u); }, "long 12"},
        {[] { return Printf(L"%s v%u.%u.%u loaded.\r\n", L"Ivro", 0u, 60u, 0u); }, "Ivro v0.60.0 loaded.\r\n"},
        {[] { return QPuts(L"as %s is"); }, "as %s is"},                     // QPuts formats nothing
    };
    for (const auto& c : cases) {
        Output output = Capture([&] { c.call(); });
        EXPECT_EQ(output.out, c.expected);
        EXPECT_EQ(output.err, "");
    }
}

TEST_F(OutputTest, QprintfWritesToTheGivenHandle)
{
    std::wstring path = WriteBytes(L"qprintf.txt", "");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Output output = Capture([&] { Qprintf(file, L"%s=%d\r\n", L"n", 3); });
    CloseHandle(file);
    EXPECT_EQ(ReadBytes(path), "n=3\r\n");
    EXPECT_EQ(output.out, "");
    Output err = Capture([&] { Qprintf(GetStdHandle(STD_ERROR_HANDLE), L"to %s", L"stderr"); });
    EXPECT_EQ(err.err, "to stderr");
}

struct EncodingCase {
    const wchar_t* option; // option line, or nullptr for code page 1252
    const wchar_t* text;
    std::string bytes;
    bool utf16;
};

const EncodingCase kEncodings[] = {
    {nullptr, L"\u00e9\u20ac", "\xE9\x80", false},
    {L"option codepage=437", L"\u00e9", "\x82", false},
    {L"option codepage=437", L"\u20ac", "?", false},                         // not in the code page
    {L"option codepage=65001", L"\u00e9", "\xC3\xA9", false},
    {L"option utf8output=yes", L"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC", false},
    {L"option utf8output=yes", L"\U0001F600", "\xF0\x9F\x98\x80", false},    // a surrogate pair
    {L"option unicodeoutput=yes", L"A\u00e9", std::string("A\0\xE9\0", 4), true},
    {L"option utf8output=yes & option unicodeoutput=yes", L"\u00e9", std::string("\xE9\0", 2), true},
};

TEST_F(OutputTest, WritesInTheChosenEncoding)
{
    for (const EncodingCase& c : kEncodings) {
        Apply(L"option codepage=1252 & option utf8output=no & option unicodeoutput=no");
        if (c.option != nullptr)
            Apply(c.option);
        const std::string label = Show(c.option != nullptr ? c.option : L"(code page 1252)");
        Output output = Capture([&] { QPuts(c.text); });
        EXPECT_EQ(output.out, c.bytes) << label;
        // echo takes the same path and adds CR LF in the same encoding.
        LineRun echo = RunLine(std::wstring(L"echo ") + c.text);
        EXPECT_EQ(echo.output.out, c.bytes + (c.utf16 ? std::string("\r\0\n\0", 4) : std::string("\r\n"))) << label;
    }
}

TEST_F(OutputTest, MessagesUseTheOutputEncoding)
{
    Apply(L"option utf8output=yes");
    LineRun run = RunLine(L"n\u00e9");
    EXPECT_EQ(run.output.err, "ivsh: Unknown command: n\xC3\xA9\r\n");
}

TEST_F(OutputTest, QueryUnicodeOutputFollowsTheOption)
{
    EXPECT_EQ(QueryUnicodeOutput(), 0);
    Apply(L"option unicodeoutput=yes");
    EXPECT_EQ(QueryUnicodeOutput(), 1);
    Apply(L"option unicodeoutput=no");
    EXPECT_EQ(QueryUnicodeOutput(), 0);
}

} // namespace
} // namespace shelltest
