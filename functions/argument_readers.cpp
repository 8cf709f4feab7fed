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

// The first comma or semicolon of `text`, or null.
Unit* FindSeparator(Unit* text)
{
    for (; *text != 0; ++text)
        if (*text == ',' || *text == ';')
            return text;
    return nullptr;
}

// Copies argument k, which is there, into `out` (MAX_ARG_LEN units) and
// expands it there, with `map`; returns what ExpandEscapes returned. An
// argument lies inside the list's buffer, so it fits, needs no scratch to
// expand, and does not overflow (expansion never makes a text longer): the
// rows' faults of an overflow and of no memory for the map guard the
// documented messages against a change of the engine, and no input reaches
// them. Without memory a string stays as written, which still serves.
int ExpandArgument(const ArgList& list, int k, Unit* out, int32_t* map = nullptr)
{
    std::memcpy(out, list.args[k], (size_t(list.lengths[k]) + 1) * sizeof(Unit));
    return ExpandEscapes(out, map);
}

} // namespace

ArgumentReading ReadArgumentRows(const ArgList& list, const ArgumentRow* rows, size_t count, void* args)
{
    char* const base = static_cast<char*>(args);
    auto at = [base](size_t offset) { return static_cast<void*>(base + offset); };
    for (size_t k = 0; k < count; ++k) {
        const ArgumentRow& row = rows[k];
        switch (row.kind) {
        case ArgumentKind::kMappedString:
            *static_cast<uint32_t*>(at(row.written)) = uint32_t(list.lengths[k]);
            [[fallthrough]];
        case ArgumentKind::kString: static_cast<Unit*>(at(row.field))[0] = 0; break;
        case ArgumentKind::kFlags: *static_cast<uint32_t*>(at(row.field)) = 0; break;
        case ArgumentKind::kNumber: *static_cast<int32_t*>(at(row.field)) = row.fallback; break;
        case ArgumentKind::kAsWritten: *static_cast<const Unit**>(at(row.field)) = list.args[k]; break;
        }
    }
    for (size_t k = 0; k < count; ++k) {
        const ArgumentRow& row = rows[k];
        const int index = int(k);
        const Unit* arg = list.args[k];
        if (arg == nullptr) {
            if (row.required)
                return {ArgumentFault::kMissing, index};
            continue;
        }
        switch (row.kind) {
        case ArgumentKind::kString:
            if (ExpandArgument(list, index, static_cast<Unit*>(at(row.field))) == RESULT_OVERFLOW)
                return {ArgumentFault::kOverflow, index};
            break;
        case ArgumentKind::kMappedString: {
            const int expanded =
                ExpandArgument(list, index, static_cast<Unit*>(at(row.field)), static_cast<int32_t*>(at(row.map)));
            if (expanded == RESULT_OVERFLOW)
                return {ArgumentFault::kOverflow, index};
            // The positions rest on the map: never search without one.
            if (expanded == RESULT_NO_MEMORY)
                return {ArgumentFault::kNoMap, index};
            break;
        }
        case ArgumentKind::kFlags: {
            uint32_t flags;
            if (ParseNumber(arg, nullptr, &flags) != RESULT_OK)
                return {ArgumentFault::kBadNumber, index};
            *static_cast<uint32_t*>(at(row.field)) = flags;
            break;
        }
        case ArgumentKind::kNumber: {
            int32_t number;
            if (ParseSignedNumber(arg, &number) != RESULT_OK)
                return {ArgumentFault::kBadNumber, index};
            *static_cast<int32_t*>(at(row.field)) = number;
            break;
        }
        case ArgumentKind::kAsWritten: break;
        }
    }
    return {ArgumentFault::kNone, -1};
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
