// Evaluate: integer arithmetic in place.
#include <vector>

#include "shell_test.h"

namespace shelltest {
namespace {

struct EvalCase {
    const wchar_t* expression;
    const wchar_t* value;
};

const EvalCase kValues[] = {
    {L"7", L"7"},
    {L"1+2*3", L"7"},
    {L"(1+2)*3", L"9"},
    {L"10-4-3", L"3"},          // left to right
    {L"100/10/5", L"2"},
    {L"-5/2", L"-2"},           // C truncates towards zero
    {L"-5%2", L"-1"},
    {L"5%-3", L"2"},
    {L"0x10+0X0f", L"31"},
    {L"0xFFFFFFFF+1", L"4294967296"}, // 64 bits inside
    {L" 2 * ( 3 + 4 ) ", L"14"},
    {L"--3", L"3"},
    {L"+4", L"4"},
    {L"-(2+3)", L"-5"},
    {L"007", L"7"},             // leading zeros are decimal, not octal
    {L"9223372036854775807", L"9223372036854775807"},
    {L"-9223372036854775807-1", L"-9223372036854775808"},
    {L"(-9223372036854775807-1)%-1", L"0"},
};

TEST(Evaluate, ComputesValues)
{
    for (const EvalCase& c : kValues) {
        std::vector<wchar_t> buffer(PLUGIN_BUFFER_LEN, L'\0');
        std::wstring expression = c.expression;
        std::copy(expression.begin(), expression.end(), buffer.begin());
        int code = 1;
        Output output = Capture([&] { code = Evaluate(buffer.data()); });
        EXPECT_EQ(code, 0) << Show(expression) << output.err;
        EXPECT_EQ(std::wstring(buffer.data()), c.value) << Show(expression);
    }
}

struct BadCase {
    const wchar_t* expression;
    const char* message;
};

const BadCase kErrors[] = {
    {L"", "Bad expression"},
    {L"   ", "Bad expression"},
    {L"1+", "Bad expression"},
    {L"(1", "Bad expression"},
    {L"1)", "Bad expression"},
    {L"2 3", "Bad expression"},
    {L"12a", "Bad expression"},     // no number glued to letters
    {L"0x", "Bad expression"},
    {L"0x1g", "Bad expression"},
    {L"abc", "Bad expression"},
    {L"1 ** 2", "Bad expression"},
    {L"1/0", "Division by zero"},
    {L"5%(2-2)", "Division by zero"},
    {L"9223372036854775808", "Arithmetic overflow"},
    {L"99999999999999999999999", "Arithmetic overflow"},
    {L"9223372036854775807+1", "Arithmetic overflow"},
    {L"-9223372036854775807-2", "Arithmetic overflow"},
    {L"(-9223372036854775807-1)/-1", "Arithmetic overflow"},
    {L"3000000000*4000000000", "Arithmetic overflow"},
};

TEST(Evaluate, ErrorsReportAndLeaveTheBuffer)
{
    for (const BadCase& c : kErrors) {
        std::vector<wchar_t> buffer(PLUGIN_BUFFER_LEN, L'\0');
        std::wstring expression = c.expression;
        std::copy(expression.begin(), expression.end(), buffer.begin());
        int code = 0;
        Output output = Capture([&] { code = Evaluate(buffer.data()); });
        EXPECT_NE(code, 0) << Show(expression);
        EXPECT_EQ(std::wstring(buffer.data()), expression) << "buffer changed";
        EXPECT_EQ(output.err, "ivsh: " + std::string(c.message) + ": " + Utf8(expression) + "\r\n");
    }
}

TEST(Evaluate, DeepParenthesesFailWithoutCrashing)
{
    std::wstring expression = std::wstring(4000, L'(') + L"1" + std::wstring(4000, L')');
    std::vector<wchar_t> buffer(expression.begin(), expression.end());
    buffer.resize(PLUGIN_BUFFER_LEN);
    int code = 0;
    Capture([&] { code = Evaluate(buffer.data()); });
    EXPECT_NE(code, 0);
    std::wstring nested = std::wstring(100, L'(') + L"1" + std::wstring(100, L')');
    buffer.assign(nested.begin(), nested.end());
    buffer.resize(PLUGIN_BUFFER_LEN);
    EXPECT_EQ(Evaluate(buffer.data()), 0);
    EXPECT_EQ(std::wstring(buffer.data()), L"1");
}

} // namespace
} // namespace shelltest
