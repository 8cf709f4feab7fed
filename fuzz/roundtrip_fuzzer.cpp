// The round trip: for a text without lone surrogates, expanding the
// escapified text gives the text back, whatever the flags and specials. The
// first byte picks the flags, the next 32 units are the special characters.
#include <cstdlib>
#include <string_view>

#include "escape/chars.h"
#include "escape/escapify.h"
#include "escape/expand.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint32_t flags = data[0];
    ++data;
    --size;

    std::vector<Unit> special(33, 0);
    size_t specialBytes = size < 64 ? size & ~size_t(1) : 64;
    for (size_t i = 0; i < specialBytes / 2; ++i)
        special[i] = Unit(data[2 * i] | (data[2 * i + 1] << 8));
    std::vector<Unit> text = UnitsFromBytes(data + specialBytes, size - specialBytes);

    // Lone surrogates are outside the promise: turn them into ordinary units.
    const size_t length = TextLength(text.data());
    for (size_t i = 0; i < length; ++i) {
        if (IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1]))
            ++i;
        else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]))
            text[i] = 'S';
    }

    const std::vector<Unit> original = text;
    int escapes = Escapify(text.data(), flags, special.data());
    if (escapes == RESULT_OVERFLOW) {
        if (text != original)
            std::abort();
        return 0;
    }
    // In-place expansion leaves what lay behind the new NUL: compare texts.
    if (escapes < 0 || ExpandEscapes(text.data(), nullptr) < 0 ||
        std::u16string_view(text.data()) != std::u16string_view(original.data()))
        std::abort();
    return 0;
}
