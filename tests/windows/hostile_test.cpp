// Hostile input through the real module: texts that fill the shell's buffer
// with one troublesome thing, numbers at the edges of 32 bits, handles that
// are not open, expressions the shell rejects. Each call must give the result
// the function promises and write nothing past the buffer.
#include <gtest/gtest.h>

#include <cwctype>
#include <optional>

#include "harness.h"
#include "plugin/functions.h"
#include "plugin/host.h"

namespace {

std::wstring Fill(wchar_t unit, size_t n = 8191) { return std::wstring(n, unit); }
std::wstring Repeat(const std::wstring& piece, size_t times)
{
    std::wstring text;
    for (size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

struct Hostile {
    const char* name;
    const char* function;
    std::wstring argument;
    int code;
    std::optional<std::wstring> text; // the buffer afterwards, when it matters
    std::string err;
    size_t outBytes = 0; // what EXPECHO or @expwrite wrote to standard output
};

void PrintTo(const Hostile& h, std::ostream* out) { *out << h.name; }

const std::string kOverflow = "Ivro plugin: Buffer overflow\r\n";

// A handle number is read as wide as a pointer: one that fits but is no open
// handle fails the write, a wider one is a bad handle.
Hostile HandleCase(const char* name, const std::wstring& number, bool fits)
{
    if (fits)
        return {name, "f_expwrite", number + L",x", 0, L"-1", ""};
    std::wstring shown = number; // upper-cased, as every quoted argument
    for (wchar_t& c : shown)
        c = wchar_t(towupper(c));
    return {name, "f_expwrite", number + L",x", -1, std::nullopt, "Ivro plugin: Bad handle: \"" + Bytes(shown) + "\"\r\n"};
}
constexpr bool kWideHandles = sizeof(void*) == 8;

std::vector<Hostile> Cases()
{
    const std::wstring backslashes = Fill(L'\\');
    const std::wstring commas = Fill(L',');
    const std::wstring quotes = Fill(L'"');
    const std::wstring highs = Fill(0xD800);
    const std::wstring lows = Fill(0xDC00);
    const std::wstring emptyArguments = L"a" + Fill(L',', 1100);
    const std::wstring longFlags = L"a,b," + Fill(L'\\', 8187);
    return {
        // Whole argument texts.
        {"exp backslashes", "f_exp", backslashes, 0, Fill(L'\\', 4095), ""},
        {"exp commas", "f_exp", commas, 0, commas, ""},
        {"exp quotes", "f_exp", quotes, 0, quotes, ""},
        {"exp lone surrogates", "f_exp", highs, 0, highs, ""},
        {"escapify backslashes", "f_escapify", backslashes, -1, backslashes, kOverflow},
        {"escapify commas", "f_escapify", commas, 0, commas, ""},
        {"escapify quotes", "f_escapify", quotes, -1, quotes, kOverflow},
        {"escapify high surrogates", "f_escapify", highs, 0, highs, ""},
        {"escapify low surrogates", "f_escapify", lows, 0, lows, ""},
        {"escapify high surrogates between letters", "f_escapify", Repeat(L"\xD800x", 4095) + L"y", 0,
         Repeat(L"\xD800x", 4095) + L"y", ""},
        {"expecho backslashes", "expecho", backslashes, 0, std::nullopt, "", 4095},
        // Arguments split at commas and quotes.
        {"expcmp commas", "f_expcmp", commas, -1, commas, "Ivro plugin: Missing string1\r\n"},
        {"expcmp quotes", "f_expcmp", quotes, -1, quotes, "Ivro plugin: Missing string1\r\n"},
        {"expcmp 1100 empty arguments", "f_expcmp", emptyArguments, -1, emptyArguments,
         "Ivro plugin: Missing string2\r\n"},
        {"expcmp unbalanced quote", "f_expcmp", L"\"a,b,c", -1, std::nullopt, "Ivro plugin: Missing string2\r\n"},
        {"expcmp long bad flags", "f_expcmp", longFlags, -1, longFlags,
         "Ivro plugin: Bad flags: \"" + std::string(8187, '\\') + "\"\r\n"},
        {"expreplace commas", "f_expreplace", commas, -1, commas,
         "Ivro plugin: Missing \xE2\x80\x98" "from\xE2\x80\x99 string\r\n"},
        {"expreplace every unit", "f_expreplace", L"a,b,0," + Fill(L'a', 8185), 0, Fill(L'b', 8185), ""},
        {"expreplace every unit ignoring case", "f_expreplace", L"A,b,1," + Fill(L'a', 8185), 0, Fill(L'b', 8185),
         ""},
        {"expreplace growing past the buffer", "f_expreplace", L"a,bb,0," + Fill(L'a', 8184), -1,
         L"a,bb,0," + Fill(L'a', 8184), "Ivro plugin: Buffer overflow replacing string\r\n"},
        {"expfind 1100 empty arguments", "f_expfind", L"a,a" + Fill(L',', 1100), 0, L"0", ""},
        {"expfind dense escapes", "f_expfind", Repeat(L"\\x41", 2046) + L",A,0", 0, L"2046", ""},
        {"escenv percent signs", "f_escenv", Fill(L'%'), -1, std::nullopt, "Ivro plugin: No variable name\r\n"},
        {"escenv blanks", "f_escenv", Fill(L' '), -1, L"", "Ivro plugin: No variable name\r\n"},
        {"escenv long name", "f_escenv", Fill(L'a'), 0, L"", ""},
        {"expwrite commas", "f_expwrite", commas, -1, L"", "Ivro plugin: Bad handle: \"\"\r\n"},
        // 4094 backslashes and CR LF, after the mark of an empty UTF-8 file.
        {"expwrite backslashes to standard output", "f_expwrite", L"-," + Fill(L'\\', 8189), 0, L"4096", "",
         3 + 4096},
        // Numbers at the edges of 32 bits.
        {"n 2^31", "f_expfind", L"a,a,2147483648", -1, std::nullopt, "Ivro plugin: Bad n: \"2147483648\"\r\n"},
        {"n -2^31 - 1", "f_expfind", L"a,a,-2147483649", -1, std::nullopt, "Ivro plugin: Bad n: \"-2147483649\"\r\n"},
        {"n -2^31", "f_expfind", L"a,a,-2147483648", 0, L"-1", ""},
        {"n 0xFFFFFFFF", "f_expfind", L"a,a,0xFFFFFFFF", 0, L"0", ""},
        {"n 0x100000000", "f_expfind", L"a,a,0x100000000", -1, std::nullopt,
         "Ivro plugin: Bad n: \"0X100000000\"\r\n"},
        {"flags 2^32 - 1", "f_expfind", L"a,a,1,4294967295", 0, L"0+1", ""},
        {"flags 2^32", "f_expfind", L"a,a,1,4294967296", -1, std::nullopt,
         "Ivro plugin: Bad flags: \"4294967296\"\r\n"},
        {"offset 2^32 - 1", "f_expfind", L"a,a,1,0,4294967295", 0, L"-1", ""},
        {"offset 2^32", "f_expfind", L"a,a,1,0,4294967296", -1, std::nullopt,
         "Ivro plugin: Bad offset: \"4294967296\"\r\n"},
        {"offset evaluating to 2^32", "f_expfind", L"a,a,1,0,0x100000000", -1, std::nullopt,
         "Ivro plugin: Bad offset: \"0X100000000\"\r\n"},
        {"expcmp flags 2^32", "f_expcmp", L"a,b,4294967296", -1, std::nullopt,
         "Ivro plugin: Bad flags: \"4294967296\"\r\n"},
        // Expressions the shell rejects, and a long one it accepts.
        {"offset 1+", "f_expfind", L"a,a,1,0,1+", -1, std::nullopt, "Ivro plugin: Bad offset: \"1+\"\r\n"},
        {"offset )", "f_expfind", L"a,a,1,0,)", -1, std::nullopt, "Ivro plugin: Bad offset: \")\"\r\n"},
        {"offset 1/0", "f_expfind", L"a,a,1,0,1/0", -1, std::nullopt, "Ivro plugin: Bad offset: \"1/0\"\r\n"},
        {"offset 4000 terms", "f_expfind", L"a,a,1,0,1" + Repeat(L"+1", 4000), 0, L"-1", ""},
        // Handles that are not open.
        {"handle not open", "f_expwrite", L"123456,x", 0, L"-1", ""},
        HandleCase("handle 2^32 - 1", L"4294967295", true),
        HandleCase("handle 2^32", L"4294967296", kWideHandles),
        HandleCase("handle 0x1 0000 0000", L"0x100000000", kWideHandles),
        HandleCase("handle 2^64 - 1", L"18446744073709551615", kWideHandles),
        HandleCase("handle 2^64", L"18446744073709551616", false),
        HandleCase("handle 0x1 0000 0000 0000 0000", L"0x10000000000000000", false),
        {"read handle not open", "f_escread", L"123456", 0, std::nullopt, ""},
    };
}

class HostileInput : public ::testing::TestWithParam<Hostile> {
protected:
    static void SetUpTestSuite() { ShellCommand(L"option utf8output=yes"); }
    static void TearDownTestSuite() { ShellCommand(L"option utf8output=no"); }
};

TEST_P(HostileInput, GivesThePromisedResultWithinTheBuffer)
{
    const Hostile& h = GetParam();
    ASSERT_LE(h.argument.size(), 8191u) << "the case itself must fit a shell buffer";
    CallResult r = CallBuffer(h.function, h.argument);
    EXPECT_TRUE(r.guardIntact) << "written past the buffer";
    if (std::string(h.function) == "f_escread") {
        // The shell reports what it cannot read; the module adds nothing.
        EXPECT_NE(r.code, 0);
        EXPECT_EQ(r.output.err.find("Ivro plugin"), std::string::npos) << r.output.err;
        return;
    }
    EXPECT_EQ(r.code, h.code);
    if (h.text) {
        EXPECT_TRUE(r.text == *h.text) << Show(r.text.substr(0, 60)) << " ... (" << r.text.size() << " units)";
    }
    EXPECT_EQ(ShowBytes(r.output.err.substr(0, 200)), ShowBytes(h.err.substr(0, 200)));
    EXPECT_EQ(r.output.err.size(), h.err.size());
    EXPECT_EQ(r.output.out.size(), h.outBytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInput, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::to_string(info.index); });

// Every @ function of the table of functions, a new one too, with the whole
// buffer one troublesome thing: whatever it answers, it answers success or
// failure and writes nothing past the buffer.
TEST_F(HostileInput, EveryFunctionStaysWithinTheBufferWhateverFillsIt)
{
    std::vector<const char*> functions;
#define IVRO_HOSTILE_FUNCTION(name, export, ...)                                                                       \
    if (name[0] == '@')                                                                                                \
        functions.push_back(#export);
    IVRO_FUNCTIONS(IVRO_HOSTILE_FUNCTION)
#undef IVRO_HOSTILE_FUNCTION
    const std::pair<const char*, std::wstring> fillings[] = {
        {"backslashes", Fill(L'\\')},         {"commas", Fill(L',')},
        {"quotes", Fill(L'"')},                {"lone surrogates", Fill(wchar_t(0xD800))},
        {"percent signs", Fill(L'%')},         {"long escapes", Repeat(L"\\U10FFFF", 1170)},
        {"brackets", Repeat(L"[]", 4095)},
    };
    for (const char* function : functions) {
        for (const auto& [filling, argument] : fillings) {
            SCOPED_TRACE(std::string(function) + " of " + filling);
            const CallResult r = CallBuffer(function, argument);
            EXPECT_TRUE(r.guardIntact) << "written past the buffer";
            EXPECT_TRUE(r.code == 0 || r.code == -1) << r.code;
            EXPECT_LE(r.text.size(), 8191u);
        }
    }
}

} // namespace
