#include "functions/argument_readers.h"

#include <cstring>

#include "escape/args.h"
#include "escape/chars.h"
#include "escape/expand.h"
#include "escape/numbers.h"

void UpperCaseAscii(Unit* text)
{
    for (; *text != 0; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = Unit(*text - 'a' + 'A');
}

int CompareUnits(const Unit* a, const Unit* b)
{
    size_t i = 0;
    while (a[i] != 0 && a[i] == b[i])
        ++i;
    if (a[i] == b[i])
        return 0;
    return unsigned(a[i]) < unsigned(b[i]) ? -1 : 1;
}

namespace {

// Copies argument k of `list` into `out` (MAX_ARG_LEN units). False, with
// `out` untouched, when the argument is missing.
bool CopyArgument(const ArgList& list, int k, Unit* out)
{
    const Unit* arg = list.args[k];
    if (arg == nullptr)
        return false;
    // An argument lies inside the list's buffer, so it fits in MAX_ARG_LEN.
    std::memcpy(out, arg, (size_t(list.lengths[k]) + 1) * sizeof(Unit));
    return true;
}

// Reads argument k as an unsigned number with nothing after it into *value.
// A missing argument leaves *value as it is; false for one that is no number.
bool ReadFlags(const ArgList& list, int k, uint32_t* value)
{
    const Unit* arg = list.args[k];
    return arg == nullptr || ParseNumber(arg, nullptr, value) == RESULT_OK;
}

// The first comma or semicolon of `text`, or null.
Unit* FindSeparator(Unit* text)
{
    for (; *text != 0; ++text)
        if (*text == ',' || *text == ';')
            return text;
    return nullptr;
}

// Copies argument k into `out` and expands it there. Missing arguments leave
// `out` as it is (the callers clear it) and count as expanded. Expansion never
// makes a text longer, so an argument, which fits its buffer, does not
// overflow it: the overflow statuses of the readers guard the documented
// messages against a change of the engine, and no input reaches them.
bool ExpandArgument(const ArgList& list, int k, Unit* out, int32_t* map = nullptr, int* result = nullptr)
{
    if (!CopyArgument(list, k, out))
        return true;
    int expanded = ExpandEscapes(out, map);
    if (result != nullptr)
        *result = expanded;
    // Without memory the argument stays as written, which still serves.
    return expanded != RESULT_OVERFLOW;
}

} // namespace

CompareStatus ReadCompareArguments(const ArgList& list, CompareArguments* args)
{
    args->first[0] = args->second[0] = 0;
    args->flags = 0;
    if (list.args[0] == nullptr)
        return COMPARE_MISSING_STRING1;
    if (!ExpandArgument(list, 0, args->first))
        return COMPARE_OVERFLOW_STRING1;
    if (list.args[1] == nullptr)
        return COMPARE_MISSING_STRING2;
    if (!ExpandArgument(list, 1, args->second))
        return COMPARE_OVERFLOW_STRING2;
    if (!ReadFlags(list, 2, &args->flags))
        return COMPARE_BAD_FLAGS;
    return COMPARE_OK;
}

ReplaceStatus ReadReplaceArguments(const ArgList& list, ReplaceArguments* args)
{
    args->from[0] = args->to[0] = args->text[0] = 0;
    args->flags = 0;
    if (list.args[0] == nullptr)
        return REPLACE_MISSING_FROM;
    if (!ExpandArgument(list, 0, args->from))
        return REPLACE_OVERFLOW_FROM;
    if (!ExpandArgument(list, 1, args->to))
        return REPLACE_OVERFLOW_TO;
    if (!ReadFlags(list, 2, &args->flags))
        return REPLACE_BAD_FLAGS;
    if (!ExpandArgument(list, 3, args->text))
        return REPLACE_OVERFLOW_MAIN;
    return REPLACE_OK;
}

FindStatus ReadFindArguments(const ArgList& list, FindArguments* args)
{
    args->text[0] = args->pattern[0] = 0;
    args->unexpanded = uint32_t(list.lengths[0]);
    args->n = 1;
    args->flags = 0;
    args->offset = list.args[4];
    int expanded = 0;
    if (!ExpandArgument(list, 0, args->text, args->map, &expanded))
        return FIND_OVERFLOW_STRING;
    // The positions rest on the map: never search without one.
    if (expanded == RESULT_NO_MEMORY)
        return FIND_NO_MAP;
    if (!ExpandArgument(list, 1, args->pattern))
        return FIND_OVERFLOW_SUBSTRING;
    if (list.args[2] != nullptr && ParseSignedNumber(list.args[2], &args->n) != RESULT_OK)
        return FIND_BAD_N;
    if (!ReadFlags(list, 3, &args->flags))
        return FIND_BAD_FLAGS;
    return FIND_OK;
}

WriteStatus ReadExpwriteArguments(Unit* buffer, WriteArguments* args)
{
    Unit* argument = buffer;
    while (IsSpace(*argument))
        ++argument;
    *args = WriteArguments{false, 0, argument, nullptr};
    if (*argument == 0)
        return WRITE_MISSING_HANDLE;

    const Unit* rest;
    if (argument[0] == '-' && (argument[1] == ',' || argument[1] == ';' || IsSpace(argument[1]))) {
        args->standardOutput = true;
        rest = argument + 1;
    } else {
        if (ParseHandle(argument, &rest, &args->handle) != RESULT_OK) {
            // The message shows the handle text only.
            if (Unit* separator = FindSeparator(argument))
                *separator = 0;
            return WRITE_BAD_HANDLE;
        }
        if (args->handle == 0)
            return WRITE_ZERO_HANDLE;
    }
    while (IsSpace(*rest))
        ++rest;
    if (*rest != ',' && *rest != ';')
        return WRITE_EXPECTED_COMMA;
    args->text = rest + 1;
    return WRITE_OK;
}

NameStatus ReadVariableName(Unit* buffer, Unit** name)
{
    TrimWhitespace(buffer);
    Unit* n = buffer;
    while (*n == '%')
        ++n;
    *name = n;
    if (*n == 0)
        return NAME_MISSING;
    if (!IsLetter(n[0]) && n[0] != '$' && n[0] != '_')
        return NAME_BAD;
    return NAME_OK;
}
