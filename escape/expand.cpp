#include "escape/expand.h"

#include <cstring>

#include "escape/chars.h"
#include "escape/scratch.h"
#include "escape/simd.h"


namespace {

#if IVRO_USE_SSE2
// Sixteen units as sixteen bytes. Packing with signed saturation keeps 0 and
// '\\' as they are and turns every other unit into another byte (0x80 to
// 0x7FFF become 0x7F, units from 0x8000 up bytes from 0x80 up), so a byte
// compare of the packed units is exact.
inline __m128i PackUnits(const Unit* at)
{
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8));
    return _mm_packs_epi16(low, high);
}

// One bit per unit of the sixteen packed units: set for a NUL, and with
// Backslash for a backslash too.
template <bool Backslash>
inline unsigned StopMask(__m128i packed)
{
    __m128i stop = _mm_cmpeq_epi8(packed, _mm_setzero_si128());
    if (Backslash)
        stop = _mm_or_si128(stop, _mm_cmpeq_epi8(packed, _mm_set1_epi8('\\')));
    return unsigned(_mm_movemask_epi8(stop));
}
#endif

// The index of the first backslash or NUL at or after `i` (without Backslash,
// of the NUL alone); with `blocks`, 32 units a step. Whole blocks are read
// only below MAX_ARG_LEN, where the buffer is known to exist (the caller's
// buffer holds MAX_ARG_LEN units, or the whole text and its NUL when longer).
template <bool Backslash = true>
inline size_t FindBackslashOrEnd(const Unit* in, size_t i, bool blocks)
{
#if IVRO_USE_SSE2
    // The runs between escapes are mostly short: sixteen units first
    // (accented Latin and mixed text took 6 to 8 % less).
    if (blocks && i + 16 <= size_t(MAX_ARG_LEN)) {
        const unsigned stops = StopMask<Backslash>(PackUnits(in + i));
        if (stops != 0)
            return i + size_t(__builtin_ctz(stops));
        i += 16;
    }
    // Then one test of the two halves' bits together.
    while (blocks && i + 32 <= size_t(MAX_ARG_LEN)) {
        const unsigned stops = StopMask<Backslash>(PackUnits(in + i)) |
                               StopMask<Backslash>(PackUnits(in + i + 16)) << 16;
        if (stops != 0)
            return i + size_t(__builtin_ctz(stops));
        i += 32;
    }
#else
    (void)blocks;
#endif
    while (in[i] != 0 && (!Backslash || in[i] != '\\'))
        ++i;
    return i;
}

#if IVRO_USE_AVX2
// The opening scan with AVX2: 128 units a step in eight 32-byte loads, up to
// the step that holds a stop, which the 32-unit steps then find; like the
// SSE2 scan's, every block read lies below MAX_ARG_LEN. Packed with
// signed saturation as PackUnits does (within each 128-bit half, an order
// that does not matter to whether a step holds a stop), a byte is a stop
// where the unsigned minimum of it and of it xor '\\' is 0.
template <bool Backslash>
IVRO_TARGET_AVX2 size_t FindFirstBackslashOrEndAvx2(const Unit* in, size_t i)
{
    const __m256i backslash = _mm256_set1_epi8(Backslash ? '\\' : 0);
    while (i + 128 <= size_t(MAX_ARG_LEN)) {
        __m256i least = _mm256_set1_epi8(-1);
        for (int k = 0; k < 4; ++k) {
            const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 32 * k));
            const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 32 * k + 16));
            const __m256i bytes = _mm256_packs_epi16(low, high);
            least = _mm256_min_epu8(least, Backslash ? _mm256_min_epu8(bytes, _mm256_xor_si256(bytes, backslash))
                                                     : bytes);
        }
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(least, _mm256_setzero_si256())) != 0)
            break;
        i += 128;
    }
    return FindBackslashOrEnd<Backslash>(in, i, true);
}
#endif

