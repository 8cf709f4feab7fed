// Argument splitting and number parsing for the functions that take several
// arguments.
#pragma once

#include "escape/text.h"

constexpr int MAX_ARGS = 1024;

// The arguments of one split. Each call that splits has a list of its own, on
// its stack, so that a call the shell's expansion starts in the middle of
// another finds nothing of the other's in it.
struct ArgList {
    Unit* args[MAX_ARGS];     // argument k inside buffer, null when missing
    int32_t lengths[MAX_ARGS]; // its length after quote removal and trimming
    int32_t count;            // arguments found; may exceed MAX_ARGS
    Unit buffer[MAX_ARG_LEN]; // every stored argument, each followed by a NUL
};

// Splits `text` at commas outside double quotes into `list`. Double quotes
// switch quoting and are dropped; leading whitespace outside quotes is
// skipped and trailing whitespace trimmed (quoted whitespace too). An argument
// of which nothing was stored is missing; one of only quoted whitespace is
// present and empty. A comma at the very end adds no argument. Units of
// arguments beyond the first MAX_ARGS are dropped.
//
// Returns the number of arguments; RESULT_MISSING for a null text or list
// (the list keeps its old content); RESULT_OVERFLOW after reporting an
// overflow of the list's buffer, which only a text longer than MAX_TEXT_LEN
// units can cause.
int SplitArgs(const Unit* text, ArgList* list);

// Reports an overflow of an ArgList's buffer: `used` units placed so far, of a
// buffer of `capacity`. Supplied by whoever links the engine (the module
// writes the shell's error message).
void ReportSplitOverflow(int used, int capacity);

// Reads an unsigned 32-bit number: decimal digits, or 0x / 0X followed by
// hexadecimal digits (a leading 0 without x is decimal: 010 is ten). No sign,
// no leading whitespace. With `rest`, text may follow and *rest receives the
// position after the number; without it the whole text must be the number.
// Returns RESULT_OK; RESULT_MISSING for a null argument; RESULT_NOT_NUMBER
// for no number, or trailing text without `rest`; RESULT_RANGE for a value
// above 0xFFFFFFFF. On failure value and rest are untouched.
int ParseNumber(const Unit* text, const Unit** rest, uint32_t* value);

// Reads a handle number as ParseNumber reads a number, up to the width of a
// pointer: 0xFFFFFFFF in a 32-bit build, 0xFFFFFFFFFFFFFFFF in a 64-bit one,
// so that whatever handle a shell of either width prints arrives whole.
int ParseHandle(const Unit* text, const Unit** rest, uintptr_t* value);

// Reads a signed 32-bit number, the whole text: -?decimal (-2147483648 to
// 2147483647), or 0x hexadecimal taken as 32 bits (0xFFFFFFFF is -1).
// Returns as ParseNumber does.
int ParseSignedNumber(const Unit* text, int32_t* value);

// Removes leading and trailing whitespace in place. Returns RESULT_OK, or
// RESULT_MISSING for a null text.
int TrimWhitespace(Unit* text);
