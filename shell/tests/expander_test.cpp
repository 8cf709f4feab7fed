// ExpandVariables: the expander shared by command lines and modules.
#include <algorithm>
#include <vector>

#include "shell_test.h"

namespace shelltest {
namespace {

class ExpanderTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        SetEnvironmentVariableW(L"IVSH_A", L"alpha");
        SetEnvironmentVariableW(L"IVSH_UNSET", nullptr);
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"IVSH_A", nullptr);
        ShellTest::TearDown();
    }
};

struct ExpandCase {
    const wchar_t* input;
    const wchar_t* expected;
};

const ExpandCase kExpansions[] = {
    {L"plain text", L"plain text"},
    {L"100%%", L"100%"},
    {L"%%IVSH_A%%", L"%IVSH_A%"},
    {L"%IVSH_A%", L"alpha"},
    {L"%ivsh_a%", L"alpha"},                // the environment ignores case
    {L"%IVSH_A", L"alpha"},
    {L"%IVSH_A%x", L"alphax"},
    {L"%IVSH_A\\help", L"alpha\\help"},     // the name ends where name characters do
    {L"%[IVSH_A]x", L"alphax"},
    {L"[%IVSH_UNSET%|%[IVSH_UNSET]|%IVSH_UNSET]", L"[||]"},
    {L"%_transient%_pipe", L"10"},          // no closing % after internal variables
    {L"%[_transient]%[_pipe]%[noloadmsg]", L"10"},
    {L"%_probevar", L"probe-value"},        // the module's internal variable
    {L"%[_PROBEVAR]", L"probe-value"},
    {L"[%_nosuch]", L"[]"},
    {L"%_batch %_batchline [%_batchname]", L"0 0 []"},
    {L"[%0%1%9%*]", L"[]"},                 // no batch file: no arguments
    {L"%@probe[x]", L"<x>"},
    {L"%@PROBE[x]", L"<x>"},
    {L"%@probe[]", L"<>"},
    {L"%@probe[%IVSH_A%]", L"<alpha>"},     // arguments are expanded first
    {L"%@probe[%@probe[a]]", L"<<a>>"},
    {L"%@probe[a[b]c]", L"<a[b]c>"},         // nested brackets
    {L"%@probe[a^]b]", L"<a]b>"},            // an escaped bracket does not close
    {L"%@probe[%%IVSH_A%%]", L"<%IVSH_A%>"}, // results are never scanned again
    {L"%@probe[a,b] %@probe[c]", L"<a,b> <c>"},
    {L"%@eval[6*7]", L"42"},
    {L"%@option[commandsep]%@option[escapechar]%@option[UTF8OUTPUT]", L"&^No"},
    {L"%@path[C:\\a\\b\\ivsh.exe]", L"C:\\a\\b\\"},
    {L"[%@path[ivsh.exe]]", L"[]"},
    {L"%@path[\"C:\\x y\\z.btm\"]", L"C:\\x y\\"},
    {L"a^^b", L"a^b"},
    {L"^%IVSH_A%", L"%IVSH_A%"},            // the escaped % starts nothing, nor does the last
    {L"a^&b^", L"a&b^"},                     // an escape at the very end stays
    {L"%", L"%"},
    {L"50% off %-x %", L"50% off %-x %"},
    {L"%@probe no call", L"%@probe no call"},
    {L"%@[x]", L"%@[x]"},
};

TEST_F(ExpanderTest, ExpandsEachForm)
{
    for (const ExpandCase& c : kExpansions) {
        Expansion result = Expand(c.input);
        EXPECT_EQ(result.code, 0) << Show(c.input) << " stderr: " << result.output.err;
        EXPECT_EQ(result.text, c.expected) << "input " << Show(c.input) << " expected " << Show(c.expected)
                                           << " got " << Show(result.text);
        EXPECT_EQ(result.output.err, "") << Show(c.input);
    }
}