// The same for the opening scan, which most often runs over the whole text:
// 64 units a step, tested together, up to the step that holds a stop; the
// steps above find the stop in it. The runs between escapes are short, and
// there the 32-unit steps alone are faster (mixed text took 7 % longer).
template <bool Backslash = true>
inline size_t FindFirstBackslashOrEnd(const Unit* in, size_t i, ScanPath path)
{
#if IVRO_USE_AVX2
    if (path == ScanPath::kAvx2)
        return FindFirstBackslashOrEndAvx2<Backslash>(in, i);
#endif
#if IVRO_USE_SSE2
    // A NUL is the one unit that packs to 0, so a byte minimum of 0 finds it.
    while (path != ScanPath::kScalar && i + 64 <= size_t(MAX_ARG_LEN)) {
        const __m128i a = PackUnits(in + i), b = PackUnits(in + i + 16);
        const __m128i c = PackUnits(in + i + 32), d = PackUnits(in + i + 48);
        __m128i any = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(a, b), _mm_setzero_si128()),
                                   _mm_cmpeq_epi8(_mm_min_epu8(c, d), _mm_setzero_si128()));
        if (Backslash) {
            const __m128i bs = _mm_set1_epi8('\\');
            any = _mm_or_si128(any, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, bs), _mm_cmpeq_epi8(b, bs)),
                                                 _mm_or_si128(_mm_cmpeq_epi8(c, bs), _mm_cmpeq_epi8(d, bs))));
        }
        if (_mm_movemask_epi8(any) != 0)
            break;
        i += 64;
    }
#endif
    return FindBackslashOrEnd<Backslash>(in, i, path != ScanPath::kScalar);
}

// What the unit after a backslash begins, for the ASCII units; every other
// unit stands for itself. The numeric kinds come last, in one block: the
// loop below tells them from the others with one comparison.
enum EscapeKind : uint8_t { kItself, kNamed, kOctal, kDecimal, kHex, kCode4, kCode8 };
static_assert(kItself < kOctal && kNamed < kOctal && kOctal < kDecimal && kDecimal < kHex && kHex < kCode4 &&
                  kCode4 < kCode8,
              "the numeric kinds are the ones from kOctal on, those read after a letter from kDecimal on");

struct EscapeKinds {
    uint8_t kind[128];
    Unit named[128]; // the character of a named escape
    constexpr EscapeKinds() : kind(), named()
    {
        const char letters[] = "abcefknqrstv";
        const Unit characters[] = {0x07, 0x08, ',', 0x1B, 0x0C, '`', 0x0A, '"', 0x0D, ' ', 0x09, 0x0B};
        for (int k = 0; letters[k] != 0; ++k) {
            kind[int(letters[k])] = kNamed;
            named[int(letters[k])] = characters[k];
        }
        for (int d = '0'; d <= '7'; ++d)
            kind[d] = kOctal;
        kind[int('#')] = kDecimal;
        kind[int('x')] = kHex;
        kind[int('u')] = kCode4;
        kind[int('U')] = kCode8;
    }
};
constexpr EscapeKinds kEscapeKinds;

// The one digit reader behind the four named ones, made for each rule.
// Without Checked the caller knows that the units fit (see ExpandInto).
template <unsigned Base, int MaxDigits, uint32_t MaxValue, bool RejectSurrogates, bool Checked = true>
inline int ReadNumber(const Unit* digits, Unit* units, int& length)
{
    // A first unit that is no digit of the set reads no digit and comes out
    // as value 0, invalid; so does the 8 or 9 of an octal escape.
    // At most 8 hexadecimal or 5 decimal digits: the value stays below 2^32.
    static_assert(Base <= kNoDigit && (Base == 16 ? MaxDigits <= 8 : MaxDigits <= 5), "no overflow of value");
    uint32_t value = 0;
    int n = 0;
    for (unsigned d; n < MaxDigits && (d = DigitValue(digits[n])) < Base; ++n)
        value = value * Base + d;
    // A value above the maximum is invalid even where a shorter run of the
    // same digits would not be (U10FFFF0 is no U10FFFF followed by 0).
    if (value == 0 || value > MaxValue)
        return 0;
    if (RejectSurrogates && value >= 0xD800 && value <= 0xDFFF)
        return 0;
    if (value <= 0xFFFF) {
        if (Checked && length > MAX_TEXT_LEN - 1)
            return RESULT_OVERFLOW;
        units[length++] = Unit(value);
    } else {
        if (Checked && length > MAX_TEXT_LEN - 2)
            return RESULT_OVERFLOW;
        uint32_t v = value - 0x10000;
        units[length++] = Unit(0xD800 | (v >> 10));
        units[length++] = Unit(0xDC00 | (v & 0x3FF));
    }
    return n;
}

