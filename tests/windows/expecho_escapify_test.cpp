// EXPECHO, Usage and @escapify in the real module, with the shell's options
// and the environment steering the escape settings.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "harness.h"
#include "plugin/host.h"
#include "tests/test_seed.h"
#include "ivro_platform.h"

namespace {

const char kUsageText[] = "Expand escapes and display text.\n\nEXPECHO text\r\n\nEscape sequences will be "
                          "expanded, and the resulting text \nsent to stdout.  No end-of-line will be appended. \n";
const wchar_t kUsageProper[] = L"EXPECHO text\r\n\nEscape sequences will be expanded, and the resulting text "
                               L"\nsent to stdout.  No end-of-line will be appended. \n";

struct EchoCase {
    const wchar_t* args;
    std::string printed;
};

class Expecho : public ::testing::TestWithParam<EchoCase> {};

TEST_P(Expecho, PrintsWhatItsArgumentsSay)
{
    const EchoCase& c = GetParam();
    CallResult r = CallBuffer("expecho", c.args);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(ShowBytes(r.output.out), ShowBytes(c.printed)) << "arguments " << Show(c.args);
    EXPECT_EQ(r.output.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, Expecho,
    ::testing::Values(EchoCase{L"", ""}, EchoCase{L"\t", ""}, EchoCase{L" A\\tB", "A\tB"},
                      EchoCase{L"A\\tB", "A\tB"}, EchoCase{L"  two", " two"},
                      EchoCase{L" \\q,\\c\\\\", "\",,\\"},
                      EchoCase{L"/?", kUsageText}, EchoCase{L" \t /?", kUsageText},
                      EchoCase{L" /??", std::string(kUsageText) + "\r\n\t\t\t\tIvro  0.60.0.5 (" IVRO_PLATFORM ")\r\n"},
                      // Anything after the option makes it text.
                      EchoCase{L" /? ", "/? "}, EchoCase{L" /?x", "/?x"}, EchoCase{L" /???", "/???"}));

TEST(ExpechoExport, NullArgumentsAreRefused)
{
    auto expecho = BufferExport("expecho");
    int result = 0;
    Output output = Capture([&] { result = expecho(nullptr); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(output.out, "");
}

TEST(ExpechoExport, OverflowPrintsNothingAndReturnsTwo)
{
    std::vector<wchar_t> buffer(9000, 0);
    buffer[0] = L' ';
    std::fill(buffer.begin() + 1, buffer.begin() + 8193, L'z');
    std::vector<wchar_t> before = buffer;
    auto expecho = BufferExport("expecho");
    int result = 0;
    Output output = Capture([&] { result = expecho(buffer.data()); });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "Ivro plugin: Buffer overflow\r\n");
    EXPECT_TRUE(buffer == before);
}

TEST(UsageExport, AnswersForExpechoInAnyCase)
{
    auto usage = ExportAs<UsageProc>("Usage");
    ASSERT_NE(usage, nullptr);
    for (const wchar_t* name : {L"expecho", L"EXPECHO", L"ExpEcho"}) {
        std::vector<wchar_t> out(1024 + 16, L'#');
        std::wstring n = name;
        EXPECT_EQ(usage(n.data(), out.data()), 1) << Show(name);
        EXPECT_STREQ(out.data(), kUsageProper);
        EXPECT_EQ(out[1024], L'#');
    }
}

TEST(UsageExport, IgnoresEverythingElse)
{
    auto usage = ExportAs<UsageProc>("Usage");
    for (const wchar_t* name : {L"@exp", L"_ivrover", L"echo", L"expecho2", L"expech", L"", L"@expecho", L"_expecho"}) {
        std::vector<wchar_t> out(1024, L'#');
        std::wstring n = name;
        EXPECT_EQ(usage(n.data(), out.data()), 0) << Show(name);
        EXPECT_EQ(out[0], L'#') << Show(name);
    }
}

// @escapify reads its settings from the shell's options and from Ivro_Chars
// and Ivro_Flags on every call; each test puts back what it changed.
class EscapifySettings : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetEnvironmentVariableW(L"Ivro_Flags", nullptr);
        SetEnvironmentVariableW(L"Ivro_Chars", nullptr);
        // & is the separator itself, so it goes behind the escape character.
        ShellCommand(L"option escapechar=^");
        ShellCommand(L"option commandsep=^&");
    }
    static std::wstring Escapified(const std::wstring& text)
    {
        CallResult r = CallBuffer("f_escapify", text);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.output.err, "");
        EXPECT_TRUE(r.guardIntact);
        return r.text;
    }
};

