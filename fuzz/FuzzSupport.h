// Helpers shared by the fuzz targets.
#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep; a broken one is a finding like a crash.
#define KEO_FUZZ_CHECK(cond)                                                                       \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "fuzz check failed: %s at %s:%d\n", #cond, __FILE__, __LINE__);   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
