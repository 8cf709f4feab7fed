// ReadExpwriteArguments (functions/argument_readers.cpp): @expwrite's handle and
// text, read from the front of its argument text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "functions/argument_readers.h"
#include "text_util.h"

namespace {

constexpr bool kWidePointers = sizeof(uintptr_t) == 8;

struct WriteRow {
    const char* name;
    const Unit* input;
    WriteStatus status;
    bool standardOutput;
    uintptr_t handle;
    const Unit* argument; // what a message names: the handle's text, cut at its separator
    const Unit* text;     // null where no text is read
};

const WriteRow kWriteRows[] = {
    {"standard output", U16("-,a,b"), WRITE_OK, true, 0, U16("-,a,b"), U16("a,b")},
    {"standard output, spaces and a semicolon", U16("  - ;x"), WRITE_OK, true, 0, U16("- ;x"), U16("x")},
    {"standard output and a semicolon", U16("-;x"), WRITE_OK, true, 0, U16("-;x"), U16("x")},
    {"a handle", U16("5,hi"), WRITE_OK, false, 5, U16("5,hi"), U16("hi")},
    {"a handle in hexadecimal", U16("0x1F;t"), WRITE_OK, false, 0x1F, U16("0x1F;t"), U16("t")},
    {"the text keeps its spaces", U16(" 12 ,  a "), WRITE_OK, false, 12, U16("12 ,  a "), U16("  a ")},
    {"an empty text", U16("7,"), WRITE_OK, false, 7, U16("7,"), U16("")},
    {"the largest 32-bit handle", U16("4294967295,x"), WRITE_OK, false, 0xFFFFFFFFu, U16("4294967295,x"),
     U16("x")},
    {"nothing", U16(""), WRITE_MISSING_HANDLE, false, 0, U16(""), nullptr},
    {"spaces alone", U16("   "), WRITE_MISSING_HANDLE, false, 0, U16(""), nullptr},
    {"a word", U16("abc,x"), WRITE_BAD_HANDLE, false, 0, U16("abc"), nullptr},
    {"a dash before a letter", U16("-x,y"), WRITE_BAD_HANDLE, false, 0, U16("-x"), nullptr},
    {"a dash alone", U16("-"), WRITE_BAD_HANDLE, false, 0, U16("-"), nullptr},
    {"handle zero", U16("0,x"), WRITE_ZERO_HANDLE, false, 0, U16("0,x"), nullptr},
    {"no separator", U16("7 x"), WRITE_EXPECTED_COMMA, false, 7, U16("7 x"), nullptr},
    {"a handle alone", U16("7"), WRITE_EXPECTED_COMMA, false, 7, U16("7"), nullptr},
};

class ReadExpwriteArgumentsTable : public ::testing::TestWithParam<WriteRow> {};

void ExpectRow(const WriteRow& row)
{
    std::vector<Unit> buffer(MAX_ARG_LEN, 0);
    const Text input(row.input);
    std::copy(input.begin(), input.end(), buffer.begin());
    WriteArguments args;
    EXPECT_EQ(ReadExpwriteArguments(buffer.data(), &args), row.status);
    EXPECT_EQ(args.standardOutput, row.standardOutput);
    EXPECT_EQ(args.handle, row.handle);
    EXPECT_EQ(Show(args.argument), Show(row.argument));
    if (row.text == nullptr) {
        EXPECT_EQ(args.text, nullptr);
    } else {
        ASSERT_NE(args.text, nullptr);
        EXPECT_EQ(Show(args.text), Show(row.text));
        // The text is the buffer's own, right after the separator.
        EXPECT_TRUE(args.text > buffer.data() && (args.text[-1] == U16(',') || args.text[-1] == U16(';')));
    }
}

TEST_P(ReadExpwriteArgumentsTable, ReadsTheHandleAndTheText) { ExpectRow(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Rows, ReadExpwriteArgumentsTable, ::testing::ValuesIn(kWriteRows),
                         [](const auto& info) { return std::to_string(info.index); });

// A handle is read as wide as a pointer: one past 32 bits is a handle of the
// 64-bit build and too large for the 32-bit one.
TEST(ReadExpwriteArguments, AHandleIsAsWideAsAPointer)
{
    const WriteRow beyond32 = kWidePointers
        ? WriteRow{"beyond 32 bits", U16("4294967296,x"), WRITE_OK, false, uintptr_t(0xFFFFFFFFu) + 1,
                   U16("4294967296,x"), U16("x")}
        : WriteRow{"beyond 32 bits", U16("4294967296,x"), WRITE_BAD_HANDLE, false, 0, U16("4294967296"), nullptr};
    ExpectRow(beyond32);
    const WriteRow beyond64{"beyond 64 bits", U16("18446744073709551616,x"), WRITE_BAD_HANDLE, false, 0,
                            U16("18446744073709551616"), nullptr};
    ExpectRow(beyond64);
}

// The rows of @expcmp, @expreplace and @expfind read by ReadArguments from
// the shell's split of their arguments: what ended the reading, and what each
// argument becomes by then (expanded, a missing one empty; flags and n as
// numbers; the offset as written), read into the same arguments one row
// after another.
struct ListRow {
    char reader;             // c: @expcmp, r: @expreplace, f: @expfind
    const Unit* input;
    ArgumentReading reading;
    const Unit* texts[3];    // first, second; from, to, text; text, pattern, offset (null: none)
    uint32_t flags;
    int32_t n;               // @expfind's n, and its string's length as written
    uint32_t unexpanded;
};

constexpr ArgumentReading kRead{ArgumentFault::kNone, -1};
constexpr ArgumentReading Missing(int k) { return {ArgumentFault::kMissing, k}; }
constexpr ArgumentReading Bad(int k) { return {ArgumentFault::kBadNumber, k}; }

const ListRow kListRows[] = {
    {'c', U16("a\\tb,c"), kRead, {U16("a\tb"), U16("c")}, 0},
    {'c', U16("x,\\x41,12"), kRead, {U16("x"), U16("A")}, 12},
    {'c', U16(""), Missing(0), {U16(""), U16("")}, 0},
    {'c', U16("a"), Missing(1), {U16("a"), U16("")}, 0},
    {'c', U16("a,b,z"), Bad(2), {U16("a"), U16("b")}, 0},
    {'r', U16("ab,\\x42,1,x\\ta"), kRead, {U16("ab"), U16("B"), U16("x\ta")}, 1},
    {'r', U16("a"), kRead, {U16("a"), U16(""), U16("")}, 0},
    {'r', U16(",b"), Missing(0), {U16(""), U16(""), U16("")}, 0},
    {'r', U16("a,b,z,t"), Bad(2), {U16("a"), U16("b"), U16("")}, 0},
    {'f', U16("ab\\tc,\\t,2,1,5"), kRead, {U16("ab\tc"), U16("\t"), U16("5")}, 1, 2, 5},
    {'f', U16(",b"), kRead, {U16(""), U16("b"), nullptr}, 0, 1, 0},
    {'f', U16("a"), kRead, {U16("a"), U16(""), nullptr}, 0, 1, 1},
    {'f', U16("a,b,x"), Bad(2), {U16("a"), U16("b"), nullptr}, 0, 1, 1},
    {'f', U16("a,b,-3,q"), Bad(3), {U16("a"), U16("b"), nullptr}, 0, -3, 1},
};

// A row whose value would lie past its struct, or across its alignment, is
// refused when the build reads the table.
struct TwoFlags {
    uint32_t first, second;
};
constexpr ArgumentRow kPastTheEnd[] = {FlagsArgument(offsetof(TwoFlags, second) + sizeof(uint32_t))};
constexpr ArgumentRow kAcrossAlignment[] = {FlagsArgument(2)};
constexpr ArgumentRow kAStringInTwoFlags[] = {StringArgument(L"s", 0)};
static_assert(!RowsFit(kPastTheEnd, sizeof(TwoFlags)) && !RowsFit(kAcrossAlignment, sizeof(TwoFlags)) &&
              !RowsFit(kAStringInTwoFlags, sizeof(TwoFlags)));

TEST(ArgumentRows, ReadEachArgumentInTurn)
{
    auto list = std::make_unique<ArgList>();
    auto compare = std::make_unique<CompareArguments>();
    auto replace = std::make_unique<ReplaceArguments>();
    auto find = std::make_unique<FindArguments>();
    for (const ListRow& row : kListRows) {
        SplitArgs(row.input, list.get());
        ArgumentReading reading;
        const Unit* texts[3] = {};
        uint32_t flags;
        int32_t n = 0;
        uint32_t unexpanded = 0;
        if (row.reader == 'c') {
            reading = ReadArguments(*list, kCompareArguments, compare.get());
            texts[0] = compare->first, texts[1] = compare->second, flags = compare->flags;
        } else if (row.reader == 'r') {
            reading = ReadArguments(*list, kReplaceArguments, replace.get());
            texts[0] = replace->from, texts[1] = replace->to, texts[2] = replace->text, flags = replace->flags;
        } else {
            reading = ReadArguments(*list, kFindArguments, find.get());
            texts[0] = find->text, texts[1] = find->pattern, texts[2] = find->offset, flags = find->flags, n = find->n;
            unexpanded = find->unexpanded;
        }
        SCOPED_TRACE(Show(row.input));
        EXPECT_EQ(int(reading.fault), int(row.reading.fault));
        EXPECT_EQ(reading.index, row.reading.index);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(texts[k] ? Show(texts[k]) : "none", row.texts[k] ? Show(row.texts[k]) : "none") << k;
        EXPECT_EQ(flags, row.flags);
        EXPECT_EQ(n, row.n);
        EXPECT_EQ(unexpanded, row.unexpanded);
    }
}

// An argument up to the whole of the list's buffer (its NUL the buffer's
// last unit) is read whole, and nothing after it.
TEST(ArgumentRows, AnArgumentUpToTheWholeBufferIsReadWhole)
{
    auto list = std::make_unique<ArgList>();
    auto compare = std::make_unique<CompareArguments>();
    for (size_t length : {8189u, 8190u, 8191u}) {
        std::vector<Unit> text(length + 1, U16('a'));
        text[length] = 0;
        ASSERT_EQ(SplitArgs(text.data(), list.get()), 1) << length;
        std::fill(std::begin(compare->first), std::end(compare->first), U16('#'));
        const ArgumentReading reading = ReadArguments(*list, kCompareArguments, compare.get());
        EXPECT_EQ(int(reading.fault), int(ArgumentFault::kMissing)) << length;
        EXPECT_EQ(reading.index, 1) << length;
        EXPECT_TRUE(std::equal(text.begin(), text.end(), compare->first)) << length;
        if (length + 1 < size_t(MAX_ARG_LEN))
            EXPECT_EQ(compare->first[length + 1], U16('#')) << length;
    }
}

// A variable's name: what follows its percent signs, once the spaces around
// it are gone; it starts with a letter, $ or _.
TEST(ReadVariableName, TakesTheNameAfterItsPercentSigns)
{
    const struct {
        const Unit* input;
        NameStatus status;
        const Unit* name;
    } rows[] = {
        {U16(" %%Path "), NAME_OK, U16("Path")}, {U16("_1"), NAME_OK, U16("_1")}, {U16("$"), NAME_OK, U16("$")},
        {U16("1x"), NAME_BAD, U16("1x")},        {U16("%-"), NAME_BAD, U16("-")}, {U16(" % "), NAME_MISSING, U16("")},
    };
    for (const auto& row : rows) {
        Text buffer = row.input;
        Unit* name = nullptr;
        EXPECT_EQ(ReadVariableName(&buffer[0], &name), row.status) << Show(row.input);
        EXPECT_EQ(Show(name), Show(row.name)) << Show(row.input);
    }
}

// Comparing unit by unit as unsigned numbers, the shorter text's NUL first.
TEST(CompareUnits, OrdersByTheFirstUnitThatDiffers)
{
    const struct {
        const Unit *a, *b;
        int order;
    } rows[] = {{U16(""), U16(""), 0},   {U16("ab"), U16("ab"), 0}, {U16("a"), U16("b"), -1},
                {U16("b"), U16("a"), 1}, {U16("a"), U16("ab"), -1}, {U16("\uffff"), U16("a"), 1}};
    for (const auto& row : rows)
        EXPECT_EQ(CompareUnits(row.a, row.b), row.order) << Show(row.a) << " " << Show(row.b);
}

// Upper-casing changes the ASCII letters up to the NUL, and nothing after it.
TEST(UpperCaseAscii, ChangesTheAsciiLettersUpToTheNul)
{
    Unit text[] = {U16('a'), U16('`'), U16('z'), U16('{'), U16('\u00e9'), U16('Q'), 0, U16('b'), 1, 0};
    UpperCaseAscii(text);
    const Unit expected[] = {U16('A'), U16('`'), U16('Z'), U16('{'), U16('\u00e9'), U16('Q'), 0, U16('b'), 1, 0};
    EXPECT_EQ(Show(text, 10), Show(expected, 10));
}

} // namespace
