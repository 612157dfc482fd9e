// Replacing all rows of one existing table of a genuine Jet 4 / ACE file,
// with its indexes rebuilt from scratch; the design never changes.
//
// The old rows', long values' and index pages go back to the file's free
// pages and are taken again first, so rewriting a table again and again
// does not grow the file. The table's row count, last AutoNumber and index
// entry counts are kept as the format keeps them. The result is checked as
// check-mdb checks a file. All of it happens on the file image in memory:
// reading and replacing the file on the disk, and the rules about other
// programs, are platform/access's (AccessWriter.h).
//
// Refused, with the image unchanged: Jet 3, encoded or password-protected
// files (3219), a damaged file (3049), no database
// (3343), no such table (3078), a table that takes part in a relationship
// or has a column or index we cannot write (3219), a text value whose index
// key is not known to be Access's and that the table's index does not
// already hold (3219, naming the table, index, value and character; see
// TextKey.h and KnownKeys.h), a unique index whose
// keys collide (3022), a value that does not fit its column (3163, 6, 13).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "JetFile.h"
#include "KnownKeys.h"
#include "core/Variant.h"

namespace pendra::jet {

struct RewriteStats {
  long rows = 0;
  size_t bytesBefore = 0;
  size_t bytesAfter = 0;
};

// One row to write: its values, one per column in the table's column order
// (as mdb::ReadAccessFile gives them), or else a row of the table that
// nobody changed, kept byte for byte from where it lies in the file (its
// place, page << 8 | row, as mdb::AccessTable::places gives it). A kept
// row may not hold a long value outside itself: those pages are written
// anew.
struct GivenRow {
  const std::vector<Variant>* values = nullptr;
  uint32_t kept = 0;
};

// The rows a table is rewritten with, one at a time, so that nobody holds
// the values of the whole table at once. Each ForEach gives the same rows
// in the same order; the rewrite goes through them up to three times.
// Without values, a source may give a row that is not kept with no values
// (an empty row): the rewrite asks so when it only looks for kept rows.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual void ForEach(const std::function<void(const GivenRow&)>& take, bool withValues = true) const = 0;
};

// Rows held as values by the caller.
class VectorRows final : public RowSource {
 public:
  explicit VectorRows(const std::vector<std::vector<Variant>>& rows) : rows_(rows) {}
  void ForEach(const std::function<void(const GivenRow&)>& take, bool = true) const override {
    for (const auto& row : rows_) take(GivenRow{&row, 0});
  }

 private:
  const std::vector<std::vector<Variant>>& rows_;
};

// What a refusal of a value without a known key (3219) tells the user to do.
std::string UnkeyableAdvice();

// A Null AutoNumber gets the next number after the larger of the table's
// last AutoNumber and the largest given; the table's last AutoNumber never
// goes down. Messages name file.path().
RewriteStats RewriteTable(JetFile& file, const std::string& table, const RowSource& rows);
// Several tables, the file checked once before and once after them all.
struct TableToWrite {
  std::string table;
  const RowSource* rows = nullptr;
};
// What a rewrite learns of the file before it changes a page, learnt ahead
// of it (while the job still works) from an image byte for byte equal to
// the one it will rewrite: whether the file passes the check with every key
// compared (the check before the rewrite compares fewer), and Access's own
// keys of each table. It reads only the image it is given, so it may run on
// a thread of its own. A table left out is read by the rewrite itself.
struct ReadAhead {
  bool checkedClean = false;
  std::map<std::string, KnownKeys> knownKeys;  // by table name
  // By table name, the pages of all its index trees (which the rewrite
  // gives back).
  std::map<std::string, std::vector<uint32_t>> indexPages;
};
ReadAhead ReadAheadOf(const JetFile& file);

// `ahead`, when given, must come from an image equal to `file`.
RewriteStats RewriteTables(JetFile& file, const std::vector<TableToWrite>& tables, const ReadAhead* ahead = nullptr);
RewriteStats RewriteTable(JetFile& file, const std::string& table, const std::vector<std::vector<Variant>>& rows);

}  // namespace pendra::jet
