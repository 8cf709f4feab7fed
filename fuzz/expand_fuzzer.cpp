// ExpandEscapes on any text that fits a shell buffer: no crash, no write
// outside text and map, never longer than the input, a well-formed map.
#include <cstdlib>

#include "escape/expand.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<Unit> text = UnitsFromBytes(data, size);
    const size_t length = TextLength(text.data());
    std::vector<int32_t> map(length + 1, -7); // room for the expanded length + 1
    const std::vector<Unit> before = text;

    int count = ExpandEscapes(text.data(), map.data());
    if (length == 0) {
        if (count != 0 || map[0] != -7)
            std::abort();
        return 0;
    }
    // A text that fits cannot overflow, and in place needs no memory.
    if (count < 0)
        std::abort();
    const size_t expanded = TextLength(text.data());
    if (expanded > length || map[expanded] != 0)
        std::abort();
    for (size_t i = 0; i < expanded; ++i) {
        // Offsets point into the input, never decrease, and point at the
        // unit itself or at the backslash of the escape that produced it.
        if (map[i] < 0 || size_t(map[i]) >= length || (i > 0 && map[i] < map[i - 1]))
            std::abort();
        if (before[size_t(map[i])] != '\\' && before[size_t(map[i])] != text[i])
            std::abort();
    }
    // Without a map the result is the same.
    std::vector<Unit> again = before;
    if (ExpandEscapes(again.data(), nullptr) != count || again != text)
        std::abort();
    return 0;
}
