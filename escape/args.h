// Argument splitting for the functions that take several arguments: the
// list of a split (ArgList), SplitArgs and TrimWhitespace. The number
// parsers that read the arguments are in escape/numbers.h; each function's
// reading of its own arguments is in functions/argument_readers.h.
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

// Removes leading and trailing whitespace in place. Returns RESULT_OK, or
// RESULT_MISSING for a null text.
int TrimWhitespace(Unit* text);