TEST_F(ExpanderTest, TransientAndPipeExpandToZeroByDefault)
{
    ASSERT_EQ(HostSetInternal(L"_transient", L"0"), 0);
    EXPECT_EQ(Expand(L"%[_transient]%[_pipe]%[noloadmsg]").text, L"00");
    ASSERT_EQ(HostSetInternal(L"_pipe", L"1"), 0);
    EXPECT_EQ(Expand(L"%_pipe").text, L"1");
    HostSetInternal(L"_pipe", L"0");
    HostSetInternal(L"_transient", L"1");
    EXPECT_NE(HostSetInternal(L"_batch", L"3"), 0);
    EXPECT_NE(HostSetInternal(L"_other", L"3"), 0);
}

TEST_F(ExpanderTest, LastResultIsAVariable)
{
    RunLine(L"probecmd fail");
    EXPECT_EQ(Expand(L"%?").text, L"3");
    RunLine(L"probecmd ok");
    EXPECT_EQ(Expand(L"%?").text, L"0");
}

struct FailCase {
    const wchar_t* input;
    const char* message; // in standard error; "" when the module speaks alone
};

const FailCase kFailures[] = {
    {L"x %@probe[abc", "ivsh: Missing ] in %@probe["},
    {L"%@probe[%@probe[a]", "ivsh: Missing ] in %@probe["},
    {L"%@nosuch[x]", "ivsh: Unknown function: @nosuch"},
    {L"%@missingfn[x]", "ivsh: Unknown function: @missingfn"}, // named but not exported
    {L"%@probe[%@nosuch[x]]", "ivsh: Unknown function: @nosuch"},
    {L"%@eval[1/0]", "ivsh: Division by zero: 1/0"},
    {L"%@option[nosuch]", "ivsh: @option: Unknown option: nosuch"},
    {L"%@overrun[]", "ivsh: @overrun wrote past the end of its 8192-character buffer"},
    {L"%@noend[]", "ivsh: @noend left no end mark in its result"},
    {L"%@fail[why]", "probe: failing on purpose: why"},
};

TEST_F(ExpanderTest, FailuresLeaveTheBufferAndReport)
{
    for (const FailCase& c : kFailures) {
        Expansion result = Expand(c.input);
        EXPECT_NE(result.code, 0) << Show(c.input);
        EXPECT_EQ(result.text, c.input) << "the buffer must stay unchanged";
        EXPECT_EQ(result.output.err, std::string(c.message) + "\r\n") << Show(c.input);
        EXPECT_EQ(result.output.out, "") << Show(c.input);
    }
}

TEST_F(ExpanderTest, FailingModuleFunctionPassesItsCodeOn)
{
    EXPECT_EQ(Expand(L"%@fail[x]").code, -1);
}

TEST_F(ExpanderTest, SettingSwitchesKindsOff)
{
    struct {
        const wchar_t* setting;
        const wchar_t* input;
        const wchar_t* expected;
    } const cases[] = {
        {L"/X2", L"%@probe[%IVSH_A%]", L"<%IVSH_A%>"},         // arguments as written
        {L"/X2", L"%@probe[a^]b]", L"<a^]b>"},
        {L"/X3", L"%IVSH_A% %@probe[x] %% ^&", L"%IVSH_A% %@probe[x] %% &"},
        {L"/X8", L"a^&b %IVSH_A%", L"a^&b alpha"},
        {L"/X1456", L"%IVSH_A%^^", L"alpha^"},                 // kinds the expander does not use
    };
    for (const auto& c : cases) {
        Apply(std::wstring(L"setdos ") + c.setting);
        Expansion result = Expand(c.input);
        EXPECT_EQ(result.text, c.expected) << c.setting << " " << Show(c.input) << " got " << Show(result.text);
        Apply(L"setdos /X0");
    }
}

TEST_F(ExpanderTest, EscapeCharacterIsTheOption)
{
    Apply(L"option escapechar=~");
    EXPECT_EQ(Expand(L"a~&b ~%IVSH_A% %IVSH_A% ^b~~").text, L"a&b %IVSH_A% alpha ^b~");
}

