// Reading each function's arguments: the steps from the shell's text to
// expanded strings and numbers, with every fault the functions report. None
// of it needs Windows, so the same code builds into the core library with the
// escape engine and runs natively; it stands in functions/ beside the
// functions it serves. (Splitting the list is SplitArgs, escape/args.h.)
//
// The multi-argument readers take their arguments from the list of a split
// (SplitArgs); each check runs in the order of its status list, and the
// first fault ends the reading.
#pragma once

#include "escape/args.h"

// The letters a to z become A to Z; nothing else changes.
void UpperCaseAscii(Unit* text);

// -1, 0 or 1 as `a` sorts before, equal to or after `b`, unit by unit as
// unsigned numbers; the shorter string's NUL is the smallest unit.
int CompareUnits(const Unit* a, const Unit* b);

// @expcmp[string1,string2[,flags]]
enum CompareStatus {
    COMPARE_OK,
    COMPARE_MISSING_STRING1,
    COMPARE_OVERFLOW_STRING1,
    COMPARE_MISSING_STRING2,
    COMPARE_OVERFLOW_STRING2,
    COMPARE_BAD_FLAGS, // argument 2
};
struct CompareArguments {
    Unit first[MAX_ARG_LEN];
    Unit second[MAX_ARG_LEN];
    uint32_t flags;
};
CompareStatus ReadCompareArguments(const ArgList& list, CompareArguments* args);

// @expreplace[from,to,flags,string]; a missing to or string is empty.
enum ReplaceStatus {
    REPLACE_OK,
    REPLACE_MISSING_FROM,
    REPLACE_OVERFLOW_FROM,
    REPLACE_OVERFLOW_TO,
    REPLACE_BAD_FLAGS, // argument 2
    REPLACE_OVERFLOW_MAIN,
};
struct ReplaceArguments {
    Unit from[MAX_ARG_LEN];
    Unit to[MAX_ARG_LEN];
    Unit text[MAX_ARG_LEN];
    uint32_t flags;
};
ReplaceStatus ReadReplaceArguments(const ArgList& list, ReplaceArguments* args);

// @expfind[string,substring[,n[,flags[,offset]]]]. The string is expanded
// with its position map; the offset is left as written, for the shell to
// evaluate.
enum FindStatus {
    FIND_OK,
    FIND_OVERFLOW_STRING,
    FIND_NO_MAP, // no memory to expand the string with its map
    FIND_OVERFLOW_SUBSTRING,
    FIND_BAD_N,     // argument 2
    FIND_BAD_FLAGS, // argument 3
};
struct FindArguments {
    Unit text[MAX_ARG_LEN];
    int32_t map[MAX_ARG_LEN];
    Unit pattern[MAX_ARG_LEN];
    uint32_t unexpanded; // the string's length as written
    int32_t n;
    uint32_t flags;
    const Unit* offset; // the offset argument (inside the list), or null
};
FindStatus ReadFindArguments(const ArgList& list, FindArguments* args);

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
