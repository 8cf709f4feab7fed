// Occurrences of a pattern in a text, found in linear time: the text work of
// @expreplace and @expfind. Portable, with no Windows in it, so it builds into
// the core library with the escape engine and is tested natively; it stands
// in functions/ beside the two functions it serves.
//
// The search is Knuth-Morris-Pratt: the pattern's border table lets the scan
// go on after a mismatch or a match without ever stepping back in the text,
// so even the worst inputs (aa in a text of a only) cost one pass.
#pragma once

#include "functions/argument_readers.h"

// The state of one scan over `text`. Set the first five fields, call
// StartSearch, then NextOccurrence as often as needed. It holds the border
// table, 16 KB, no more than one text: it lives on the stack and needs no
// heap.
struct Search {
    const Unit* text;
    size_t textLength;
    const Unit* pattern;     // must not be empty
    size_t patternLength;    // at most MAX_ARG_LEN - 1
    bool overlapping;        // aa in aaa: twice when true, once when false
    size_t position;         // next unit of text to examine
    size_t matched;          // units of pattern matched just before position
    // border[i]: the longest proper border of pattern[0..i], below
    // MAX_TEXT_LEN and so within 16 bits.
    int16_t border[MAX_ARG_LEN];
};

// Prepares the border table and starts the scan at `from`.
void StartSearch(Search* search, size_t from);

// The start of the next occurrence, or kNoOccurrence.
constexpr size_t kNoOccurrence = ~size_t(0);
size_t NextOccurrence(Search* search);

// Replaces the occurrences of `pattern` in `text` by `replacement`, left to
// right and without overlap; with `firstOnly` just the first. Occurrences are
// looked for in `haystack`, which is `text` itself or a copy of the same
// length (lower-cased, for a search that ignores case); the units written are
// taken from `text`. An empty pattern matches nothing.
//
// out: MAX_ARG_LEN units, not shared with the inputs; receives the result and
// a NUL. Returns the result's length, or RESULT_OVERFLOW when it would exceed
// MAX_TEXT_LEN units (out then holds no usable text).
int ReplaceOccurrences(const Unit* text, size_t textLength, const Unit* haystack, const Unit* pattern,
                       size_t patternLength, const Unit* replacement, size_t replacementLength, bool firstOnly,
                       Unit* out);

// The replacing of @expreplace on its expanded arguments: args->text with
// the occurrences of args->from replaced by args->to, all of them or with
// flag 2 the first. With flag 1 case is ignored: the search runs over copies
// lower-cased by `lower` (which the module takes from Windows; it keeps the length),
// and without memory for them nothing is found. Returns the length of the
// result, which replaces args->text; RESULT_OVERFLOW when it would exceed
// MAX_TEXT_LEN units (args->text is then unchanged).
int ReplaceInText(ReplaceArguments* args, void (*lower)(Unit* text, size_t length));

// Where the n-th occurrence of `pattern` lies in `text` as the user wrote it,
// the search beginning at `offset` of the written text. `text` is expanded,
// with `map` its position map from ExpandEscapes and `unexpanded` the
// length of the text as written; both strings already lower-cased if case is
// to be ignored. Occurrences may overlap. n 0 only counts; n below 0 counts
// from the back. The search starts at the first unit whose source lies at or
// after the offset (none when the offset is at or beyond the written length).
struct FindOutcome {
    uint32_t count; // occurrences from the start
    bool found;     // the n-th exists (never for n 0)
    uint32_t start; // in the written text
    uint32_t length; // of the written text that produced the occurrence
};
// Returns 0; RESULT_NO_MEMORY when the list of matches cannot be had;
// RESULT_INTERNAL when the second pass over the text finds fewer occurrences
// than the first.
int FindOccurrence(const Unit* text, const int32_t* map, uint32_t unexpanded, const Unit* pattern, int32_t n,
                   uint32_t offset, FindOutcome* outcome);
