// Helpers shared by the native tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "escape/text.h"

// The engine's text in a string, and a UTF-16 literal of its unit type:
// U16("a\tb"), U16('x'). Windows compilers encode wide literals in UTF-16,
// characters beyond U+FFFF as surrogate pairs.
using Text = std::basic_string<Unit>;
#ifdef _WIN32
#define U16(literal) L##literal
#else
#define U16(literal) u##literal
#endif

// Readable form of a text for failure messages: in double quotes, printable
// ASCII as it is, a backslash doubled, every other unit as \uXXXX. Long texts
// are shown by their two ends.
std::string Show(const Unit* units, size_t n);
std::string Show(const Text& text);

// MAX_ARG_LEN units that end where an unreadable page begins, so that a read
// past them faults at once in every build; one buffer for the whole run.
Unit* GuardedBuffer();

// The overflow reports SplitArgs made, as (used, capacity) pairs.
std::vector<std::pair<int, int>>& SplitOverflowReports();
