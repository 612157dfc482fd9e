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
  // The rows of the tables asked for, with where each lies (AccessTable::places).
  virtual void Row(const AccessRow& row, uint32_t place) = 0;
};

// With a sink, the tables returned hold their designs only.
AccessDatabase ReadInThisProcess(const std::string& path, const ReadOptions& options, RowSink* sink = nullptr);

}  // namespace pendra::mdb::detail
