// The seed of a randomised test. A fresh one each run, from
// std::random_device; or, to repeat a run, the decimal number in the
// environment variable IVRO_TEST_SEED. A test shows the seed it used in its
// failure trace:  SCOPED_TRACE(SeedTrace(seed));
#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>
#include <string>

inline unsigned TestSeed()
{
    if (const char* text = std::getenv("IVRO_TEST_SEED")) {
        char* end = nullptr;
        errno = 0;
        const unsigned long value = std::strtoul(text, &end, 10);
        if (*text >= '0' && *text <= '9' && *end == '\0' && errno == 0 && value <= UINT_MAX)
            return unsigned(value);
    }
    return std::random_device{}();
}

// "seed 1234 (IVRO_TEST_SEED=1234 repeats it)"
inline std::string SeedTrace(unsigned seed)
{
    const std::string number = std::to_string(seed);
    return "seed " + number + " (IVRO_TEST_SEED=" + number + " repeats it)";
}
