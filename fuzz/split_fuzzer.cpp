// SplitArgs on any text that fits a shell buffer: no crash, nothing read or
// written outside the tables, and tables that agree with themselves.
#include <cstdlib>

#include "escape/args.h"
#include "escape/chars.h"
#include "fuzz_input.h"

void ReportSplitOverflow(int, int) { std::abort(); } // a fitting text never overflows

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<Unit> text = UnitsFromBytes(data, size);
    const std::vector<Unit> before = text;
    static ArgList list;
    int count = SplitArgs(text.data(), &list);
    if (count < 0 || count != list.count || text != before)
        std::abort();

    const Unit* first = list.buffer;
    const Unit* last = list.buffer + MAX_ARG_LEN;
    for (int k = 0; k < MAX_ARGS; ++k) {
        const Unit* arg = list.args[k];
        if (arg == nullptr) {
            if (list.lengths[k] != 0)
                std::abort();
            continue;
        }
        if (k >= count || arg < first || arg + list.lengths[k] >= last)
            std::abort();
        if (TextLength(arg) != size_t(list.lengths[k]))
            std::abort();
        // Trimmed: no whitespace at the end, no double quote anywhere.
        if (list.lengths[k] > 0 && IsSpace(arg[list.lengths[k] - 1]))
            std::abort();
        for (int32_t i = 0; i < list.lengths[k]; ++i)
            if (arg[i] == '"')
                std::abort();
    }
    return 0;
}
