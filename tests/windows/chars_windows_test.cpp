// The native build classifies whitespace and control characters with copies of
// the Windows runtime's tables; here the copies meet the runtime itself.
#include <gtest/gtest.h>

#include <wctype.h>

#include "escape/chars.h"

TEST(CharTables, WhitespaceAgreesWithTheRuntimeForEveryUnit)
{
    for (unsigned u = 0; u <= 0xFFFF; ++u)
        ASSERT_EQ(TableIsSpace(Unit(u)), iswspace(wint_t(u)) != 0) << std::hex << "unit " << u;
}

TEST(CharTables, ControlAgreesWithTheRuntimeForEveryUnit)
{
    for (unsigned u = 0; u <= 0xFFFF; ++u)
        ASSERT_EQ(TableIsControl(Unit(u)), iswcntrl(wint_t(u)) != 0) << std::hex << "unit " << u;
}