template <bool Checked = true>
inline int ReadOctal(const Unit* d, Unit* u, int& n) { return ReadNumber<8, 3, 0777, false, Checked>(d, u, n); }
template <bool Checked = true>
inline int ReadDecimal(const Unit* d, Unit* u, int& n) { return ReadNumber<10, 5, 0xFFFF, false, Checked>(d, u, n); }
template <bool Checked = true>
inline int ReadHex(const Unit* d, Unit* u, int& n) { return ReadNumber<16, 4, 0xFFFF, false, Checked>(d, u, n); }
template <bool Checked = true>
inline int ReadCode4(const Unit* d, Unit* u, int& n) { return ReadNumber<16, 4, 0xFFFF, true, Checked>(d, u, n); }
template <bool Checked = true>
inline int ReadCode8(const Unit* d, Unit* u, int& n) { return ReadNumber<16, 8, 0x10FFFF, true, Checked>(d, u, n); }

// Calls a reader on an ExpandOutput, for the public readers.
int OnOutput(int (*read)(const Unit*, Unit*, int&), const Unit* digits, ExpandOutput* out)
{
    if (digits == nullptr || out == nullptr || out->units == nullptr)
        return 0;
    return read(digits, out->units, out->length);
}

// Reads the digits of the numeric escape whose letter is at `letter` (the
// digits follow it) with the reader of `kind`, from kDecimal on.
template <bool Checked>
inline int ReadAfterLetter(uint8_t kind, const Unit* letter, Unit* units, int& length)
{
    if (kind == kHex)
        return ReadHex<Checked>(letter + 1, units, length);
    if (kind == kCode4)
        return ReadCode4<Checked>(letter + 1, units, length);
    if (kind == kCode8)
        return ReadCode8<Checked>(letter + 1, units, length);
    return ReadDecimal<Checked>(letter + 1, units, length);
}

// Reads the escapes of `letter` (x, u or U) from the backslash at in[i] on
// while each has two hexadecimal digits and the next backslash right after
// them; returns how many, with i and length moved past them (i then at the
// backslash of the escape that ended the run, which is read as any other).
//
// This is the hot loop of hex-encoded text, \xHH after \xHH, and it is
// shaped for that. The backslash after the two digits alone shows that they
// are two (it is no digit), so no third unit is looked up as a digit, and it
// is also the one test of where the next escape starts. Two digits make a
// value below 0x100, so no limit or surrogate test is needed: one unit, and
// invalid only when 0. The loop walks pointers, not indexes, and holds five
// values (the two pointers, the letter, the two digits): the 32-bit build,
// which keeps the index, length and count of ExpandInto on the stack, has
// seven registers and keeps all of them in registers here. Only for
// a text that fits its buffer, where an escape cannot overflow the output
// (see ExpandInto); the units are written behind the ones read, as there.
template <bool WithMap>
inline int ReadTwoDigitRun(const Unit* in, size_t& i, Unit letter, Unit* units, int& length, int32_t* map)
{
    const Unit* p = in + i;
    Unit* o = units + length;
    int32_t* m = WithMap ? map + length : nullptr;
    // p[0] is a backslash on every round; p[2], p[3] and p[4] are each read
    // only after the unit before is known to be no NUL.
    while (p[1] == letter) {
        const unsigned high = DigitValue(p[2]);
        if (high >= 16)
            break;
        const unsigned low = DigitValue(p[3]);
        if (low >= 16 || p[4] != '\\')
            break;
        const unsigned value = high << 4 | low;
        if (value == 0)
            break;
        if (WithMap)
            *m++ = int32_t(p - in);
        *o++ = Unit(value);
        p += 4;
    }
    const int read = int(o - units) - length; // one unit an escape
    length += read;
    i = size_t(p - in);
    return read;
}

