// Turning a fuzzer's bytes into engine input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "escape/text.h"

// The bytes as UTF-16LE units, at most MAX_ARG_LEN - 1 of them, NUL units
// replaced by '\' so that every input is one whole text, in a buffer of
// exactly MAX_ARG_LEN units: AddressSanitizer sees any write past it.
inline std::vector<Unit> UnitsFromBytes(const uint8_t* data, size_t size)
{
    size_t count = size / 2;
    if (count > MAX_ARG_LEN - 1)
        count = MAX_ARG_LEN - 1;
    std::vector<Unit> units(MAX_ARG_LEN, 0);
    for (size_t i = 0; i < count; ++i) {
        Unit u = Unit(data[2 * i] | (data[2 * i + 1] << 8));
        units[i] = u == 0 ? Unit('\\') : u;
    }
    return units;
}
