// The functions' own argument handling on any text that fits a shell buffer:
// SplitArgs, then what @expcmp, @expreplace, @expfind, @expwrite and @escenv
// do with the arguments before they reach Windows, and the portable work
// after it: @expreplace's own routine, ReplaceInText. Only the shell's
// evaluation of an offset and Windows' lower-casing are stood in for (by
// the offset as written, and ASCII).
#include <cstdlib>
#include <cstring>

#include "escape/args.h"
#include "escape/escapify.h"
#include "escape/expand.h"
#include "escape/numbers.h"
#include "functions/argument_readers.h"
#include "functions/search.h"
#include "fuzz_input.h"

void ReportSplitOverflow(int, int) { std::abort(); } // a fitting text never overflows

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void LowerAscii(Unit* text, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (text[i] >= 'A' && text[i] <= 'Z')
            text[i] = Unit(text[i] + 32);
}

ArgList g_list;

void Compare(const Unit* text)
{
    static CompareArguments args;
    Check(SplitArgs(text, &g_list) >= 0);
    if (ReadArguments(g_list, kCompareArguments, &args).fault != ArgumentFault::kNone)
        return;
    const int order = CompareUnits(args.first, args.second);
    Check(order >= -1 && order <= 1 && CompareUnits(args.second, args.first) == -order);
}

void Replace(const Unit* text)
{
    static ReplaceArguments args;
    static Unit before[MAX_ARG_LEN];
    Check(SplitArgs(text, &g_list) >= 0);
    if (ReadArguments(g_list, kReplaceArguments, &args).fault != ArgumentFault::kNone)
        return;
    std::memcpy(before, args.text, sizeof before);
    const int n = ReplaceInText(&args, LowerAscii);
    if (n == RESULT_OVERFLOW) {
        Check(std::memcmp(before, args.text, sizeof before) == 0);
        return;
    }
    Check(n >= 0 && n <= MAX_TEXT_LEN && TextLength(args.text) == size_t(n));
    if (!(args.flags & 4))
        Check(Escapify(args.text, 0, u"\"%&<>[]^`|") >= RESULT_OVERFLOW);
}

void Find(const Unit* text)
{
    static FindArguments args;
    Check(SplitArgs(text, &g_list) >= 0);
    if (ReadArguments(g_list, kFindArguments, &args).fault != ArgumentFault::kNone)
        return;
    uint32_t offset = 0;
    if (args.offset != nullptr && ParseNumber(args.offset, nullptr, &offset) != RESULT_OK)
        return;
    if (!(args.flags & 1)) {
        LowerAscii(args.text, TextLength(args.text));
        LowerAscii(args.pattern, TextLength(args.pattern));
    }
    FindOutcome outcome;
    Check(FindOccurrence(args.text, args.map, args.unexpanded, args.pattern, args.n, offset, &outcome) == 0);
    Check(outcome.count <= TextLength(args.text));
    if (outcome.found) {
        // The occurrence lies within the text as written and covers something.
        Check(args.n != 0 && outcome.start < args.unexpanded);
        Check(outcome.length > 0 && outcome.start + outcome.length <= args.unexpanded);
    }
}

void Write(const std::vector<Unit>& text)
{
    static std::vector<Unit> buffer(MAX_ARG_LEN);
    std::copy(text.begin(), text.end(), buffer.begin());
    WriteArguments args;
    if (ReadExpwriteArguments(buffer.data(), &args) != WRITE_OK)
        return;
    Check(args.text > buffer.data() && args.text <= buffer.data() + TextLength(buffer.data()));
    Check(args.standardOutput || args.handle != 0);
    static Unit line[MAX_ARG_LEN];
    std::memcpy(line, args.text, (TextLength(args.text) + 1) * sizeof(Unit));
    Check(ExpandEscapes(line, nullptr) >= 0);
}

void Environment(const std::vector<Unit>& text)
{
    static std::vector<Unit> buffer(MAX_ARG_LEN);
    std::copy(text.begin(), text.end(), buffer.begin());
    Unit* name = nullptr;
    NameStatus status = ReadVariableName(buffer.data(), &name);
    Check(name >= buffer.data() && name <= buffer.data() + TextLength(buffer.data()));
    Check((status == NAME_MISSING) == (*name == 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<Unit> text = UnitsFromBytes(data, size);
    Compare(text.data());
    Replace(text.data());
    Find(text.data());
    Write(text);
    Environment(text);
    return 0;
}
