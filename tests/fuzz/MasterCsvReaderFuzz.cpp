// Fuzz target: the master CSV reader over whole file contents.
//
// The input is written to an in-memory file that the reader opens by its
// /proc path, so the real reading code runs: buffering, line ends, the
// code page 932 decoding and the cutting into fields. Each record is compared
// with a plain model of the file format, written from the rules in
// MasterCsvReader.h one character at a time:
// - records come in file order with increasing line numbers, and empty
//   lines give none;
// - a well-formed line gives exactly its 26 fields, unchanged;
// - a line that is not a record (field count, quotes, NUL, bytes that code
//   page 932 cannot decode, length) gives a malformed record with every
//   field empty, never fields at shifted positions;
// - a header is told by position 0 alone;
// - after the last record the end test is true and NextRecord raises.
//
// An input that starts with 0xFF r m is read by a reader with small buffer
// edges: reads of r + 1 bytes and records of at most 4 m bytes, so that
// line ends, a CR LF split between two reads, and lines too long to keep
// meet the edges of the buffer at every place. (0xFF cannot start a code
// page 932 line; any other input is read as the import reads it.)
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CsvModel.h"
#include "FuzzCheck.h"
#include "MasterCsvReader.h"
#include "core/PlatformError.h"

namespace {

using pendra::fuzz::ModelRecord;
using pendra::tagimport::MasterCsvReader;
using pendra::tagimport::MasterCsvRecord;

// The input as one in-memory file, reached through /proc like any path.
class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("master-csv", MFD_CLOEXEC)) {
    FUZZ_CHECK(fd_ >= 0, "memfd_create");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  void Write(std::string_view bytes) {
    FUZZ_CHECK(ftruncate(fd_, 0) == 0, "ftruncate");
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      FUZZ_CHECK(n > 0, "pwrite");
      done += static_cast<size_t>(n);
    }
  }
  const std::string& Path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

void ReadAndCompare(MasterCsvReader& reader, const std::string& path,
                    const std::vector<ModelRecord>& expected) {
  reader.Open(path);
  long lastLine = 0;
  size_t count = 0;
  while (!reader.EndOfFile()) {
    const MasterCsvRecord& record = reader.NextRecord();
    FUZZ_CHECK(count < expected.size(), "more records than lines with text");
    const ModelRecord& model = expected[count++];
    FUZZ_CHECK(record.LineNumber() > lastLine, "line numbers increase");
    lastLine = record.LineNumber();
    FUZZ_CHECK(record.LineNumber() == model.line, "line number");
    FUZZ_CHECK(reader.LineNumber() == model.line, "reader's line number");
    FUZZ_CHECK(record.IsHeader() == model.header, "header test");
    FUZZ_CHECK(record.IsMalformed() == model.malformed, "malformed line");
    if (record.IsHeader()) {
      FUZZ_CHECK(record[0] == MasterCsvRecord::kHeaderName, "header name");
    } else if (record.IsMalformed()) {
      FUZZ_CHECK(!record.Problem().empty(), "malformed record says why");
      for (int p = 0; p < MasterCsvRecord::kFieldCount; ++p) {
        FUZZ_CHECK(record[p].empty(), "malformed record has no fields");
      }
    } else {
      FUZZ_CHECK(model.fields.size() == 26, "record of 26 fields");
      for (int p = 0; p < MasterCsvRecord::kFieldCount; ++p) {
        FUZZ_CHECK(record[p] == model.fields[static_cast<size_t>(p)], "field value");
      }
    }
  }
  FUZZ_CHECK(count == expected.size(), "a record for every line with text");
  FUZZ_CHECK(reader.EndOfFile(), "end test stays true");
  bool raised = false;
  try {
    reader.NextRecord();
  } catch (const pendra::PlatformError& e) {
    raised = e.Number() == 62;
  }
  FUZZ_CHECK(raised, "reading past the end raises 62");
  reader.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static pendra::Cp932Decoder modelDecoder;

  std::string_view contents(reinterpret_cast<const char*>(data), size);
  // A file shorter than the import's read size comes in one read whatever
  // that size is; a buffer just larger than the file takes the same path
  // without the cost of 256 KiB per run.
  size_t readBytes = std::min(MasterCsvReader::kReadBytes, size + 1);
  size_t maxLineBytes = MasterCsvReader::kMaxLineBytes;
  if (size >= 3 && data[0] == 0xFF) {
    readBytes = size_t{data[1]} + 1;
    maxLineBytes = size_t{data[2]} * 4;
    contents.remove_prefix(3);
  }
  file.Write(contents);
  const std::vector<ModelRecord> expected =
      pendra::fuzz::ModelCsvFile(contents, maxLineBytes, modelDecoder);

  // A fresh reader, then the same one again after Close: nothing of one
  // file may carry over into the next.
  MasterCsvReader reader(readBytes, maxLineBytes);
  ReadAndCompare(reader, file.Path(), expected);
  ReadAndCompare(reader, file.Path(), expected);
  return 0;
}
