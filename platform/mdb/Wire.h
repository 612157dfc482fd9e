// What the reading child sends its parent, frame by frame as it reads: the
// format, each table's design, its rows in batches, and the end (or the
// error that ended the reading). Neither side ever holds more than a frame
// of it, so reading a table costs memory for a batch of rows, not for the
// table.
//
// A frame: its length (4 bytes, little-endian, counting what follows), a
// kind byte, and its content:
//   'D'  the format name
//   'T'  a table's design; its rows follow
//   'R'  rows of the last table: each its values, then its place (4 bytes)
//   'Z'  the end: how many tables were sent
//   'E'  the error that ended the reading: its number and description
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "AccessFile.h"
#include "ConfinedChild.h"
#include "MdbReader.h"
#include "core/PlatformError.h"

namespace pendra::mdb::detail {

class Writer;

// The child's side: the rows sent in frames of about 64 KiB as they are read.
class DatabaseEncoder final : public RowSink {
 public:
  explicit DatabaseEncoder(Send send);
  ~DatabaseEncoder() override;
  void Begin(const std::string& format) override;
  void Table(const AccessTable& design) override;
  void Row(const AccessRow& row, uint32_t place) override;
  void Finish();
  // The reading failed: the rows not yet sent are dropped and the error is
  // sent (the parent drops what it took before).
  void Fail(const PlatformError& error);

 private:
  void SendRows();
  Send send_;
  std::unique_ptr<Writer> rows_;
  int64_t tables_ = 0;
};

// The parent's side: bytes in as they come, designs and rows out to the
// receiver as soon as their frame is whole.
class DatabaseDecoder {
 public:
  explicit DatabaseDecoder(RowReceiver& receiver) : receiver_(receiver) {}
  // Raises the error that was sent, or 3049 for a frame that is not one.
  void Feed(std::string_view bytes);
  // Raises 3049 unless the end was received and nothing after it.
  void Finish() const;

 private:
  void Frame(std::string_view frame);
  RowReceiver& receiver_;
  std::string pending_;
  size_t columns_ = 0;
  bool table_ = false;
  bool ended_ = false;
  int64_t tables_ = 0;
};

// The whole of it at once, for the tests.
std::string Encode(const AccessDatabase& database);
std::string Encode(const PlatformError& error);
AccessDatabase Decode(const std::string& bytes);

// The receiver that keeps every table and row (AccessTable::rows and
// AccessTable::places).
class CollectedDatabase final : public RowReceiver {
 public:
  explicit CollectedDatabase(AccessDatabase& database) : database_(database) {}
  void Format(const std::string& format) override { database_.format = format; }
  void Table(const AccessTable& design) override;
  void Row(const AccessRow& row, uint32_t place, std::string_view encoded) override;

 private:
  AccessDatabase& database_;
};

}  // namespace pendra::mdb::detail
