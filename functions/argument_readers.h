// Reading each function's arguments: the steps from the shell's text to
// expanded strings and numbers, with every fault the functions report. None
// of it needs Windows, so the same code builds into the core library with the
// escape engine and runs natively; it stands in functions/ beside the
// functions it serves. (Splitting the list is SplitArgs, escape/args.h.)
//
#pragma once

#include <cstddef>
#include <type_traits>

#include "escape/args.h"

// The letters a to z become A to Z; nothing else changes.
void UpperCaseAscii(Unit* text);

// -1, 0 or 1 as `a` sorts before, equal to or after `b`, unit by unit as
// unsigned numbers; the shorter string's NUL is the smallest unit.
int CompareUnits(const Unit* a, const Unit* b);

// The arguments of a function that takes a list (SplitArgs) are read by one
// reader, ReadArguments, from a table of rows: one row for each argument, in
// the list's order, saying how it is read and where in the function's own
// struct of arguments its value goes. Every value is set first (a missing
// string empty, a missing number its fallback); then each argument is read
// in turn, and the first fault ends the reading. A new function needs its
// struct and its rows, not a reader.
enum class ArgumentKind : uint8_t {
    kString,       // expanded into a Unit[MAX_ARG_LEN]; missing: empty
    kMappedString, // the same, with its position map and its length as written
    kFlags,        // an unsigned number and nothing after it (uint32_t); missing: 0
    kNumber,       // a signed number (int32_t); missing: the row's fallback
    kAsWritten,    // the argument as written, inside the list (const Unit*); missing: null
};

struct ArgumentRow {
    const wchar_t* name; // as messages name it: "Missing string1", "Bad flags"
    ArgumentKind kind;
    bool required;       // a missing one is a fault
    size_t field;        // the value's offset in the function's struct
    size_t map;          // kMappedString: the offsets of its map (int32_t[MAX_ARG_LEN])
    size_t written;      //   and of its length as written (uint32_t)
    int32_t fallback;    // kNumber: the value of a missing argument
};

constexpr ArgumentRow StringArgument(const wchar_t* name, size_t field, bool required = false)
{
    return {name, ArgumentKind::kString, required, field, 0, 0, 0};
}
constexpr ArgumentRow MappedStringArgument(const wchar_t* name, size_t field, size_t map, size_t written)
{
    return {name, ArgumentKind::kMappedString, false, field, map, written, 0};
}
constexpr ArgumentRow FlagsArgument(size_t field) { return {L"flags", ArgumentKind::kFlags, false, field, 0, 0, 0}; }
constexpr ArgumentRow NumberArgument(const wchar_t* name, size_t field, int32_t fallback)
{
    return {name, ArgumentKind::kNumber, false, field, 0, 0, fallback};
}
constexpr ArgumentRow AsWrittenArgument(const wchar_t* name, size_t field)
{
    return {name, ArgumentKind::kAsWritten, false, field, 0, 0, 0};
}

// Whether every value of `rows` lies inside a struct of `size` bytes, each
// where its type may lie: the tables below are held to it at compile time.
template <size_t N>
constexpr bool RowsFit(const ArgumentRow (&rows)[N], size_t size)
{
    auto fits = [size](size_t at, size_t bytes, size_t align) { return at % align == 0 && at + bytes <= size; };
    for (const ArgumentRow& row : rows) {
        bool ok = false;
        switch (row.kind) {
        case ArgumentKind::kString: ok = fits(row.field, sizeof(Unit[MAX_ARG_LEN]), alignof(Unit)); break;
        case ArgumentKind::kMappedString:
            ok = fits(row.field, sizeof(Unit[MAX_ARG_LEN]), alignof(Unit)) &&
                 fits(row.map, sizeof(int32_t[MAX_ARG_LEN]), alignof(int32_t)) &&
                 fits(row.written, sizeof(uint32_t), alignof(uint32_t));
            break;
        case ArgumentKind::kFlags: ok = fits(row.field, sizeof(uint32_t), alignof(uint32_t)); break;
        case ArgumentKind::kNumber: ok = fits(row.field, sizeof(int32_t), alignof(int32_t)); break;
        case ArgumentKind::kAsWritten: ok = fits(row.field, sizeof(const Unit*), alignof(const Unit*)); break;
        }
        if (!ok)
            return false;
    }
    return N <= size_t(MAX_ARGS);
}

