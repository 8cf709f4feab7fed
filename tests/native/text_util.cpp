#include "text_util.h"

#include <cstdio>

std::string Show(const Unit* units, size_t n)
{
    std::string s = "\"";
    auto put = [&s](Unit u) {
        if (u == '\\') {
            s += "\\\\";
        } else if (u >= 0x20 && u < 0x7F) {
            s += char(u);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04X", unsigned(u));
            s += hex;
        }
    };
    if (n <= 80) {
        for (size_t k = 0; k < n; ++k)
            put(units[k]);
    } else {
        for (size_t k = 0; k < 16; ++k)
            put(units[k]);
        s += "...(" + std::to_string(n) + " units)...";
        for (size_t k = n - 32; k < n; ++k)
            put(units[k]);
    }
    return s + "\"";
}

std::string Show(const Text& text) { return Show(text.data(), text.size()); }

std::vector<std::pair<int, int>>& SplitOverflowReports()
{
    static std::vector<std::pair<int, int>> reports;
    return reports;
}

// The engine's report of a split overflow, recorded instead of printed.
void ReportSplitOverflow(int used, int capacity) { SplitOverflowReports().emplace_back(used, capacity); }