TEST_F(EscapifySettings, DefaultsEscapeTheShellsSpecialCharacters)
{
    EXPECT_EQ(Show(Escapified(L"a\tb \"%&<>[]^`|, ~")),
              Show(L"a\\tb \\u22\\u25\\u26\\u3c\\u3e\\u5b\\u5d\\u5e\\u60\\u7c, ~"));
    EXPECT_EQ(Show(Escapified(L"C:\\temp\\x")), Show(L"C:\\\\temp\\\\x"));
    EXPECT_EQ(Escapified(L""), L"");
}

TEST_F(EscapifySettings, TheShellsSeparatorAndEscapeCharacterJoinTheSpecials)
{
    ASSERT_EQ(ShellCommand(L"option commandsep=~"), 0);
    ASSERT_EQ(ShellCommand(L"option escapechar=!"), 0);
    EXPECT_EQ(Show(Escapified(L"~1!z~")), Show(L"\\u007e1\\u21z\\u007e"));
    // The change lasts only as long as the option.
    ShellCommand(L"option commandsep=&");
    ShellCommand(L"option escapechar=^");
    EXPECT_EQ(Show(Escapified(L"~1!z~")), Show(L"~1!z~"));
}

TEST_F(EscapifySettings, IvroCharsIsUsedWholeOrNotAtAll)
{
    SetEnvironmentVariableW(L"Ivro_Chars", L" ,");
    EXPECT_EQ(Show(Escapified(L"a, b")), Show(L"a\\u2c\\u0020b"));

    // Ten fixed characters leave room for 1013 more and the NUL.
    std::wstring fits = L"~" + std::wstring(1012, L'x');
    SetEnvironmentVariableW(L"Ivro_Chars", fits.c_str());
    EXPECT_EQ(Show(Escapified(L"~!")), Show(L"\\u7e!"));
    std::wstring tooLong = L"~" + std::wstring(1013, L'x');
    SetEnvironmentVariableW(L"Ivro_Chars", tooLong.c_str());
    EXPECT_EQ(Show(Escapified(L"~!")), Show(L"~!"));
}

// Each setting changed between two calls shows in the second: what a call's
// settings make is kept only for the next call with the very same settings.
TEST_F(EscapifySettings, EachChangeTakesEffectOnTheNextCall)
{
    const struct {
        const wchar_t* change;
        const wchar_t* expected; // of "~!#" and U+00E9
    } kSteps[] = {
        {L"", L"~!#\u00e9"},
        {L"Ivro_Chars=~", L"\\u7e!#\u00e9"},
        {L"Ivro_Chars=#", L"~!\\u23\u00e9"},
        {L"Ivro_Flags=1", L"~!\\u23\\u00e9"},
        {L"option escapechar=!", L"~\\u21\\u23\\u00e9"},
        {L"option commandsep=~", L"\\u7e\\u21\\u23\\u00e9"},
        {L"Ivro_Flags=0", L"\\u7e\\u21\\u23\u00e9"},
        {L"Ivro_Chars=", L"\\u7e\\u21#\u00e9"},
    };
    for (const auto& step : kSteps) {
        const std::wstring change = step.change;
        if (change.rfind(L"option ", 0) == 0)
            ASSERT_EQ(ShellCommand(change), 0);
        else if (!change.empty()) {
            const size_t equals = change.find(L'=');
            const std::wstring value = change.substr(equals + 1);
            SetEnvironmentVariableW(change.substr(0, equals).c_str(), value.empty() ? nullptr : value.c_str());
        }
        EXPECT_EQ(Show(Escapified(L"~!#\u00e9")), Show(step.expected)) << "after " << Show(step.change);
    }
}

// The probe shows every flag bit: é for 1, U+200B for 2, ESC for 4 and the
// form of the U+0001 at the end for 8.
struct FlagsCase {
    const wchar_t* value; // null: unset
    const wchar_t* escaped;
};

class EscapifyFlags : public EscapifySettings, public ::testing::WithParamInterface<FlagsCase> {};

TEST_P(EscapifyFlags, IvroFlagsMustBeACompleteNumber)
{
    SetEnvironmentVariableW(L"Ivro_Flags", GetParam().value);
    EXPECT_EQ(Show(Escapified(L"\u00e9\u200b\x1b\x01")), Show(GetParam().escaped))
        << "Ivro_Flags " << (GetParam().value ? Show(GetParam().value) : "unset");
}