#if IVRO_USE_SSE2
// Whether the eight units from `digits` on (which must lie in the buffer)
// are all hexadecimal digits, and their value. The digits are told and
// valued in one vector: a digit's low four bits, 9 more for a letter ('a'
// and 'A' end in 1); then pairs of digits as bytes, and pairs of bytes as 16
// bits. (Four digits, of a \u escape, are read faster one by one.)
inline bool EightDigits(const Unit* digits, uint32_t* value)
{
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(digits));
    // Compared as signed: units from 0x8000 on are below every digit.
    const __m128i decimal = _mm_and_si128(_mm_cmpgt_epi16(u, _mm_set1_epi16('0' - 1)),
                                          _mm_cmplt_epi16(u, _mm_set1_epi16('9' + 1)));
    const __m128i lower = _mm_or_si128(u, _mm_set1_epi16(0x20));
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi16(lower, _mm_set1_epi16('a' - 1)),
                                         _mm_cmplt_epi16(lower, _mm_set1_epi16('f' + 1)));
    if (_mm_movemask_epi8(_mm_or_si128(decimal, letter)) != 0xFFFF)
        return false;
    const __m128i nibbles = _mm_add_epi16(_mm_and_si128(u, _mm_set1_epi16(0xF)),
                                          _mm_and_si128(letter, _mm_set1_epi16(9)));
    // The first of each pair of digits times 16 plus the second; then the
    // first of each pair of bytes times 256 plus the second.
    const __m128i bytes = _mm_madd_epi16(nibbles, _mm_set1_epi32(0x00010010));
    const __m128i halves = _mm_madd_epi16(_mm_packs_epi32(bytes, bytes), _mm_set1_epi32(0x00010100));
    *value = uint32_t(_mm_cvtsi128_si32(halves)) << 16 | uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(halves, 4)));
    return true;
}
#endif

// The same for \u escapes of four digits and \U escapes of eight, the
// escapes of text in other scripts as Python writes them: reads them from
// the backslash at in[i] on while each has all its digits, stands for a
// character (not 0, no surrogate, at most U+10FFFF) and the next backslash
// follows right after them (the digits are all such an escape reads, so
// nothing after them is looked at as a digit). Returns how many, with i and
// length moved past them (i then at the unit after the last, a backslash
// when an escape ended the run).
template <bool WithMap, int Digits>
inline int ReadFullDigitRun(const Unit* in, size_t& i, Unit letter, Unit* units, int& length, int32_t* map)
{
    const Unit* p = in + i;
    Unit* o = units + length;
    int32_t* m = WithMap ? map + length : nullptr;
    int read = 0;
    // Each digit is read only after the unit before it is known to be no
    // NUL; the backslash of the next round after the last digit.
    while (p[0] == '\\' && p[1] == letter) {
        uint32_t value = 0;
#if IVRO_USE_SSE2
        if (Digits == 8 && p + 2 + 8 <= in + MAX_ARG_LEN) {
            if (!EightDigits(p + 2, &value))
                break;
        } else
#endif
        {
            int k = 2;
            for (unsigned d; k < 2 + Digits && (d = DigitValue(p[k])) < 16; ++k)
                value = value << 4 | d;
            if (k < 2 + Digits)
                break;
        }
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            break;
        if (value <= 0xFFFF) {
            if (WithMap)
                *m++ = int32_t(p - in);
            *o++ = Unit(value);
        } else {
            if (WithMap) {
                *m++ = int32_t(p - in);
                *m++ = int32_t(p - in);
            }
            *o++ = Unit(0xD800 | ((value - 0x10000) >> 10));
            *o++ = Unit(0xDC00 | ((value - 0x10000) & 0x3FF));
        }
        p += 2 + Digits;
        ++read;
    }
    length = int(o - units);
    i = size_t(p - in);
    return read;
}

// Moves n units (at least one) from `from` down to `to`, as memmove does;
// a run of at most 16, as between escapes, without the call: the units
// are all read before any is written, so the two may overlap.
inline void MoveDown(Unit* to, const Unit* from, size_t n)
{
    if (n > 16) {
        std::memmove(to, from, n * sizeof(Unit));
    } else if (n >= 8) {
        uint64_t head[2], tail[2];
        std::memcpy(head, from, sizeof head);
        std::memcpy(tail, from + n - 8, sizeof tail);
        std::memcpy(to, head, sizeof head);
        std::memcpy(to + n - 8, tail, sizeof tail);
    } else if (n >= 4) {
        uint64_t head, tail;
        std::memcpy(&head, from, sizeof head);
        std::memcpy(&tail, from + n - 4, sizeof tail);
        std::memcpy(to, &head, sizeof head);
        std::memcpy(to + n - 4, &tail, sizeof tail);
    } else {
        const Unit first = from[0], middle = from[n / 2], last = from[n - 1];
        to[0] = first;
        to[n / 2] = middle;
        to[n - 1] = last;
    }
}

