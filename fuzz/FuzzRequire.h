#pragma once
// A broken invariant stops the run where it is; the condition goes to stderr
// first so that a crash file explains itself.

#include <cstdio>

#define FUZZ_REQUIRE(condition)                                                               \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      __builtin_trap();                                                                       \
    }                                                                                         \
  } while (0)