const wchar_t kFlags0[] = L"\u00e9\u200b\\x1b\\x0001";
INSTANTIATE_TEST_SUITE_P(
    Values, EscapifyFlags,
    ::testing::Values(FlagsCase{nullptr, kFlags0}, FlagsCase{L"", kFlags0}, FlagsCase{L"0", kFlags0},
                      FlagsCase{L"1", L"\\ue9\\u200b\\x1b\\x0001"}, FlagsCase{L"2", L"\u00e9\\u200b\\x1b\\x0001"},
                      FlagsCase{L"5", L"\\ue9\\u200b\\e\\x0001"}, FlagsCase{L"0x0C", L"\u00e9\u200b\\e\\x01"},
                      FlagsCase{L"0X0f", L"\\ue9\\u200b\\e\\x01"}, FlagsCase{L"4294967295", L"\\ue9\\u200b\\e\\x01"},
                      FlagsCase{L"12abc", kFlags0}, FlagsCase{L" 5", kFlags0}, FlagsCase{L"-1", kFlags0},
                      FlagsCase{L"+4", kFlags0}, FlagsCase{L"4294967296", kFlags0}, FlagsCase{L"0x", kFlags0},
                      FlagsCase{L"\u0665", kFlags0} /* Arabic-Indic five */));

TEST(EscapifyExport, FitsUpTo8191UnitsAndReportsOverflowBeyond)
{
    // A TAB escapes to two units: 4095 TABs and a letter make 8191.
    std::wstring fits = std::wstring(4095, L'\t') + L"z";
    CallResult ok = CallBuffer("f_escapify", fits);
    EXPECT_EQ(ok.code, 0);
    EXPECT_EQ(ok.text.size(), 8191u);
    EXPECT_TRUE(ok.guardIntact);

    std::wstring over = std::wstring(4096, L'\t');
    CallResult r = CallBuffer("f_escapify", over);
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.output.err, "Ivro plugin: Buffer overflow\r\n");
    EXPECT_TRUE(r.text == over);
    EXPECT_TRUE(r.guardIntact);
}

// Escaping, then expanding, through the module as the shell calls it.
TEST(EscapifyExport, RoundTripsThroughTheModule)
{
    const unsigned seed = TestSeed();
    SCOPED_TRACE(SeedTrace(seed));
    std::mt19937 rng(seed);
    const std::wstring pool = L"\x01\t\n\x1b\x7f\x85\xa0\u00e9\u200b\u20ac\"%&<>[]^`|,; ~\\xuUqc#09afAF";
    for (int n = 0; n < 300; ++n) {
        std::wstring flags = std::to_wstring(n % 16);
        SetEnvironmentVariableW(L"Ivro_Flags", flags.c_str());
        SetEnvironmentVariableW(L"Ivro_Chars", n % 3 == 0 ? L",;x0" : nullptr);
        std::wstring text;
        size_t length = rng() % (n % 10 == 0 ? 2000 : 60);
        while (text.size() < length) {
            if (rng() % 8 == 0) {
                uint32_t v = rng() % 0x100000;
                text += wchar_t(0xD800 | (v >> 10));
                text += wchar_t(0xDC00 | (v & 0x3FF));
            } else {
                text += pool[rng() % pool.size()];
            }
        }
        CallResult escaped = CallBuffer("f_escapify", text);
        ASSERT_EQ(escaped.code, 0) << Show(text);
        CallResult expanded = CallBuffer("f_exp", escaped.text);
        ASSERT_EQ(expanded.code, 0);
        ASSERT_EQ(Show(expanded.text), Show(text)) << "flags " << n % 16 << " via " << Show(escaped.text);
    }
    SetEnvironmentVariableW(L"Ivro_Flags", nullptr);
    SetEnvironmentVariableW(L"Ivro_Chars", nullptr);
}

// Inside a batch file the error names the file and the line, exactly as the
// shell reports them, a percent sign in the name included.
TEST(ErrorHeader, InsideABatchFileNamesFileAndLine)
{
    std::wstring data = TempDir() + L"\\tabs.txt";
    WriteFileBytes(data, std::string(5000, '\t') + "\r\n");
    std::wstring batch = TempDir() + L"\\err%1.btm";
    std::string line2 = "echo %@escapify[%@line[" + Bytes(data) + ",0]]\r\n";
    WriteFileBytes(batch, "rem the next line fails\r\n" + line2);

    wchar_t full[MAX_PATH];
    GetFullPathNameW(batch.c_str(), MAX_PATH, full, nullptr);
    // The shell expands the command line too: %% keeps the percent sign.
    std::wstring command = L"call ";
    for (wchar_t c : batch)
        command += c == L'%' ? std::wstring(L"%%") : std::wstring(1, c);
    Output output = Capture([&] { ShellCommand(command); });
    EXPECT_EQ(output.err, "Ivro plugin: " + Bytes(full) + " [2]  Buffer overflow\r\n");
    EXPECT_EQ(output.out, "");
    DeleteFileW(batch.c_str());
    DeleteFileW(data.c_str());
}

} // namespace