// Walks `in` from index `from` to its NUL, appending the expansion to `out`
// and, when `map` is given, each produced unit's source offset at the same
// index.
//
// `out->units` may be `in` itself: every item consumes at least as many units
// as it produces, so a unit is only ever written at an index the walk has
// already read, and a digit reader has read all its digits before it appends.
// Returns the count of escapes, or RESULT_OVERFLOW (out and map then hold
// partial results, which the caller must not publish).
//
// Without Checked the text, NUL included, must fit MAX_ARG_LEN units and the
// output start no further than the input (as when expanding in place). Then
// nothing can overflow: an escape of k units yields at most k - 1, so after
// one that ends at index e the output holds at most e - 1 <= 8190 units; and
// the limits tested below are left out.
//
// Each round of the loop reads a run of ordinary units, or an escape and,
// after a numeric one, each that follows it directly with the same letter
// (hex-encoded text is long runs of them, read without going back to the
// dispatch on the letter, and those of two digits by ReadTwoDigitRun where
// the text fits; where it fits, a run of full \u or \U escapes is read by
// ReadFullDigitRun from its first). Every item appends its units and marks their
// source in the map before i moves past it.
template <bool WithMap, bool Checked>
int ExpandInto(const Unit* in, size_t from, ExpandOutput* out, int32_t* map, bool blocks)
{
    Unit* const units = out->units;
    int length = out->length;
    int count = 0;
    for (size_t i = from; in[i] != 0;) {
        if (in[i] != '\\') {
            // A run of ordinary units: moved down as a whole (or left where
            // it is while nothing has been taken out yet), each unit its own
            // source.
            // (A run of one, as the space between two words of escapes,
            // needs no scan.)
            const size_t stop = in[i + 1] == '\\' ? i + 1 : FindBackslashOrEnd(in, i + 1, blocks);
            const size_t run = stop - i;
            if (Checked && run > size_t(MAX_TEXT_LEN - length))
                return RESULT_OVERFLOW;
            if (units + length != in + i)
                MoveDown(units + length, in + i, run);
            if (WithMap)
                for (size_t k = 0; k < run; ++k)
                    map[size_t(length) + k] = int32_t(i + k);
            length += int(run);
            i += run;
            continue;
        }

        // An escape. A named or literal unit may take the last place of
        // MAX_TEXT_LEN, a number's units may not; and after 8191 units even
        // an escape that yields nothing overflows. Its units have its
        // backslash as their source.
        const Unit letter = in[i + 1];
        const uint8_t kind = letter < 128 ? kEscapeKinds.kind[letter] : uint8_t(kItself);
        if (!Checked && kind >= kCode4) {
            // Text in another script: a run of full escapes from the first.
            const int run = kind == kCode4 ? ReadFullDigitRun<WithMap, 4>(in, i, letter, units, length, map)
                                           : ReadFullDigitRun<WithMap, 8>(in, i, letter, units, length, map);
            count += run;
            if (run > 0)
                continue;
        }
        bool again;
        do {
            const int before = length;
            size_t taken; // units of the escape
            int n = 0;    // digits read; 0 for none, or an invalid number
            switch (kind) {
            case kNamed:
            case kItself:
                // \\, \z, \8 ... stand for the character itself; a trailing
                // backslash is dropped.
                if (Checked && length >= MAX_TEXT_LEN)
                    return RESULT_OVERFLOW;
                if (letter != 0)
                    units[length++] = kind == kNamed ? kEscapeKinds.named[letter] : letter;
                count += kind == kNamed;
                taken = letter == 0 ? 1 : 2;
                break;
            case kOctal:
                // The digits all 0: the backslash and the first 0 go, and
                // further digits are read again as text.
                n = ReadOctal<Checked>(&in[i + 1], units, length);
                taken = n > 0 ? 1 + size_t(n) : 2;
                break;
            default:
                // Invalid, it gives up only its backslash, and its letter is
                // read again as text.
                n = ReadAfterLetter<Checked>(kind, &in[i + 1], units, length);
                taken = n > 0 ? 2 + size_t(n) : 1;
            }
            if (Checked && kind >= kOctal && (n < 0 || length >= MAX_TEXT_LEN))
                return n < 0 ? n : RESULT_OVERFLOW;
            if (kind >= kOctal && n > 0)
                ++count;
            if (WithMap)
                for (int k = before; k < length; ++k)
                    map[k] = int32_t(i);
            i += taken;
            again = kind >= kDecimal && n > 0 && in[i] == '\\' && in[i + 1] == letter;
            if (!Checked && again && kind >= kCode4) {
                count += kind == kCode4 ? ReadFullDigitRun<WithMap, 4>(in, i, letter, units, length, map)
                                        : ReadFullDigitRun<WithMap, 8>(in, i, letter, units, length, map);
                again = in[i] == '\\' && in[i + 1] == letter;
            }
            if (!Checked && again && kind >= kHex) {
                count += ReadTwoDigitRun<WithMap>(in, i, letter, units, length, map);
                again = in[i + 1] == letter; // in[i] is a backslash
            }
        } while (again);
    }
    out->length = length;
    return count;
}