// The result of an expansion never exceeds 8191 units, and a longer one never
// touches the buffer: a guard after 8192 units stays intact.
TEST_F(ExpanderTest, ResultIsCappedAt8191Units)
{
    struct {
        const wchar_t* input;
        bool fits;
        size_t length;
    } const cases[] = {
        {L"%@fill[8191]", true, 8191},
        {L"%@fill[8000]%@fill[191]", true, 8191},
        {L"%@fill[8191]y", false, 0},
        {L"%@fill[8000]%@fill[192]", false, 0},
        {L"%@probe[%@fill[8190]]", false, 0}, // the function's own result does not fit
        {L"%@len[%@fill[8191]]", true, 4},
        {L"%@len[%@fill[8191]x]", false, 0},  // arguments are capped too
    };
    constexpr size_t kGuard = 256;
    constexpr wchar_t kGuardUnit = 0xA5A5;
    for (const auto& c : cases) {
        std::vector<wchar_t> buffer(PLUGIN_BUFFER_LEN + kGuard, kGuardUnit);
        std::fill_n(buffer.begin(), PLUGIN_BUFFER_LEN, L'\0');
        std::wstring input = c.input;
        std::copy(input.begin(), input.end(), buffer.begin());
        int code = 0;
        Output output = Capture([&] { code = ExpandVariables(buffer.data(), 1); });
        EXPECT_TRUE(std::all_of(buffer.begin() + PLUGIN_BUFFER_LEN, buffer.end(), [](wchar_t u) { return u == kGuardUnit; }))
            << Show(input) << " wrote past 8192 units";
        if (c.fits) {
            EXPECT_EQ(code, 0) << Show(input) << output.err;
            EXPECT_EQ(wcsnlen(buffer.data(), PLUGIN_BUFFER_LEN), c.length) << Show(input);
        } else {
            EXPECT_NE(code, 0) << Show(input);
            EXPECT_EQ(std::wstring(buffer.data()), input) << "buffer changed for " << Show(input);
            EXPECT_NE(output.err, "") << Show(input);
        }
    }
}

TEST_F(ExpanderTest, LongEnvironmentValuesFailCleanly)
{
    std::wstring big(5000, L'b');
    SetEnvironmentVariableW(L"IVSH_BIG", big.c_str());
    EXPECT_EQ(Expand(L"%IVSH_BIG%").text, big);
    Expansion twice = Expand(L"%IVSH_BIG%%IVSH_BIG%");
    EXPECT_NE(twice.code, 0);
    EXPECT_EQ(twice.text, L"%IVSH_BIG%%IVSH_BIG%");
    EXPECT_EQ(twice.output.err, "ivsh: Expansion too long (more than 8191 characters)\r\n");
    SetEnvironmentVariableW(L"IVSH_BIG", nullptr);
}

// A module function is handed exactly 8192 units: an argument of 8191 units
// fits, one more is refused before the call.
TEST_F(ExpanderTest, ArgumentOfModuleFunctionFitsItsBuffer)
{
    Apply(L"setdos /X2"); // arguments as written, so that the input alone sets their length
    Expansion fits = Expand(L"%@len[" + std::wstring(8191, L'a') + L"]");
    EXPECT_EQ(fits.code, 0) << fits.output.err;
    EXPECT_EQ(fits.text, L"8191");
    std::wstring over = L"%@len[" + std::wstring(8192, L'a') + L"]";
    Expansion refused = Expand(over);
    EXPECT_NE(refused.code, 0);
    EXPECT_EQ(refused.text, over);
    EXPECT_EQ(refused.output.err, "ivsh: The argument of @len is longer than 8191 characters\r\n");
}

TEST_F(ExpanderTest, DeepNestingFailsWithoutCrashing)
{
    std::wstring text;
    for (int i = 0; i < 500; ++i)
        text += L"%@probe[";
    text += std::wstring(500, L']');
    Expansion result = Expand(text);
    EXPECT_NE(result.code, 0);
    EXPECT_NE(result.output.err.find("Nested too deeply"), std::string::npos) << result.output.err.substr(0, 200);
}

} // namespace
} // namespace shelltest
