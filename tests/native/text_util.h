// Helpers shared by the native tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Readable form of a text for failure messages: in double quotes, printable
// ASCII as it is, a backslash doubled, every other unit as \uXXXX. Long texts
// are shown by their two ends.
std::string Show(const char16_t* units, size_t n);
std::string Show(const std::u16string& text);

// The overflow reports SplitArgs made, as (used, capacity) pairs.
std::vector<std::pair<int, int>>& SplitOverflowReports();
