#include "functions/search.h"

#include <cstring>

#include "escape/cursor.h"
#include "escape/scratch.h"

void StartSearch(Search* search, size_t from)
{
    const Unit* p = search->pattern;
    int16_t* border = search->border;
    border[0] = 0;
    int16_t k = 0;
    for (size_t i = 1; i < search->patternLength; ++i) {
        while (k > 0 && p[i] != p[k])
            k = border[k - 1];
        if (p[i] == p[k])
            ++k;
        border[i] = k;
    }
    search->position = from;
    search->matched = 0;
}

size_t NextOccurrence(Search* search)
{
    const Unit* p = search->pattern;
    const size_t m = search->patternLength;
    size_t k = search->matched;
    for (size_t i = search->position; i < search->textLength; ++i) {
        const Unit u = search->text[i];
        while (k > 0 && u != p[k])
            k = size_t(search->border[k - 1]);
        if (u == p[k])
            ++k;
        if (k == m) {
            search->position = i + 1;
            // Without overlap the next occurrence starts behind this one.
            search->matched = search->overlapping ? size_t(search->border[m - 1]) : 0;
            return i + 1 - m;
        }
    }
    search->position = search->textLength;
    search->matched = k;
    return kNoOccurrence;
}

int ReplaceOccurrences(const Unit* text, size_t textLength, const Unit* haystack, const Unit* pattern,
                       size_t patternLength, const Unit* replacement, size_t replacementLength, bool firstOnly,
                       Unit* out)
{
    TextCursor result(out, MAX_ARG_LEN);
    size_t copied = 0; // text before this index is already in out
    if (patternLength > 0 && patternLength <= textLength) {
        Search search;
        search.text = haystack;
        search.textLength = textLength;
        search.pattern = pattern;
        search.patternLength = patternLength;
        search.overlapping = false;
        StartSearch(&search, 0);
        for (size_t at; (at = NextOccurrence(&search)) != kNoOccurrence && !result.Overflowed();) {
            result.Append(text + copied, at - copied);
            result.Append(replacement, replacementLength);
            copied = at + patternLength;
            if (firstOnly)
                break;
        }
    }
    result.Append(text + copied, textLength - copied);
    return result.Overflowed() ? RESULT_OVERFLOW : int(result.Length());
}

namespace {

// A heap copy of `text` (`length` units and a NUL) lowered by `lower`, or
// null when the heap refuses.
Unit* LoweredCopy(const Unit* text, size_t length, void (*lower)(Unit*, size_t))
{
    Unit* copy = static_cast<Unit*>(ScratchAlloc((length + 1) * sizeof(Unit)));
    if (copy != nullptr) {
        std::memcpy(copy, text, (length + 1) * sizeof(Unit));
        lower(copy, length);
    }
    return copy;
}

} // namespace

int ReplaceInText(ReplaceArguments* args, void (*lower)(Unit* text, size_t length))
{
    Unit* text = args->text;
    const size_t textLength = TextLength(text);
    const size_t fromLength = TextLength(args->from);
    bool search = fromLength > 0 && fromLength <= textLength;
    if (!search)
        return int(textLength);

    // Ignoring case, the search runs over lower-cased copies made once.
    const Unit* haystack = text;
    const Unit* pattern = args->from;
    Unit* loweredText = nullptr;
    Unit* loweredFrom = nullptr;
    if (args->flags & 1) {
        loweredText = LoweredCopy(text, textLength, lower);
        loweredFrom = loweredText ? LoweredCopy(args->from, fromLength, lower) : nullptr;
        haystack = loweredText;
        pattern = loweredFrom;
        search = loweredFrom != nullptr;
    }
    Unit result[MAX_ARG_LEN];
    int length = int(textLength);
    if (search)
        length = ReplaceOccurrences(text, textLength, haystack, pattern, fromLength, args->to, TextLength(args->to),
                                    (args->flags & 2) != 0, result);
    ScratchFree(loweredFrom);
    ScratchFree(loweredText);
    if (search && length >= 0)
        std::memcpy(text, result, (size_t(length) + 1) * sizeof(Unit));
    return length;
}

namespace {

void StartScan(Search* search, const Unit* text, size_t textLength, const Unit* pattern, size_t patternLength,
               size_t from)
{
    search->text = text;
    search->textLength = textLength;
    search->pattern = pattern;
    search->patternLength = patternLength;
    search->overlapping = true;
    StartSearch(search, from);
}

} // namespace

int FindOccurrence(const Unit* text, const int32_t* map, uint32_t unexpanded, const Unit* pattern, int32_t n,
                   uint32_t offset, FindOutcome* outcome)
{
    *outcome = FindOutcome{0, false, 0, 0};
    const size_t lenS = TextLength(text);
    const size_t lenT = TextLength(pattern);

    // The first unit whose source lies at or after the offset; an escape that
    // starts before the offset is skipped even where it ends after it.
    size_t start = 0;
    if (offset != 0 && unexpanded != 0 && lenS != 0) {
        start = lenS;
        if (offset < unexpanded)
            for (size_t i = 0; i < lenS; ++i)
                if (uint32_t(map[i]) >= offset) {
                    start = i;
                    break;
                }
    }

    Search search;
    if (start < lenS && lenT > 0) {
        StartScan(&search, text, lenS, pattern, lenT, start);
        while (NextOccurrence(&search) != kNoOccurrence)
            ++outcome->count;
    }
    const uint32_t count = outcome->count;
    if (n == 0)
        return 0;

    // One list, of exactly as many entries as there are occurrences.
    uint32_t* matches = nullptr;
    if (count > 0) {
        matches = static_cast<uint32_t*>(ScratchAlloc(count * sizeof(uint32_t)));
        if (matches == nullptr)
            return RESULT_NO_MEMORY;
        StartScan(&search, text, lenS, pattern, lenT, start);
        for (uint32_t stored = 0; stored < count; ++stored) {
            size_t at = NextOccurrence(&search);
            if (at == kNoOccurrence) {
                ScratchFree(matches);
                return RESULT_INTERNAL;
            }
            matches[stored] = uint32_t(at);
        }
    }

    // The n-th occurrence from the front, or the -n-th from the back; -2^31
    // asks for 2^31 from the back, more than there can be.
    const uint32_t wanted = n > 0 ? uint32_t(n) : 0u - uint32_t(n);
    if (wanted <= count) {
        const size_t i = matches[n > 0 ? wanted - 1 : count - wanted];
        const size_t after = i + lenT;
        outcome->found = true;
        outcome->start = uint32_t(map[i]);
        outcome->length = (after < lenS ? uint32_t(map[after]) : unexpanded) - outcome->start;
    }
    ScratchFree(matches);
    return 0;
}
