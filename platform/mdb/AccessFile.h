// Genuine Access database files (Jet 3, Jet 4, ACE), read one way: their
// tables' designs and every row as typed values, for carrying an
// installation's data over into the tool's own databases. Reading goes
// through libmdb (mdbtools), but never through its text-binding API, which
// cuts long values, prints numbers and dates through the locale and cannot
// tell Null from an empty text: values are decoded from the parsed row.
//
// A file is untrusted input. The reading runs in a confined program of its
// own, pendra-mdb-read (ConfinedChild.h: it can read files and write to
// its parent, nothing else), under a time limit (damaged files can make
// libmdb loop for ever) and a budget for what it sends back, in proportion
// to the file. A table
// that yields fewer rows than it records, or a row that cannot be taken
// apart, is reported as damaged (libmdb reports a read error like the end
// of a table).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/AccessType.h"
#include "core/Variant.h"

namespace pendra::mdb {

// The type codes and their names (core/AccessType.h), under the names the
// reader has always given them.
using pendra::AccessType;
using pendra::TypeName;

struct AccessColumn {
  std::string name;
  int type = 0;                  // AccessType
  int size = 0;                  // Text: characters; others: bytes
  bool required = false;         // the Required property
  bool allowZeroLength = true;   // the Allow Zero Length property
  // The values of this column cannot be read (a type the reader does not
  // know: Date/Time Extended, calculated fields, attachments); every value
  // reads as Null.
  bool unreadable = false;
  bool autoNumber = false;       // a Long numbered by the engine
  // The Default Value property as Access stores it (an expression: 0,
  // "text", Now()), empty when there is none.
  std::string defaultValue{};
};

// An index of a table's design: which columns it orders by and whether it
// allows a key twice.
struct AccessIndex {
  std::string name;
  bool primaryKey = false;
  bool unique = false;
  std::vector<int> columns;  // positions in the table's column order
  std::vector<char> descending;  // per column
};

// Values of a row, in the table's column order:
//   Null                    Variant::Null() (distinct from an empty text)
//   Yes/No                  Boolean
//   Byte, Integer, Long     Byte, Integer, Long
//   Single, Double          Single, Double (bit for bit)
//   Currency                Currency (the stored scaled integer)
//   Date/Time               Date (any year, before 1899-12-30 too)
//   Text, Memo              String, UTF-8 (Memo in full length)
//   Decimal                 String, the exact decimal ("-12.34")
//   GUID                    String "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
//   Binary, OLE             String holding the raw bytes
using AccessRow = std::vector<Variant>;

// A table's rows kept as the reading child sent them and decoded one at a
// time: a fraction of the memory the values take, for a caller that goes
// through the rows once or twice. Every row was checked whole when it was
// received, and decodes to the same values as AccessTable::rows.
class EncodedRows {
 public:
  EncodedRows() = default;
  explicit EncodedRows(size_t columns) : columns_(columns) {}
  size_t size() const { return starts_.size(); }
  AccessRow Row(size_t index) const;
  // A row's bytes as RowReceiver::Row gives them.
  void Append(std::string_view encoded);

 private:
  std::string bytes_;
  std::vector<size_t> starts_;
  size_t columns_ = 0;
};

struct AccessTable {
  std::string name;
  long recordedRows = 0;  // the row count the table records
  std::vector<AccessColumn> columns;
  std::vector<AccessIndex> indexes;  // foreign-key references left out
  std::vector<AccessRow> rows;  // empty when its rows were not asked for
  // Where each row lies in the file, in the same order: the page above the
  // row number of the slot the page lists it under (page << 8 | row), as
  // indexes address rows. A writer keeps a row nobody changed from there.
  std::vector<uint32_t> places;
};

struct AccessDatabase {
  std::string format;  // "Jet 3", "Jet 4", "ACE 12" ...
  std::vector<AccessTable> tables;  // user tables, in catalogue order
};

struct ReadOptions {
  // Which tables' rows to keep: every table's when unset, else those named
  // (ASCII case ignored, as Access names tables; none when the list is
  // empty). Every table is read through all the same, so that damage
  // anywhere in the file is found.
  std::optional<std::vector<std::string>> rowsOf;
  // How long the reading may take; 0: 30 s plus 1 s per megabyte of file.
  std::chrono::seconds timeLimit{0};
  // How many bytes the reading may send back; 0: 64 MiB plus 32 times the
  // file's size.
  size_t replyBudget = 0;
};

// Where the rows go as they are read, instead of into the tables: a caller
// that takes each row as it comes holds no more of the table than it keeps.
class RowReceiver {
 public:
  virtual ~RowReceiver() = default;
  virtual void Format(const std::string& format) = 0;
  virtual void Table(const AccessTable& design) = 0;  // every table, before its rows
  // A row of the last table given: its values, where it lies (as
  // AccessTable::places) and its bytes as sent (for EncodedRows::Append).
  virtual void Row(const AccessRow& row, uint32_t place, std::string_view encoded) = 0;
};

// Reads the file. Raises 3024 (no such file), 3343 (not an Access
// database), 3049 (damaged: fewer rows than recorded, a row or a long
// value that cannot be read, text that does not decode, or the reading did
// not end in time or within its budget), 7 (no reading child could be
// started, or confined: nothing was read).
AccessDatabase ReadAccessFile(const std::string& path, const ReadOptions& options = {});
// The same, each table and row given to the receiver as it is read. When
// it raises, the rows given before belong to a reading that failed.
void ReadAccessFile(const std::string& path, const ReadOptions& options, RowReceiver& receiver);

}  // namespace pendra::mdb
