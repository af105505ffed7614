#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant broken by some input: abort, so that libFuzzer keeps the input as a crash.
#define OSTRELLE_FUZZ_CHECK(condition)                                                                       \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition);           \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
