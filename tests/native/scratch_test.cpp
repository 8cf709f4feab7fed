// The core's heap allocations made to fail, and counted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "escape/escapify.h"
#include "escape/expand.h"
#include "escape/scratch.h"
#include "text_util.h"

#ifndef IVRO_ALLOC_TESTING
#error "the allocation tests need the core and themselves built with IVRO_ALLOC_TESTING"
#endif

namespace {

// Longer than any shell buffer, so expansion needs scratch: 4150 TABs.
std::vector<Unit> LongText()
{
    std::vector<Unit> text(8400, 0);
    for (size_t i = 0; i < 8300; ++i)
        text[i] = i % 2 ? U16('t') : U16('\\');
    return text;
}

TEST(Allocation, ExpansionOfALongTextFailsCleanlyAtEitherAllocation)
{
    for (long failing : {1L, 2L}) {
        std::vector<Unit> text = LongText();
        const std::vector<Unit> original = text;
        std::vector<int32_t> map(MAX_ARG_LEN, -5);
        const long allocations = ScratchAllocations();
        const long frees = ScratchFrees();
        ScratchFailAt(failing); // the output buffer, then the map
        EXPECT_EQ(ExpandEscapes(text.data(), map.data()), RESULT_NO_MEMORY) << failing;
        EXPECT_EQ(ScratchAllocations() - allocations, failing - 1) << "made before the failing one";
        ScratchFailAt(0);
        EXPECT_TRUE(text == original);
        EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](int32_t v) { return v == -5; }));
        EXPECT_EQ(ScratchAllocations() - allocations, ScratchFrees() - frees) << failing;
    }
    // With memory: two blocks, both given back.
    std::vector<Unit> text = LongText();
    std::vector<int32_t> map(MAX_ARG_LEN);
    const long allocations = ScratchAllocations();
    EXPECT_EQ(ExpandEscapes(text.data(), map.data()), 4150);
    EXPECT_EQ(ScratchAllocations() - allocations, 2);
    EXPECT_EQ(ScratchAllocations(), ScratchFrees());
}

TEST(Allocation, ExpansionInAShellBufferNeedsNone)
{
    std::vector<Unit> text(MAX_ARG_LEN, U16('\\'));
    text[MAX_ARG_LEN - 1] = 0;
    std::vector<int32_t> map(MAX_ARG_LEN);
    ScratchFailAt(1);
    EXPECT_EQ(ExpandEscapes(text.data(), map.data()), 0); // 4095 backslashes, the last one dropped
    ScratchFailAt(0);
    EXPECT_EQ(Text(text.data()).size(), 4095u);
}

TEST(Allocation, EscapifyWithoutItsWorkBufferLeavesTheText)
{
    std::vector<Unit> text(MAX_ARG_LEN, 0);
    const Text input = U16("tab\there");
    std::copy(input.begin(), input.end(), text.begin());
    ScratchFailAt(1);
    EXPECT_EQ(Escapify(text.data(), 0, nullptr), RESULT_NO_MEMORY);
    ScratchFailAt(0);
    EXPECT_EQ(Show(text.data()), Show(input));
    EXPECT_EQ(ScratchAllocations(), ScratchFrees());
    // An empty text asks for nothing.
    ScratchFailAt(1);
    text[0] = 0;
    EXPECT_EQ(Escapify(text.data(), 0, nullptr), 0);
    ScratchFailAt(0);
}

} // namespace
