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
// Two optional layouts reach the reader's buffer edges, which short inputs
// never touch: an input starting with 0xFF k is placed after a filler line
// so that its first k + 1 bytes end the first 256 KiB read (a CR there must
// still pair with an LF read after it); 0xFE k puts a filler of
// kMaxLineBytes - k bytes without a line end before it, so that the first
// line is about as long as the longest allowed. (Neither byte can start a
// code page 932 line, so plain CSV inputs never start that way.)
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Cp932Decoder.h"
#include "FuzzCheck.h"
#include "MasterCsvReader.h"
#include "core/PlatformError.h"

namespace {

using pendra::tagimport::MasterCsvReader;
using pendra::tagimport::MasterCsvRecord;

// The reader's read size (MasterCsvReader.cpp).
constexpr size_t kReadBytes = 256 * 1024;

struct ModelRecord {
  long line = 0;
  bool header = false;
  bool malformed = false;
  std::vector<std::string> fields;
};

// Cuts one decoded line into fields; false for an open quote or text after
// a closing quote.
bool ModelFields(std::string_view line, std::vector<std::string>& fields) {
  size_t i = 0;
  const size_t n = line.size();
  for (;;) {
    std::string value;
    if (i < n && line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < n) {
        const char c = line[i++];
        if (c != '"') {
          value += c;
        } else if (i < n && line[i] == '"') {
          value += '"';
          ++i;
        } else {
          closed = true;
          break;
        }
      }
      if (!closed) return false;
      while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
      if (i < n && line[i] != ',') return false;
    } else {
      while (i < n && line[i] != ',') value += line[i++];
    }
    fields.push_back(std::move(value));
    if (i == n) return true;
    ++i;  // the comma
  }
}

ModelRecord ModelLine(std::string_view raw, long number, pendra::tagimport::Cp932Decoder& decoder) {
  ModelRecord record;
  record.line = number;
  record.malformed = true;
  if (raw.size() > MasterCsvReader::kMaxLineBytes) return record;
  if (raw.find('\0') != std::string_view::npos) return record;
  std::string text, problem;
  if (!decoder.Decode(raw, text, problem)) return record;
  const bool wellFormed = ModelFields(text, record.fields);
  record.header = !record.fields.empty() && record.fields[0] == MasterCsvRecord::kHeaderName;
  record.malformed = !record.header && (!wellFormed || record.fields.size() != 26);
  return record;
}

std::vector<ModelRecord> Model(std::string_view file, pendra::tagimport::Cp932Decoder& decoder) {
  std::vector<ModelRecord> records;
  long number = 0;
  size_t start = 0;
  size_t i = 0;
  while (i <= file.size()) {
    if (i == file.size() || file[i] == '\n' || file[i] == '\r') {
      const std::string_view line = file.substr(start, i - start);
      if (i == file.size() && line.empty()) break;  // nothing after the last line end
      ++number;
      if (!line.empty()) records.push_back(ModelLine(line, number, decoder));
      if (i == file.size()) break;
      if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') ++i;
      start = i + 1;
    }
    ++i;
  }
  return records;
}

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
  static pendra::tagimport::Cp932Decoder modelDecoder;

  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string contents;
  if (size >= 2 && data[0] == 0xFF) {
    contents.assign(kReadBytes - 2 - data[1], 'x');  // with its LF, ends at kReadBytes - k
    contents += '\n';
    contents.append(input.substr(2));
  } else if (size >= 2 && data[0] == 0xFE) {
    contents.assign(MasterCsvReader::kMaxLineBytes - data[1], 'x');
    contents.append(input.substr(2));
  } else {
    contents.assign(input);
  }
  file.Write(contents);
  const std::vector<ModelRecord> expected = Model(contents, modelDecoder);

  // A fresh reader, then the same one again after Close: nothing of one
  // file may carry over into the next.
  MasterCsvReader reader;
  ReadAndCompare(reader, file.Path(), expected);
  ReadAndCompare(reader, file.Path(), expected);
  return 0;
}
