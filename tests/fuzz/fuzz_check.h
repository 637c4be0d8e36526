#pragma once
// What the fuzz targets share: a check that stops the run with a message (an
// abort, which libFuzzer and the corpus replay both report as a failure with
// the input that caused it).
#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition, what)                                                      \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)
