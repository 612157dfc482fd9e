// What the reading child sends its parent: the database read, or the error
// that ended the reading, as bytes.
#pragma once

#include <memory>
#include <string>

#include "AccessFile.h"
#include "MdbReader.h"
#include "core/PlatformError.h"

namespace pendra::mdb::detail {

class Writer;

// The reply written as the reading goes, a row at a time: the child never
// holds a table's values, only the bytes it sends (Encode's bytes).
class DatabaseEncoder final : public RowSink {
 public:
  DatabaseEncoder();
  ~DatabaseEncoder() override;
  void Begin(const std::string& format) override;
  void Table(const AccessTable& design) override;
  void Row(const AccessRow& row, uint32_t place) override;
  std::string Finish();

 private:
  void EndTable();
  std::unique_ptr<Writer> out_;
  size_t tablesAt_ = 0;
  size_t rowsAt_ = 0;
  int64_t tables_ = 0;
  int64_t rows_ = 0;
};

std::string Encode(const AccessDatabase& database);
std::string Encode(const PlatformError& error);
// Raises the error that was sent, or 3049 for bytes that are not whole.
// With keepEncoded, the rows stay in the bytes (AccessTable::encoded).
AccessDatabase Decode(const std::shared_ptr<const std::string>& bytes, bool keepEncoded = false);

}  // namespace pendra::mdb::detail
