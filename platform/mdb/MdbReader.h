// The reading itself, in the process that calls it: libmdb opens the file,
// and every value is decoded from the parsed row. ReadAccessFile runs this
// in a child process.
#pragma once

#include "AccessFile.h"

namespace pendra::mdb::detail {

// Where the rows go as they are read, instead of into the tables.
struct RowSink {
  virtual ~RowSink() = default;
  virtual void Begin(const std::string& format) = 0;
  virtual void Table(const AccessTable& design) = 0;  // every table, before its rows
  virtual void Row(const AccessRow& row) = 0;         // the rows of the tables asked for
};

// With a sink, the tables returned hold their designs only.
AccessDatabase ReadInThisProcess(const std::string& path, const ReadOptions& options, RowSink* sink = nullptr);

}  // namespace pendra::mdb::detail
