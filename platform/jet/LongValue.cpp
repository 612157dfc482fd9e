#include "LongValue.h"

#include <set>

#include "DataPage.h"

namespace pendra::jet {

std::string ReadLongValue(const JetFile& file, std::string_view field) {
  std::set<uint32_t> rowsRead;
  return ReadLongValue(file, field, rowsRead);
}

std::string ReadLongValue(const JetFile& file, std::string_view field, std::set<uint32_t>& rowsRead) {
  constexpr size_t kHeader = 12;
  if (field.size() < kHeader) RaiseDamaged(file.path(), "長い値の見出しが短すぎます");
  const uint32_t header = Le32(field, 0);
  const size_t length = header & 0x3FFFFFFF;
  // No value is longer than the file that holds it.
  if (length > file.Size()) RaiseDamaged(file.path(), "長い値の長さが正しくありません");
  if ((header & 0x80000000u) != 0) {
    if (field.size() - kHeader < length) RaiseDamaged(file.path(), "行の中の長い値が記録された長さより短いです");
    return std::string(field.substr(kHeader, length));
  }
  uint32_t pointer = Le32(field, 4);
  if ((header & 0x40000000u) != 0) {
    if (!rowsRead.insert(pointer).second) RaiseDamaged(file.path(), "長い値の行を二つの値が使っています");
    const std::string_view row = RowAt(file, pointer);
    if (row.size() < length) RaiseDamaged(file.path(), "長い値の行が記録された長さより短いです");
    return std::string(row.substr(0, length));
  }
  // A chain of rows, each starting with the next one's pointer. A row seen
  // twice is a loop: the value would never end, however long it claims to be.
  std::string data;
  std::set<uint32_t> seen;
  while (data.size() < length) {
    if (pointer == 0) RaiseDamaged(file.path(), "長い値が途中で終わっています");
    if (!seen.insert(pointer).second) RaiseDamaged(file.path(), "長い値の行の鎖が輪になっています");
    if (!rowsRead.insert(pointer).second) RaiseDamaged(file.path(), "長い値の行を二つの値が使っています");
    const std::string_view row = RowAt(file, pointer);
    if (row.size() <= 4) RaiseDamaged(file.path(), "長い値の行が短すぎます");
    data.append(row.substr(4, length - data.size()));
    pointer = Le32(row, 0);
  }
  return data;
}

}  // namespace pendra::jet
