// The sequential reader of one master CSV file: code page 932 text, one
// record of 26 comma-separated fields per line.
//
// How lines that are not well-formed records are met (the import reports
// each one with its line number, and none of them is ever stored with its
// fields under the wrong positions):
// - Line ends: CR LF; a bare LF or a bare CR also ends a line, and a last
//   line without a line end is read like any other.
// - Empty lines (no character at all) carry nothing and are passed over,
//   also at the end of the file: the end test is true when only empty lines
//   are left.
// - Fewer or more than 26 fields: malformed (trailing commas included: an
//   unquoted comma in a name would otherwise shift every later field).
// - A doubled quote inside a quoted field is one quote; an unclosed quote,
//   or text after a closing quote, makes the line malformed. A quoted value
//   cannot span lines.
// - Bytes that code page 932 cannot decode, NUL bytes, and lines longer
//   than kMaxLineBytes make the line malformed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/Cp932Decoder.h"
#include "MasterCsvRecord.h"

namespace pendra::tagimport {

class MasterCsvReader {
 public:
  // Longest line read as a record; longer lines are malformed records.
  static constexpr size_t kMaxLineBytes = 1 << 20;
  // Bytes read from the file at a time.
  static constexpr size_t kReadBytes = size_t{256} * 1024;

  MasterCsvReader() = default;
  // A reader with other buffer edges: reads of readBytes (at least 1) and
  // records of at most maxLineBytes. The import uses the defaults; the fuzz
  // target makes both small, so that short inputs reach every edge.
  MasterCsvReader(size_t readBytes, size_t maxLineBytes);
  ~MasterCsvReader();
  MasterCsvReader(const MasterCsvReader&) = delete;
  MasterCsvReader& operator=(const MasterCsvReader&) = delete;

  // Opens the file for reading. Raises 53 (no such file), 76 (no such
  // folder), 75 (a path the system refuses), 70 (no access),
  // 55 (this reader already has a file open). Anything but a regular file
  // (a folder, a device, a FIFO, a socket) is refused with 75 before it
  // is read, and a FIFO without blocking.
  void Open(const std::string& path);

  // True when nothing of the file is left unread (empty lines don't count).
  bool EndOfFile();

  // The next record (possibly a header or a malformed record), valid until
  // the next call. Raises 62 when the end test is true, 57 on a read error.
  const MasterCsvRecord& NextRecord();

  // Releases the file. Closing a reader that isn't open does nothing.
  void Close();

  // The file's start looks like UTF-8 (LooksLikeUtf8), read apart from
  // the records: where the reader stands does not change.
  bool SavedAsUtf8() const;

  bool IsOpen() const { return fd_ >= 0; }
  // Line number of the last line read (1-based).
  long LineNumber() const { return line_; }

 private:
  // Finds the next non-empty line; false at the end of the file.
  bool FetchLine();
  // Reads more of the file into the buffer; false at the end of the file.
  bool Fill();

  size_t readBytes_ = kReadBytes;
  size_t maxLineBytes_ = kMaxLineBytes;
  int fd_ = -1;
  std::vector<char> buf_;
  size_t begin_ = 0;  // first unread byte in buf_
  size_t end_ = 0;    // one past the last byte read into buf_
  bool eof_ = false;  // the file has no more bytes to read
  long line_ = 0;
  // The line found by FetchLine; pending_ until it is handed out.
  MasterCsvRecord current_;
  bool pending_ = false;
  std::optional<Cp932Decoder> decoder_;
  std::string decoded_;
};

}  // namespace pendra::tagimport
