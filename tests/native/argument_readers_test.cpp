// ReadWriteArguments (functions/argument_readers.cpp): @expwrite's handle and
// text, read from the front of its argument text.
#include <gtest/gtest.h>

#include <cstdint>
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

class ReadWriteArgumentsTable : public ::testing::TestWithParam<WriteRow> {};

void ExpectRow(const WriteRow& row)
{
    std::vector<Unit> buffer(MAX_ARG_LEN, 0);
    const Text input(row.input);
    std::copy(input.begin(), input.end(), buffer.begin());
    WriteArguments args;
    EXPECT_EQ(ReadWriteArguments(buffer.data(), &args), row.status);
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

TEST_P(ReadWriteArgumentsTable, ReadsTheHandleAndTheText) { ExpectRow(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Rows, ReadWriteArgumentsTable, ::testing::ValuesIn(kWriteRows),
                         [](const auto& info) { return std::to_string(info.index); });

// A handle is read as wide as a pointer: one past 32 bits is a handle of the
// 64-bit build and too large for the 32-bit one.
TEST(ReadWriteArguments, AHandleIsAsWideAsAPointer)
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

} // namespace
