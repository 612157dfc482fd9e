// What the fuzz targets share: a check that ends the run with a message
// (libFuzzer keeps the input of a run that aborts), and a strict UTF-8 test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// Aborts with the failed condition and a note. Used instead of assert(),
// which a release build would drop.
#define FUZZ_CHECK(condition, note)                                               \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, \
                   #condition, note);                                             \
      std::abort();                                                               \
    }                                                                             \
  } while (false)

namespace pendra::fuzz {

// Well-formed UTF-8 as the Unicode standard defines it: shortest forms only,
// no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// The number of code points of a well-formed UTF-8 text.
size_t CodePointCount(std::string_view text);

}  // namespace pendra::fuzz
