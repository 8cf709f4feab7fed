#include "functions/search.h"

#include <cstring>

void StartSearch(Search* search, size_t from)
{
    const Unit* p = search->pattern;
    int32_t* border = search->border;
    border[0] = 0;
    int32_t k = 0;
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
    constexpr size_t kMaxLength = MAX_ARG_LEN - 1;
    size_t length = 0;
    // Appends units, or fails once the result would outgrow its buffer.
    auto append = [&](const Unit* units, size_t n) {
        if (n > kMaxLength - length)
            return false;
        std::memcpy(out + length, units, n * sizeof(Unit));
        length += n;
        return true;
    };

    size_t copied = 0; // text before this index is already in out
    if (patternLength > 0 && patternLength <= textLength) {
        Search search;
        search.text = haystack;
        search.textLength = textLength;
        search.pattern = pattern;
        search.patternLength = patternLength;
        search.overlapping = false;
        StartSearch(&search, 0);
        for (size_t at; (at = NextOccurrence(&search)) != kNoOccurrence;) {
            if (!append(text + copied, at - copied) || !append(replacement, replacementLength))
                return RESULT_OVERFLOW;
            copied = at + patternLength;
            if (firstOnly)
                break;
        }
    }
    if (!append(text + copied, textLength - copied))
        return RESULT_OVERFLOW;
    out[length] = 0;
    return int(length);
}
