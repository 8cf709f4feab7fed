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
    int count = SplitArgs(text.data());
    if (count < 0 || count != g_argList.count || text != before)
        std::abort();

    const Unit* first = g_argList.buffer;
    const Unit* last = g_argList.buffer + MAX_ARG_LEN;
    for (int k = 0; k < MAX_ARGS; ++k) {
        const Unit* arg = g_argList.args[k];
        if (arg == nullptr) {
            if (g_argList.lengths[k] != 0)
                std::abort();
            continue;
        }
        if (k >= count || arg < first || arg + g_argList.lengths[k] >= last)
            std::abort();
        if (TextLength(arg) != size_t(g_argList.lengths[k]))
            std::abort();
        // Trimmed: no whitespace at the end, no double quote anywhere.
        if (g_argList.lengths[k] > 0 && IsSpace(arg[g_argList.lengths[k] - 1]))
            std::abort();
        for (int32_t i = 0; i < g_argList.lengths[k]; ++i)
            if (arg[i] == '"')
                std::abort();
    }
    return 0;
}
