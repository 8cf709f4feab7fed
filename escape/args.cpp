#include "escape/args.h"

#include <cstring>

#include "escape/chars.h"

int SplitArgs(const Unit* text, ArgList* argList)
{
    if (text == nullptr || argList == nullptr)
        return RESULT_MISSING;

    ArgList& list = *argList;
    std::memset(list.args, 0, sizeof list.args);
    std::memset(list.lengths, 0, sizeof list.lengths);
    list.count = 0;
    list.buffer[0] = 0;

    // The last unit of the buffer is only ever a NUL: a stored unit needs its
    // own slot and one for the NUL behind it.
    constexpr int kLastSlot = MAX_ARG_LEN - 1;
    int position = 0; // where the next unit of the current argument goes
    int k = 0;        // the current argument
    int stored = 0;   // units stored for it so far
    bool quoted = false;

    for (const Unit* p = text;; ++p) {
        const Unit u = *p;
        if (u == '"') {
            quoted = !quoted;
        } else if (!quoted && stored == 0 && u != 0 && IsSpace(u)) {
            // leading whitespace
        } else if (u == ',' && !quoted) {
            // The next argument starts behind this one's NUL. Only a text
            // longer than any shell buffer can run out of room here.
            if (position >= kLastSlot) {
                ReportSplitOverflow(position, MAX_ARG_LEN);
                return RESULT_OVERFLOW;
            }
            ++k;
            list.buffer[++position] = 0;
            stored = 0;
        } else if (u == 0) {
            if (stored > 0)
                ++k;
            break;
        } else {
            if (position >= kLastSlot) {
                ReportSplitOverflow(position, MAX_ARG_LEN);
                return RESULT_OVERFLOW;
            }
            if (k >= MAX_ARGS)
                continue;
            if (stored == 0)
                list.args[k] = &list.buffer[position];
            list.buffer[position++] = u;
            list.buffer[position] = 0;
            list.lengths[k] = ++stored;
        }
    }

    const int kept = k < MAX_ARGS ? k : MAX_ARGS;
    for (int a = 0; a < kept; ++a) {
        Unit* arg = list.args[a];
        while (list.lengths[a] > 0 && IsSpace(arg[list.lengths[a] - 1]))
            arg[--list.lengths[a]] = 0;
    }
    list.count = k;
    return k;
}

int TrimWhitespace(Unit* text)
{
    if (text == nullptr)
        return RESULT_MISSING;
    size_t length = TextLength(text);
    size_t first = 0;
    while (first < length && IsSpace(text[first]))
        ++first;
    while (length > first && IsSpace(text[length - 1]))
        --length;
    if (first > 0)
        std::memmove(text, text + first, (length - first) * sizeof(Unit));
    text[length - first] = 0;
    return RESULT_OK;
}
