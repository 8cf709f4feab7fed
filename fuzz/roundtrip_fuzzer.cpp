// The round trip: for a text without lone surrogates, expanding the
// escapified text gives the text back, whatever the flags and specials; and
// Escapify writes what WriteEscape gives for each character in turn. The
// first byte picks the flags, the next 32 units are the special characters.
#include <cstdlib>
#include <string>
#include <string_view>

#include "escape/chars.h"
#include "escape/escapify.h"
#include "escape/expand.h"
#include "fuzz_input.h"

namespace {

// Escapify's result taken character by character from WriteEscape, or an
// empty text when it would not fit.
std::u16string EscapedOneByOne(const Unit* text, uint32_t flags, const Unit* special, int* count)
{
    const EscapeOptions options = ReadEscapeFlags(flags);
    std::u16string out;
    *count = 0;
    for (size_t i = 0; text[i] != 0;) {
        const bool pair = IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1]);
        const size_t n = pair ? 2 : 1;
        const uint32_t c = pair ? 0x10000 + ((uint32_t(text[i] & 0x3FF) << 10) | (text[i + 1] & 0x3FFu)) : text[i];
        const bool isSpecial = !pair && std::u16string_view(special).find(text[i]) != std::u16string_view::npos;
        const Unit after = text[i + n];
        const bool longForm = IsHexDigit(after) || (after == 0 && !options.shortAtEnd);
        Unit escape[10];
        const int k = WriteEscape(escape, c, options, isSpecial, longForm);
        out.append(k > 0 ? escape : text + i, k > 0 ? size_t(k) : n);
        *count += k > 0;
        i += n;
    }
    return out.size() > size_t(MAX_TEXT_LEN) ? std::u16string() : out;
}

} // namespace

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
    int expectedCount;
    const std::u16string expected = EscapedOneByOne(text.data(), flags, special.data(), &expectedCount);
    int escapes = Escapify(text.data(), flags, special.data());
    if (escapes == RESULT_OVERFLOW) {
        if (text != original || !expected.empty())
            std::abort();
        return 0;
    }
    if (escapes != expectedCount || std::u16string_view(text.data()) != expected)
        std::abort();
    // In-place expansion leaves what lay behind the new NUL: compare texts.
    if (escapes < 0 || ExpandEscapes(text.data(), nullptr) < 0 ||
        std::u16string_view(text.data()) != std::u16string_view(original.data()))
        std::abort();
    return 0;
}
