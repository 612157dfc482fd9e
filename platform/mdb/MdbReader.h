// The reading itself, in the process that calls it: libmdb opens the file,
// and every value is decoded from the parsed row. ReadAccessFile runs this
// in a child process.
#pragma once

#include "AccessFile.h"

namespace pendra::mdb::detail {

AccessDatabase ReadInThisProcess(const std::string& path, const ReadOptions& options);

}  // namespace pendra::mdb::detail
