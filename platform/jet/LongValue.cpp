#include "LongValue.h"

#include "DataPage.h"

namespace pendra::jet {

std::string ReadLongValue(const JetFile& file, std::string_view field) {
  constexpr size_t kHeader = 12;
  if (field.size() < kHeader) RaiseDamaged(file.path(), "長い値の見出しが短すぎます");
  const uint32_t header = Le32(field, 0);
  const size_t length = header & 0x3FFFFFFF;
  // No value is longer than the file that holds it.
  if (length > file.bytes().size()) RaiseDamaged(file.path(), "長い値の長さが正しくありません");
  if ((header & 0x80000000u) != 0) return std::string(field.substr(kHeader, length));
  uint32_t pointer = Le32(field, 4);
  if ((header & 0x40000000u) != 0) return std::string(RowAt(file, pointer).substr(0, length));
  std::string data;
  // The chain is bounded by the value's length: each row adds at least one byte.
  while (pointer != 0 && data.size() < length) {
    const std::string_view row = RowAt(file, pointer);
    if (row.size() <= 4) RaiseDamaged(file.path(), "長い値の行が短すぎます");
    data.append(row.substr(4));
    pointer = Le32(row, 0);
  }
  if (data.size() < length) RaiseDamaged(file.path(), "長い値が途中で終わっています");
  data.resize(length);
  return data;
}

}  // namespace pendra::jet
