// The module's test build with its heap allocations made to fail, one site at
// a time, and counted: after every test each allocation has been freed.
#include <gtest/gtest.h>

#include <vector>

#include "harness.h"
#include "plugin/host.h"

namespace {

typedef void(WINAPI* FailAtProc)(long n);
typedef void(WINAPI* CountsProc)(long* allocations, long* frees);

void FailAt(long n) { ExportAs<FailAtProc>("IvroScratchFailAt")(n); }

std::pair<long, long> Counts()
{
    long allocations = 0, frees = 0;
    ExportAs<CountsProc>("IvroScratchCounts")(&allocations, &frees);
    return {allocations, frees};
}

// Every test ends with as many frees as allocations, and no failure pending.
class LeakCheck : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        FailAt(0);
        auto [allocations, frees] = Counts();
        EXPECT_EQ(allocations, frees) << "heap blocks left behind";
    }
};

struct Site {
    const char* name;
    const char* function;
    std::wstring argument;
    long failAt;          // which allocation of the call fails
    const wchar_t* text;  // the result the failure leaves
    int code;
    std::string err;
};

void PrintTo(const Site& site, std::ostream* out) { *out << site.name; }

class AllocationFailure : public ::testing::TestWithParam<Site> {
protected:
    static void SetUpTestSuite()
    {
        static bool installed = false;
        if (!installed) {
            ::testing::UnitTest::GetInstance()->listeners().Append(new LeakCheck);
            installed = true;
        }
        SetEnvironmentVariableW(L"IVRO_TAB", L"a\tb");
        path_ = TempDir() + L"\\line.txt";
        WriteFileBytes(path_, "x\ty\r\n");
    }
    static std::wstring path_;
};

std::wstring AllocationFailure::path_;

TEST_P(AllocationFailure, IsHandledAsTheFunctionSays)
{
    const Site& s = GetParam();
    std::wstring argument = s.argument;
    size_t at = argument.find(L"{file}");
    if (at != std::wstring::npos)
        argument.replace(at, 6, path_);

    // Without a failure the call allocates at least as often as asked for.
    auto before = Counts();
    CallResult ok = CallBuffer(s.function, argument);
    auto after = Counts();
    ASSERT_GE(after.first - before.first, s.failAt) << "the site is not reached";
    EXPECT_EQ(after.first - before.first, after.second - before.second);

    FailAt(s.failAt);
    CallResult r = CallBuffer(s.function, argument);
    FailAt(0);
    EXPECT_EQ(r.code, s.code) << s.name;
    EXPECT_EQ(Show(r.text), Show(s.text)) << s.name << ", without failure: " << Show(ok.text);
    EXPECT_EQ(r.output.err, s.err) << s.name;
    EXPECT_TRUE(r.guardIntact);
}

INSTANTIATE_TEST_SUITE_P(
    Sites, AllocationFailure,
    ::testing::Values(
        // Escapify's work buffer: the text stays unescaped, and that is a result.
        Site{"escapify", "f_escapify", L"a\tb \"c\"", 1, L"a\tb \"c\"", 0, ""},
        Site{"escenv", "f_escenv", L"IVRO_TAB", 1, L"a\tb", 0, ""},
        Site{"escline", "f_escline", L"{file},0", 1, L"x\ty", 0, ""},
        // The room of @expreplace for its three strings, and of @expcmp for
        // its two: a message, nothing done.
        Site{"expreplace arguments", "f_expreplace", L"x,\\t,0,axb", 1, L"x,\\t,0,axb", -1,
             "Ivro plugin: Error allocating replacement buffers\r\n"},
        Site{"expcmp arguments", "f_expcmp", L"a,b", 1, L"a,b", -1,
             "Ivro plugin: Error allocating comparison buffers\r\n"},
        Site{"expreplace escapify", "f_expreplace", L"x,\\t,0,axb", 2, L"a\tb", 0, ""},
        // The lower-cased copies of a search that ignores case: nothing found.
        Site{"expreplace copy of the text", "f_expreplace", L"x,-,1,aXb", 2, L"aXb", 0, ""},
        Site{"expreplace copy of from", "f_expreplace", L"x,-,1,aXb", 3, L"aXb", 0, ""},
        Site{"expreplace after both copies", "f_expreplace", L"x,\\t,1,aXb", 4, L"a\tb", 0, ""},
        // The room of @expfind for its string, map and substring; then its
        // match list.
        Site{"expfind arguments", "f_expfind", L"aaa,a,2", 1, L"aaa,a,2", -1,
             "Ivro plugin: Error allocating position map\r\n"},
        Site{"expfind match list", "f_expfind", L"aaa,a,2", 2, L"aaa,a,2", -1,
             "Ivro plugin: Error allocating matches buffer\r\n"},
        Site{"expfind match list from the back", "f_expfind", L"aaa,a,-1,8", 2, L"aaa,a,-1,8", -1,
             "Ivro plugin: Error allocating matches buffer\r\n"}),
    [](const auto& info) { return std::to_string(info.index); });

