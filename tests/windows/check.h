#pragma once
// The Windows test programs run under Wine without a test framework: a check
// that fails prints where and what, and the program's exit status counts.
#include <cstdio>

namespace hxwin {
inline int g_failures = 0;
}  // namespace hxwin

#define CHECK(cond)                                                               \
  do {                                                                            \
    if (!(cond)) {                                                                \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++hxwin::g_failures;                                                        \
    }                                                                             \
  } while (0)
