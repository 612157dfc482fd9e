// check-mdb: an integrity check of a genuine Access file, our counterpart
// of SQLite's integrity_check. Per table: the recorded row count against
// the live rows; the table's usage maps against the data pages that name it
// as their owner; every index walked in full (entries in order, node
// entries matching their children, one entry per live row whose key
// encodes to it, the recorded entry count); and over the whole file, pages
// claimed twice (by two tables, by a table and the free-page map, by two
// index trees).
#pragma once

#include <set>
#include <string>
#include <vector>

namespace pendra::jet {

struct TableCheck {
  std::string name;
  long rows = 0;
  std::vector<std::string> notes;     // what was checked, for the report
  std::vector<std::string> problems;
  // Entries whose row's value has no key we know to be Access's (TextKey.h):
  // matched with their rows by row pointer only. Not a problem.
  size_t keysNotCompared = 0;
};

struct FileCheck {
  std::string format;
  std::vector<TableCheck> tables;
  std::vector<std::string> problems;  // the file's own (pages claimed twice, ...)
  size_t keysNotCompared = 0;         // over all tables, system tables too
  bool Clean() const;
};

// Checks the file. Raises PlatformError when it cannot be read at all
// (3024 no such file, 3343 not an Access database); damage found while
// checking is reported, not raised.
FileCheck CheckAccessFile(const std::string& path);

class JetFile;
struct CheckOptions {
  // Tables whose index keys are not built again from their rows (their
  // entries are still matched with their rows one to one): the tables the
  // writer is about to replace, indexes and all. What the writer wrote is
  // checked in full.
  std::set<std::string> keysNotCompared;
};
FileCheck CheckAccessFile(const JetFile& file, const CheckOptions& options = {});

}  // namespace pendra::jet
