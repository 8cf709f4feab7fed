#include "escape/chars.h"

size_t TextLength(const Unit* text)
{
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

bool TableIsSpace(Unit u)
{
    switch (u) {
    case 0x0009: case 0x000A: case 0x000B: case 0x000C: case 0x000D:
    case 0x0020: case 0x00A0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return u >= 0x2000 && u <= 0x200A;
    }
}

bool TableIsControl(Unit u)
{
    if (IsLatin1Control(u))
        return true;
    // Above Latin-1 the runtime also calls the format characters controls.
    static const struct { Unit first, last; } ranges[] = {
        {0x0600, 0x0605}, {0x061C, 0x061C}, {0x06DD, 0x06DD}, {0x070F, 0x070F},
        {0x0890, 0x0891}, {0x08E2, 0x08E2}, {0x180E, 0x180E}, {0x200B, 0x200F},
        {0x202A, 0x202E}, {0x2060, 0x2064}, {0x2066, 0x206F}, {0xFEFF, 0xFEFF},
        {0xFFF9, 0xFFFB},
    };
    for (const auto& r : ranges)
        if (u >= r.first && u <= r.last)
            return true;
    return false;
}
