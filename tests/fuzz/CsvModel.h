// A plain model of the master CSV format, one character at a time, for the
// reader's fuzz target to compare with. Built without the fuzzer's
// comparison tracing: the model is not what is being explored, and tracing
// its loops over long lines would cost most of the run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Cp932Decoder.h"

namespace pendra::fuzz {

// What the reader should hand out for one line with text.
struct ModelRecord {
  long line = 0;
  bool header = false;
  bool malformed = false;
  std::vector<std::string> fields;  // of a well-formed line or a header
};

// The records of a whole file, in order, for a reader that keeps lines of
// at most maxLineBytes.
std::vector<ModelRecord> ModelCsvFile(std::string_view file, size_t maxLineBytes,
                                      pendra::Cp932Decoder& decoder);

}  // namespace pendra::fuzz
