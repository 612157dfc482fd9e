#include "CsvModel.h"

#include "MasterCsvRecord.h"

namespace pendra::fuzz {

using pendra::tagimport::MasterCsvRecord;

namespace {

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

ModelRecord ModelLine(std::string_view raw, long number, size_t maxLineBytes,
                      pendra::Cp932Decoder& decoder) {
  ModelRecord record;
  record.line = number;
  record.malformed = true;
  if (raw.size() > maxLineBytes) return record;
  if (raw.find('\0') != std::string_view::npos) return record;
  std::string text, problem;
  if (!decoder.Decode(raw, text, problem)) return record;
  const bool wellFormed = ModelFields(text, record.fields);
  record.header = !record.fields.empty() && record.fields[0] == MasterCsvRecord::kHeaderName;
  record.malformed = !record.header && (!wellFormed || record.fields.size() != 26);
  return record;
}

}  // namespace

std::vector<ModelRecord> ModelCsvFile(std::string_view file, size_t maxLineBytes,
                                      pendra::Cp932Decoder& decoder) {
  std::vector<ModelRecord> records;
  long number = 0;
  size_t start = 0;
  size_t i = 0;
  while (i <= file.size()) {
    if (i == file.size() || file[i] == '\n' || file[i] == '\r') {
      const std::string_view line = file.substr(start, i - start);
      if (i == file.size() && line.empty()) break;  // nothing after the last line end
      ++number;
      if (!line.empty()) records.push_back(ModelLine(line, number, maxLineBytes, decoder));
      if (i == file.size()) break;
      if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') ++i;
      start = i + 1;
    }
    ++i;
  }
  return records;
}

}  // namespace pendra::fuzz