// @expwrite keeps the bytes a line will overwrite inside a file, to put
// them back should it fail: without room for them it writes nothing (-1,
// the file and the position as they were). At the end of a file it keeps
// nothing, and needs no room.
TEST(AllocationFailureWrite, WithoutRoomForTheOverwrittenBytesNothingIsWritten)
{
    const std::wstring path = TempDir() + L"\\write.txt";
    WriteFileBytes(path, "0123456789\r\n");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::wstring argument = std::to_wstring(reinterpret_cast<uintptr_t>(file)) + L",x";
    LARGE_INTEGER position = {};

    FailAt(1);
    CallResult r = CallBuffer("f_expwrite", argument);
    FailAt(0);
    EXPECT_EQ(Show(r.text), Show(L"-1"));
    EXPECT_EQ(r.output.err, "");
    SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT);
    EXPECT_EQ(position.QuadPart, 0);
    EXPECT_EQ(ReadFileBytes(path), "0123456789\r\n");

    // With the room, inside the file: one block, freed.
    auto before = Counts();
    EXPECT_NE(CallBuffer("f_expwrite", argument).text, L"-1");
    EXPECT_EQ(Counts().first - before.first, 1);

    // At the end: none.
    SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_END);
    before = Counts();
    EXPECT_NE(CallBuffer("f_expwrite", argument).text, L"-1");
    EXPECT_EQ(Counts(), before);
    CloseHandle(file);
}

// Counting occurrences needs no list: the room for the arguments is the
// call's one allocation, and a second cannot fail it.
TEST(AllocationFailureCount, CountingAllocatesNoList)
{
    auto before = Counts();
    FailAt(2);
    CallResult r = CallBuffer("f_expfind", L"aaaa,aa,0");
    FailAt(0);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text, L"3");
    EXPECT_EQ(Counts().first - before.first, 1);
}

// A help request takes its path buffers from the heap; without them it says
// so, and opens nothing.
TEST(AllocationFailureHelp, WithoutPathBuffersHelpSaysSo)
{
    wchar_t name[] = L"@exp";
    int result = 0;
    FailAt(1);
    Output output = Capture([&] { result = ExportAs<HelpProc>("Help")(name); });
    FailAt(0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(output.err, "Ivro plugin: Error allocating path buffers\r\n");
    EXPECT_EQ(output.out, "");
}

// Expansion works in place in every shell buffer; scratch is needed only for a
// text longer than any shell hands over, and without it the text is used as
// it is.
TEST(AllocationFailureExpansion, ALongTextIsLeftUnexpanded)
{
    std::vector<wchar_t> buffer(9000, 0);
    for (int i = 0; i < 8300; ++i)
        buffer[size_t(i)] = i % 2 ? L't' : L'\\';
    const std::vector<wchar_t> original = buffer;

    FailAt(1);
    int result = -1;
    Output output = Capture([&] { result = BufferExport("f_exp")(buffer.data()); });
    FailAt(0);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(buffer == original);
    EXPECT_EQ(output.err, "");

    // EXPECHO prints the unexpanded text then.
    FailAt(1);
    output = Capture([&] { result = BufferExport("expecho")(buffer.data()); });
    FailAt(0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(output.out.size(), 8300u);
    EXPECT_EQ(output.out.substr(0, 4), "\\t\\t");

    // With memory it expands: 4150 TABs.
    auto before = Counts();
    EXPECT_EQ(BufferExport("f_exp")(buffer.data()), 0);
    EXPECT_EQ(std::wstring(buffer.data()), std::wstring(4150, L'\t'));
    EXPECT_EQ(Counts().first - before.first, 1);
}

TEST(AllocationFailureExpansion, AShellBufferNeedsNoScratch)
{
    auto before = Counts();
    CallResult r = CallBuffer("f_exp", std::wstring(4095, L'\\') + L"x41" + std::wstring(4093, L'q'));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(Counts(), before);
}

} // namespace
