// What an import did with each line that was not simply stored: refused
// columns, refused records, skipped lines. The job shows it in one message
// box at its end, so an import in which records were lost never looks like
// a clean one. A clean import has nothing to report.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/PlatformError.h"

namespace pendra::tagimport {

class ImportReport {
 public:
  // How many lines are listed with their reasons; the rest are counted.
  static constexpr size_t kListed = 10;

  // How many rows M_TAG held when the import began.
  void RowsBefore(long rows) { before_ = rows; }
  // A record stored, as a new row (added) or into its tag's row; some of
  // its columns may have kept their value.
  void Stored(bool added, bool someColumnsRefused);
  // One column of a record kept its value: the database refused the text.
  void ColumnRefused(long line, std::string_view tag, std::string_view column,
                     std::string_view value, const PlatformError& error);
  // A record that was not stored at all.
  void RecordRefused(long line, std::string_view tag, const PlatformError& error);
  // A line that was not a record (malformed) and was passed over.
  void LineSkipped(long line, std::string_view reason);
  // Reading stopped early: the rest of the file was not read.
  void ReadingStopped(long line, const PlatformError& error);

  bool Clean() const { return refused_ == 0 && partly_ == 0 && !stopped_; }
  long StoredCount() const { return stored_; }
  long RefusedCount() const { return refused_; }

  // "M_TAG: 10 行 → 12 行 (追加 2、更新 3、拒否・読み飛ばし 1)"
  std::string CountsLine() const;
  // The text of the closing message box: its first line, the counts, then
  // the lines not stored with their reasons.
  std::string Message() const;

 private:
  void Note(std::string text);

  long before_ = 0;
  long stored_ = 0;
  long added_ = 0;
  long partly_ = 0;   // stored, but with refused columns
  long refused_ = 0;  // records refused and lines skipped
  bool stopped_ = false;
  std::vector<std::string> listed_;
  long unlisted_ = 0;
};

}  // namespace pendra::tagimport