// Expands with or without a map, each without a test for it per unit, and
// without the limit tests where the text fits.
int ExpandInto(const Unit* in, size_t from, ExpandOutput* out, int32_t* map, bool fits, bool blocks)
{
    if (fits)
        return map != nullptr ? ExpandInto<true, false>(in, from, out, map, blocks)
                              : ExpandInto<false, false>(in, from, out, nullptr, blocks);
    return map != nullptr ? ExpandInto<true, true>(in, from, out, map, blocks)
                          : ExpandInto<false, true>(in, from, out, nullptr, blocks);
}

} // namespace

int ReadOctalEscape(const Unit* digits, ExpandOutput* out) { return OnOutput(ReadOctal<>, digits, out); }

int ReadDecimalEscape(const Unit* digits, ExpandOutput* out) { return OnOutput(ReadDecimal<>, digits, out); }

int ReadHexEscape(const Unit* digits, ExpandOutput* out) { return OnOutput(ReadHex<>, digits, out); }

int ReadCodePointEscape(const Unit* digits, ExpandOutput* out, int maxDigits)
{
    return OnOutput(maxDigits > 4 ? ReadCode8<> : ReadCode4<>, digits, out);
}

int ExpandEscapes(Unit* text, int32_t* map)
{
    if (text == nullptr)
        return RESULT_MISSING;
    if (text[0] == 0)
        return 0;

    // The run before the first backslash expands to itself.
    const ScanPath path = ActiveScanPath();
    const bool blocks = path != ScanPath::kScalar;
    const size_t first = FindFirstBackslashOrEnd(text, 0, path);
    const size_t length = text[first] == 0 ? first : FindFirstBackslashOrEnd<false>(text, first, path);

    if (length <= size_t(MAX_TEXT_LEN)) {
        // Expansion never lengthens a text, so a text that fits cannot
        // overflow: expand it where it lies, without scratch.
        if (map)
            for (size_t k = 0; k < first; ++k)
                map[k] = int32_t(k);
        ExpandOutput out{text, int(first)};
        int count = first == length ? 0 : ExpandInto(text, first, &out, map, true, blocks);
        text[out.length] = 0;
        if (map)
            map[out.length] = 0;
        return count;
    }

    // Longer than any shell buffer: expand into scratch, so that an overflow
    // leaves text and map as they were.
    Unit* units = static_cast<Unit*>(ScratchAlloc(MAX_ARG_LEN * sizeof(Unit)));
    if (units == nullptr)
        return RESULT_NO_MEMORY;
    int32_t* scratchMap = nullptr;
    if (map) {
        scratchMap = static_cast<int32_t*>(ScratchAlloc(MAX_ARG_LEN * sizeof(int32_t)));
        if (scratchMap == nullptr) {
            ScratchFree(units);
            return RESULT_NO_MEMORY;
        }
    }
    ExpandOutput out{units, 0};
    int count = ExpandInto(text, 0, &out, scratchMap, false, blocks);
    if (count >= 0) {
        units[out.length] = 0;
        std::memcpy(text, units, (size_t(out.length) + 1) * sizeof(Unit));
        if (map) {
            std::memcpy(map, scratchMap, size_t(out.length) * sizeof(int32_t));
            map[out.length] = 0;
        }
    }
    ScratchFree(scratchMap);
    ScratchFree(units);
    return count;
}
