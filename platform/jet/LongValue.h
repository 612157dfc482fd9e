// Reading a long value (Memo, OLE) from the 12 bytes a row keeps for it:
// the data inline after them, in one row elsewhere, or in a chain of rows
// each starting with the next row's pointer.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "JetFile.h"

namespace pendra::jet {

// Raises 3049 when the value's rows are missing or shorter than the length
// it records, or its chain loops or leaves the file; the work is bounded by
// that length, which is bounded by the file's size.
std::string ReadLongValue(const JetFile& file, std::string_view field);
// The same, with the rows of the values already read: each value has rows
// of its own, so a row met again is damage, and reading every value of a
// file costs at most one visit per row.
std::string ReadLongValue(const JetFile& file, std::string_view field, std::set<uint32_t>& rowsRead);

}  // namespace pendra::jet
