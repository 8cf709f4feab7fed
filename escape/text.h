// Text units, buffer sizes and result codes shared by the escape engine.
//
// The engine works on UTF-16 code units. Under Windows that is wchar_t, so the
// shell's buffers are used as they are; elsewhere (the native test and fuzz
// builds) it is char16_t, because wchar_t there is four bytes wide.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
typedef wchar_t Unit;
#else
typedef char16_t Unit;
#endif
static_assert(sizeof(Unit) == 2, "the engine works on 16-bit code units");

// Units in every argument, result and working buffer, terminating NUL included,
// and the longest text such a buffer holds.
constexpr int MAX_ARG_LEN = 8192;
constexpr int MAX_TEXT_LEN = MAX_ARG_LEN - 1;

// Results of the internal routines: zero or more is success (a count or a
// length, as each routine says), and each failure has one of these names.
constexpr int RESULT_OK = 0;
constexpr int RESULT_MISSING = -1;    // a required pointer argument was null
constexpr int RESULT_NO_MEMORY = -2;  // a heap allocation failed
constexpr int RESULT_INTERNAL = -3;   // the routine broke its own invariant
constexpr int RESULT_NOT_NUMBER = -4; // no number, or text after it
constexpr int RESULT_RANGE = -5;      // a number too large for its type
constexpr int RESULT_OVERFLOW = -999; // the result would exceed MAX_TEXT_LEN units

// Length of a NUL-terminated text in units.
size_t TextLength(const Unit* text);
