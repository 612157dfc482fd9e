// One line of the master CSV file: 26 text fields, positions 0 to 25, as the
// reader cut them. Nothing is converted here; the tag master update decides
// what each field becomes when it is stored.
//
// A line that is not a well-formed record (wrong number of fields, an open
// quote, bytes that code page 932 cannot decode, ...) is still handed on, as
// a malformed record: its fields are all empty and Problem() says why, so
// the import can report the line instead of storing fields under the wrong
// columns.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace pendra::tagimport {

class MasterCsvRecord {
 public:
  static constexpr int kFieldCount = 26;
  // The text of position 0 that marks a header record.
  static constexpr std::string_view kHeaderName = "TAG_ID";

  MasterCsvRecord() = default;

  // Cuts one decoded line (UTF-8, without its line end) into fields.
  static MasterCsvRecord FromLine(std::string_view line, long lineNumber);
  // The same into this record, reusing its storage (the reader's way).
  void Parse(std::string_view line, long lineNumber);
  // Makes this record a malformed one: a line that is not a record.
  void SetMalformed(long lineNumber, std::string problem);

  // The field at a position, 0 to 25.
  const std::string& Field(int position) const { return fields_.at(position); }
  const std::string& operator[](int position) const { return fields_.at(position); }

  // Position 0 is exactly "TAG_ID" (quotes already removed). A header line
  // is a header even if its other fields are not well formed: they are
  // never examined.
  bool IsHeader() const { return header_; }
  bool IsMalformed() const { return !problem_.empty(); }
  // Why the line was not a record, in the words of the failure report.
  const std::string& Problem() const { return problem_; }
  // 1 for the first line of the file.
  long LineNumber() const { return line_; }

 private:
  std::array<std::string, kFieldCount> fields_;
  std::string problem_;
  long line_ = 0;
  bool header_ = false;
};

}  // namespace pendra::tagimport