// What ended a reading: nothing, or a fault of argument `index`.
enum class ArgumentFault : uint8_t {
    kNone,
    kMissing,   // a required argument is missing
    kOverflow,  // its expansion overflowed
    kNoMap,     // no memory to expand it with its map
    kBadNumber, // a number argument is no number
};
struct ArgumentReading {
    ArgumentFault fault;
    int index;
};

ArgumentReading ReadArgumentRows(const ArgList& list, const ArgumentRow* rows, size_t count, void* args);

template <typename Args, size_t N>
ArgumentReading ReadArguments(const ArgList& list, const ArgumentRow (&rows)[N], Args* args)
{
    static_assert(std::is_standard_layout_v<Args>, "the rows find the values by their offsets");
    return ReadArgumentRows(list, rows, N, args);
}

// @expcmp[string1,string2[,flags]]
struct CompareArguments {
    Unit first[MAX_ARG_LEN];
    Unit second[MAX_ARG_LEN];
    uint32_t flags;
};
inline constexpr ArgumentRow kCompareArguments[] = {
    StringArgument(L"string1", offsetof(CompareArguments, first), true),
    StringArgument(L"string2", offsetof(CompareArguments, second), true),
    FlagsArgument(offsetof(CompareArguments, flags)),
};
static_assert(RowsFit(kCompareArguments, sizeof(CompareArguments)));

// @expreplace[from,to,flags,string]; a missing to or string is empty.
struct ReplaceArguments {
    Unit from[MAX_ARG_LEN];
    Unit to[MAX_ARG_LEN];
    Unit text[MAX_ARG_LEN];
    uint32_t flags;
};
inline constexpr ArgumentRow kReplaceArguments[] = {
    StringArgument(L"\x2018" L"from\x2019 string", offsetof(ReplaceArguments, from), true),
    StringArgument(L"\x2018to\x2019 string", offsetof(ReplaceArguments, to)),
    FlagsArgument(offsetof(ReplaceArguments, flags)),
    StringArgument(L"main string", offsetof(ReplaceArguments, text)),
};
static_assert(RowsFit(kReplaceArguments, sizeof(ReplaceArguments)));

// @expfind[string,substring[,n[,flags[,offset]]]]. The string is expanded
// with its position map; the offset is left as written, for the shell to
// evaluate.
struct FindArguments {
    Unit text[MAX_ARG_LEN];
    int32_t map[MAX_ARG_LEN];
    Unit pattern[MAX_ARG_LEN];
    uint32_t unexpanded; // the string's length as written
    int32_t n;
    uint32_t flags;
    const Unit* offset;
};
inline constexpr ArgumentRow kFindArguments[] = {
    MappedStringArgument(L"string", offsetof(FindArguments, text), offsetof(FindArguments, map),
                         offsetof(FindArguments, unexpanded)),
    StringArgument(L"substring", offsetof(FindArguments, pattern)),
    NumberArgument(L"n", offsetof(FindArguments, n), 1),
    FlagsArgument(offsetof(FindArguments, flags)),
    AsWrittenArgument(L"offset", offsetof(FindArguments, offset)),
};
static_assert(RowsFit(kFindArguments, sizeof(FindArguments)));

// @expwrite[handle,text]: read from the front of the text itself, no split.
enum WriteStatus {
    WRITE_OK,
    WRITE_MISSING_HANDLE,
    WRITE_BAD_HANDLE,  // not "-" and no number: `argument` runs to the first , or ;
    WRITE_ZERO_HANDLE,
    WRITE_EXPECTED_COMMA,
};
struct WriteArguments {
    bool standardOutput; // the handle was "-"
    uintptr_t handle;    // the number, otherwise (as wide as a pointer)
    Unit* argument;      // the argument after leading whitespace, for messages
    const Unit* text;    // everything after the separator
};
WriteStatus ReadExpwriteArguments(Unit* buffer, WriteArguments* args);

// @escenv[name]: trims `buffer` in place and skips leading percent signs.
enum NameStatus {
    NAME_OK,
    NAME_MISSING,
    NAME_BAD, // the first character is no letter, $ or _
};
NameStatus ReadVariableName(Unit* buffer, Unit** name);
