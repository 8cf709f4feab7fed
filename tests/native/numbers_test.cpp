// ParseNumber, ParseHandle and ParseSignedNumber (escape/numbers.cpp).
#include <gtest/gtest.h>

#include "escape/numbers.h"
#include "text_util.h"

namespace {

struct NumberCase {
    const Unit* text;
    int result;
    uint32_t value;
};

class ParseNumberWhole : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumberWhole, ReadsTheWholeText)
{
    const NumberCase& c = GetParam();
    uint32_t value = 777;
    EXPECT_EQ(ParseNumber(c.text, nullptr, &value), c.result) << Show(c.text);
    EXPECT_EQ(value, c.result == 0 ? c.value : 777u) << Show(c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseNumberWhole,
                         ::testing::Values(NumberCase{U16("10"), 0, 10}, NumberCase{U16("0x1F"), 0, 31},
                                           NumberCase{U16("0X1f"), 0, 31}, NumberCase{U16("010"), 0, 10},
                                           NumberCase{U16("0"), 0, 0}, NumberCase{U16("4294967295"), 0, 4294967295u},
                                           NumberCase{U16("0xFFFFFFFF"), 0, 4294967295u},
                                           NumberCase{U16("00000000000000000000042"), 0, 42},
                                           NumberCase{U16("4294967296"), RESULT_RANGE, 0},
                                           NumberCase{U16("0x100000000"), RESULT_RANGE, 0},
                                           NumberCase{U16("99999999999999999999999"), RESULT_RANGE, 0},
                                           NumberCase{U16(""), RESULT_NOT_NUMBER, 0}, NumberCase{U16(" 5"), RESULT_NOT_NUMBER, 0},
                                           NumberCase{U16("+5"), RESULT_NOT_NUMBER, 0}, NumberCase{U16("-5"), RESULT_NOT_NUMBER, 0},
                                           NumberCase{U16("5x"), RESULT_NOT_NUMBER, 0}, NumberCase{U16("0x"), RESULT_NOT_NUMBER, 0},
                                           NumberCase{U16("0xg"), RESULT_NOT_NUMBER, 0}, NumberCase{U16("5 "), RESULT_NOT_NUMBER, 0},
                                           NumberCase{U16("\u0663"), RESULT_NOT_NUMBER, 0},   // Arabic-Indic three
                                           NumberCase{U16("\uff15"), RESULT_NOT_NUMBER, 0},   // fullwidth five
                                           NumberCase{U16("0x0x5"), 0, 5}));   // the runtime's own prefix rule

TEST(ParseNumber, WithRestStopsAfterTheDigits)
{
    struct {
        const Unit* text;
        uint32_t value;
        size_t restAt;
    } cases[] = {{U16("5x"), 5, 1},      {U16("0x"), 0, 1},    {U16("0xg"), 0, 1},
                 {U16("0x1f,z"), 31, 4}, {U16("12 ,"), 12, 2}, {U16("7"), 7, 1}};
    for (const auto& c : cases) {
        uint32_t value = 0;
        const Unit* rest = nullptr;
        EXPECT_EQ(ParseNumber(c.text, &rest, &value), 0) << Show(c.text);
        EXPECT_EQ(value, c.value) << Show(c.text);
        EXPECT_EQ(rest, c.text + c.restAt) << Show(c.text);
    }
}

TEST(ParseNumber, FailureLeavesRestAndValueAlone)
{
    uint32_t value = 9;
    const Unit* rest = U16("untouched");
    const Unit* before = rest;
    EXPECT_EQ(ParseNumber(U16("x5"), &rest, &value), RESULT_NOT_NUMBER);
    EXPECT_EQ(ParseNumber(U16("4294967296z"), &rest, &value), RESULT_RANGE);
    EXPECT_EQ(rest, before);
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(ParseNumber(nullptr, &rest, &value), RESULT_MISSING);
    EXPECT_EQ(ParseNumber(U16("5"), &rest, nullptr), RESULT_MISSING);
}

TEST(ParseHandle, ReadsNumbersAsWideAsAPointer)
{
    const bool wide = sizeof(uintptr_t) == 8;
    struct {
        const Unit* text;
        int result;       // with 64-bit pointers
        int narrowResult; // with 32-bit pointers
        uint64_t value;
        size_t restAt;
    } cases[] = {
        {U16("4294967295,x"), 0, 0, 0xFFFFFFFFu, 10},
        {U16("4294967296,x"), 0, RESULT_RANGE, 0x100000000u, 10},
        {U16("0x00000001000000FC;"), 0, RESULT_RANGE, 0x1000000FCu, 18},
        {U16("18446744073709551615 ,"), 0, RESULT_RANGE, UINT64_MAX, 20},
        {U16("0xFFFFFFFFFFFFFFFF"), 0, RESULT_RANGE, UINT64_MAX, 18},
        {U16("18446744073709551616,"), RESULT_RANGE, RESULT_RANGE, 0, 0},
        {U16("0x10000000000000000"), RESULT_RANGE, RESULT_RANGE, 0, 0},
        {U16("-1,"), RESULT_NOT_NUMBER, RESULT_NOT_NUMBER, 0, 0},
    };
    for (const auto& c : cases) {
        uintptr_t value = 3;
        const Unit* rest = nullptr;
        const int expected = wide ? c.result : c.narrowResult;
        EXPECT_EQ(ParseHandle(c.text, &rest, &value), expected) << Show(c.text);
        if (expected == 0) {
            EXPECT_EQ(value, uintptr_t(c.value)) << Show(c.text);
            EXPECT_EQ(rest, c.text + c.restAt) << Show(c.text);
        } else {
            EXPECT_EQ(value, 3u) << Show(c.text);
        }
    }
}

struct SignedCase {
    const Unit* text;
    int result;
    int32_t value;
};

class ParseSignedNumberTable : public ::testing::TestWithParam<SignedCase> {};

TEST_P(ParseSignedNumberTable, ReadsTheWholeText)
{
    const SignedCase& c = GetParam();
    int32_t value = 777;
    EXPECT_EQ(ParseSignedNumber(c.text, &value), c.result) << Show(c.text);
    EXPECT_EQ(value, c.result == 0 ? c.value : 777) << Show(c.text);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseSignedNumberTable,
                         ::testing::Values(SignedCase{U16("-5"), 0, -5}, SignedCase{U16("0x10"), 0, 16},
                                           SignedCase{U16("0xFFFFFFFF"), 0, -1}, // 0xffffffff == -1
                                           SignedCase{U16("0x80000000"), 0, INT32_MIN},
                                           SignedCase{U16("2147483647"), 0, INT32_MAX},
                                           SignedCase{U16("-2147483648"), 0, INT32_MIN},
                                           SignedCase{U16("2147483648"), RESULT_RANGE, 0},
                                           SignedCase{U16("-2147483649"), RESULT_RANGE, 0},
                                           SignedCase{U16("0x100000000"), RESULT_RANGE, 0},
                                           SignedCase{U16("-0x5"), RESULT_NOT_NUMBER, 0}, // -0 then trailing x5
                                           SignedCase{U16("-0"), 0, 0}, SignedCase{U16("--5"), RESULT_NOT_NUMBER, 0},
                                           SignedCase{U16("-"), RESULT_NOT_NUMBER, 0}, SignedCase{U16("+5"), RESULT_NOT_NUMBER, 0},
                                           SignedCase{U16(" 1"), RESULT_NOT_NUMBER, 0}, SignedCase{U16("1 "), RESULT_NOT_NUMBER, 0},
                                           SignedCase{U16(""), RESULT_NOT_NUMBER, 0}));

TEST(ParseSignedNumber, NullArgumentsFail)
{
    int32_t value = 0;
    EXPECT_EQ(ParseSignedNumber(nullptr, &value), RESULT_MISSING);
    EXPECT_EQ(ParseSignedNumber(U16("1"), nullptr), RESULT_MISSING);
}

} // namespace
