// What the expansion did with each sheet, counted while it reads: the
// completion message's second line and the questions asked before rows
// are lost are made from it. The rules themselves stay as they are (the
// first empty cell in column 1 ends a table, text in a number column gets
// the column's fallback); the counts only make their effect visible.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pendra::schedule {

struct SheetTransfer {
  std::string table;
  long before = 0;          // rows the table held before the expansion
  long stored = 0;          // rows stored from the sheet
  long fallbacks = 0;       // cells whose text got the column's fallback
  long endRow = 0;          // the row whose empty first cell ended the table
  long firstIgnoredRow = 0; // the first row below the end with a value (0: none)
  long ignoredRows = 0;     // rows with a value at or below the end: not stored
  // Of those, the rows whose key (first cell) is empty, with the first few
  // of their row numbers: the output writes a table's rows without a key
  // last, so in an unedited workbook of ours they are all that is lost.
  std::string keyColumn;
  long keylessRows = 0;
  std::vector<long> keylessRowNumbers;
};

// What the output wrote into one sheet.
struct TableWritten {
  std::string table;
  long rows = 0;
  std::string keyColumn;
  long keylessRows = 0;      // rows without a key, written after all others
  long zeroLengthCells = 0;  // text of length zero: an empty cell in the workbook, Null on the way back
};

// "GroupMaster: 5 行 → 7 行、KikiMaster: 12 行 → 12 行 (既定値にしたセル 2、表の終わりより下で保存しなかった行 0)"
std::string ExpansionCountsLine(const std::vector<SheetTransfer>& sheets);

// "GroupMaster: 5 行、KikiMaster: 12 行を書き出しました。", then a line for
// rows without a key and one for cells of zero-length text, when there are.
std::string OutputCountsLines(const std::vector<TableWritten>& tables);

// How many row numbers a question lists.
inline constexpr size_t kRowNumbersNamed = 5;

// The questions to ask before such a table is stored, in order: rows below
// the end of the table, and a table that would be left empty while it
// holds rows now. None when nothing would be lost.
std::vector<std::string> LossQuestions(const SheetTransfer& sheet);

}  // namespace pendra::schedule
