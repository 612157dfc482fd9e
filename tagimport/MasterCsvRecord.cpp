#include "MasterCsvRecord.h"

#include <string>

namespace pendra::tagimport {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

void MasterCsvRecord::SetMalformed(long lineNumber, std::string problem) {
  for (auto& field : fields_) field.clear();
  line_ = lineNumber;
  header_ = false;
  problem_ = std::move(problem);
}

MasterCsvRecord MasterCsvRecord::FromLine(std::string_view line, long lineNumber) {
  MasterCsvRecord record;
  record.Parse(line, lineNumber);
  return record;
}

void MasterCsvRecord::Parse(std::string_view line, long lineNumber) {
  MasterCsvRecord& record = *this;
  record.line_ = lineNumber;
  record.header_ = false;
  record.problem_.clear();

  int count = 0;                  // fields seen on the line
  std::string problem;
  std::string extra;              // scratch for fields beyond position 25
  size_t i = 0;
  const size_t n = line.size();

  for (;;) {
    std::string& value = count < kFieldCount ? record.fields_[count] : extra;
    value.clear();
    if (i < n && line[i] == '"') {
      // Quoted: commas inside belong to the value; a doubled quote stands
      // for one quote, as spreadsheet programs write it.
      size_t j = i + 1;
      bool closed = false;
      while (j < n) {
        size_t q = line.find('"', j);
        if (q == std::string_view::npos) {
          value.append(line.substr(j));
          j = n;
          break;
        }
        value.append(line.substr(j, q - j));
        if (q + 1 < n && line[q + 1] == '"') {
          value += '"';
          j = q + 2;
        } else {
          j = q + 1;
          closed = true;
          break;
        }
      }
      if (!closed) {
        problem = "引用符 (\") が閉じられていません";
        break;
      }
      // Blanks between the closing quote and the comma are dropped; any
      // other text there means the line is not what it seems.
      while (j < n && IsBlank(line[j])) ++j;
      if (j < n && line[j] != ',') {
        problem = "引用符の後に余分な文字があります（" + std::to_string(count + 1) + " 番目の項目）";
        break;
      }
      i = j;
    } else {
      size_t comma = line.find(',', i);
      size_t end = comma == std::string_view::npos ? n : comma;
      value.assign(line.substr(i, end - i));
      i = end;
    }
    ++count;
    if (i >= n) break;
    ++i;  // the comma; a comma at the end of the line gives one more empty field
  }

  // Position 0 decides a header before anything else is looked at (count
  // is at least 1 once position 0 was read in full).
  if (count >= 1 && record.fields_[0] == kHeaderName) {
    record.header_ = true;
    return;
  }
  if (problem.empty() && count != kFieldCount) {
    // Some field is missing or split (a comma in an unquoted name), and
    // which one can't be told, so nothing of the line is used. Even empty
    // fields beyond position 25 are refused: a name split in two pushes
    // every later field one place on, and the last, usually empty, field
    // then looks like a harmless trailing comma.
    problem = "項目数が " + std::to_string(count) + " 個です（" +
              std::to_string(kFieldCount) + " 個必要です）";
  }
  if (!problem.empty()) {
    SetMalformed(lineNumber, std::move(problem));
    return;
  }
  // Fields a shorter line left untouched hold nothing of an earlier line:
  // count is exactly kFieldCount here, so every field was written.
}

}  // namespace pendra::tagimport
