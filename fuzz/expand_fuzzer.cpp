// ExpandEscapes on any text that fits a shell buffer: no crash, no write
// outside text and map, a well-formed map, and the same text, map and count
// as a plain reading of the rules one unit at a time.
#include <cstdlib>
#include <cstring>

#include "escape/expand.h"
#include "fuzz_input.h"

namespace {

// The rules, read one unit at a time, without tables or fast paths.
struct Reference {
    std::vector<Unit> units;
    std::vector<int32_t> map;
    int count = 0;

    void Add(Unit u, size_t from)
    {
        units.push_back(u);
        map.push_back(int32_t(from));
    }

    // Reads up to `most` digits of `base` at `d`; the value, or 0 when there
    // is no digit.
    static uint32_t Number(const Unit* d, unsigned base, int most, int* read)
    {
        uint32_t value = 0;
        int n = 0;
        for (; n < most; ++n) {
            const char* digits = "0123456789abcdef";
            const Unit u = d[n] >= 'A' && d[n] <= 'F' ? Unit(d[n] + 32) : d[n];
            const char* at = u < 128 && u != 0 ? std::strchr(digits, int(u)) : nullptr;
            if (at == nullptr || unsigned(at - digits) >= base)
                break;
            value = value * base + unsigned(at - digits);
        }
        *read = n;
        return value;
    }

    explicit Reference(const Unit* in)
    {
        const char* named = "abcefknqrstv";
        const Unit meaning[] = {7, 8, ',', 27, 12, '`', 10, '"', 13, ' ', 9, 11};
        for (size_t i = 0; in[i] != 0;) {
            const Unit next = in[i + 1];
            if (in[i] != '\\') {
                Add(in[i], i);
                ++i;
            } else if (next == 0) {
                ++i;
            } else if (next < 128 && std::strchr(named, int(next)) != nullptr) {
                Add(meaning[std::strchr(named, int(next)) - named], i);
                ++count;
                i += 2;
            } else if (next >= '0' && next <= '7') {
                int n;
                const uint32_t value = Number(&in[i + 1], 8, 3, &n);
                if (value == 0) {
                    i += 2;
                } else {
                    Add(Unit(value), i);
                    ++count;
                    i += 1 + size_t(n);
                }
            } else if (next == '#' || next == 'x' || next == 'u' || next == 'U') {
                int n;
                const uint32_t value = next == '#'   ? Number(&in[i + 2], 10, 5, &n)
                                       : next == 'U' ? Number(&in[i + 2], 16, 8, &n)
                                                     : Number(&in[i + 2], 16, 4, &n);
                const uint32_t most = next == 'U' ? 0x10FFFF : 0xFFFF;
                const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
                if (value == 0 || value > most || (surrogate && (next == 'u' || next == 'U'))) {
                    ++i; // the letter is read again as text
                    continue;
                }
                if (value > 0xFFFF) {
                    Add(Unit(0xD800 + ((value - 0x10000) >> 10)), i);
                    Add(Unit(0xDC00 + ((value - 0x10000) & 0x3FF)), i);
                } else {
                    Add(Unit(value), i);
                }
                ++count;
                i += 2 + size_t(n);
            } else {
                Add(next, i);
                i += 2;
            }
        }
    }
};

} // namespace

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
    const Reference reference(before.data());
    if (count != reference.count || reference.units != std::vector<Unit>(text.data(), text.data() + expanded) ||
        reference.map != std::vector<int32_t>(map.data(), map.data() + expanded))
        std::abort();
    // Without a map the result is the same.
    std::vector<Unit> again = before;
    if (ExpandEscapes(again.data(), nullptr) != count || again != text)
        std::abort();
    return 0;
}
