#include "Wire.h"

#include <algorithm>
#include <cstring>

namespace pendra::mdb::detail {

namespace {

constexpr char kFormat = 'D';
constexpr char kTable = 'T';
constexpr char kRows = 'R';
constexpr char kEnd = 'Z';
constexpr char kError = 'E';
// Rows are sent when a batch reaches this size.
constexpr size_t kBatch = size_t{64} << 10;

}  // namespace

class Writer {
 public:
  void Byte(uint8_t v) { out_ += static_cast<char>(v); }
  void Int(int64_t v) { Raw(&v, sizeof v); }
  void U32(uint32_t v) { Raw(&v, sizeof v); }
  void Text(const std::string& s) {
    Int(static_cast<int64_t>(s.size()));
    out_ += s;
  }
  void Value(const Variant& v) {
    Byte(static_cast<uint8_t>(v.Type()));
    switch (v.Type()) {
      case VarType::Boolean: Byte(v.BooleanValue()); break;
      case VarType::Byte: case VarType::Integer: case VarType::Long: Int(v.IntegerValue()); break;
      case VarType::Currency: Int(v.CurrencyScaled()); break;
      case VarType::Single: {
        const float f = static_cast<float>(v.DoubleValue());
        Raw(&f, sizeof f);
        break;
      }
      case VarType::Double: case VarType::Date: {
        const double d = v.DoubleValue();
        Raw(&d, sizeof d);
        break;
      }
      case VarType::String: Text(v.StringValue()); break;
      default: break;
    }
  }
  size_t Size() const { return out_.size(); }
  // A frame of the given kind, its length written when it ends.
  void Begin(char kind) {
    U32(0);
    Byte(static_cast<uint8_t>(kind));
  }
  std::string_view End() {
    const auto length = static_cast<uint32_t>(out_.size() - sizeof(uint32_t));
    std::memcpy(out_.data(), &length, sizeof length);
    return out_;
  }
  void Clear() { out_.clear(); }
  std::string Take() { return std::move(out_); }

 private:
  void Raw(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }
  std::string out_;
};

namespace {

class Reader {
 public:
  explicit Reader(std::string_view in, size_t at = 0) : in_(in), at_(at) {}
  uint8_t Byte() {
    Need(1);
    return static_cast<uint8_t>(in_[at_++]);
  }
  int64_t Int() {
    int64_t v;
    Raw(&v, sizeof v);
    return v;
  }
  uint32_t U32() {
    uint32_t v;
    Raw(&v, sizeof v);
    return v;
  }
  std::string Text() {
    const int64_t n = Int();
    if (n < 0) Broken();
    Need(static_cast<size_t>(n));
    std::string s(in_.substr(at_, static_cast<size_t>(n)));
    at_ += static_cast<size_t>(n);
    return s;
  }
  Variant Value() {
    switch (static_cast<VarType>(Byte())) {
      case VarType::Null: return Variant::Null();
      case VarType::Boolean: return Variant(Byte() != 0);
      case VarType::Byte: return Variant::Byte(static_cast<uint8_t>(Int()));
      case VarType::Integer: return Variant(static_cast<int16_t>(Int()));
      case VarType::Long: return Variant(static_cast<int32_t>(Int()));
      case VarType::Currency: return Variant::Currency(Int());
      case VarType::Single: {
        float f;
        Raw(&f, sizeof f);
        return Variant::Single(f);
      }
      case VarType::Double: {
        double d;
        Raw(&d, sizeof d);
        return Variant(d);
      }
      case VarType::Date: {
        double d;
        Raw(&d, sizeof d);
        return Variant::Date(d);
      }
      case VarType::String: return Variant(Text());
      default: Broken();
    }
  }
  // Passes over a value as Value() would read it, refusing what it refuses.
  void Skip() {
    switch (static_cast<VarType>(Byte())) {
      case VarType::Null: return;
      case VarType::Boolean: Pass(1); return;
      case VarType::Byte: case VarType::Integer: case VarType::Long: case VarType::Currency: Pass(sizeof(int64_t)); return;
      case VarType::Single: Pass(sizeof(float)); return;
      case VarType::Double: case VarType::Date: Pass(sizeof(double)); return;
      case VarType::String: {
        const int64_t n = Int();
        if (n < 0) Broken();
        Pass(static_cast<size_t>(n));
        return;
      }
      default: Broken();
    }
  }
  size_t At() const { return at_; }
  bool AtEnd() const { return at_ == in_.size(); }

 private:
  [[noreturn]] static void Broken() { Raise(3049, "Access ファイルの読み取りが途中で終わりました。"); }
  void Need(size_t n) {
    if (in_.size() - at_ < n) Broken();
  }
  void Pass(size_t n) {
    Need(n);
    at_ += n;
  }
  void Raw(void* p, size_t n) {
    Need(n);
    std::memcpy(p, in_.data() + at_, n);
    at_ += n;
  }
  std::string_view in_;
  size_t at_ = 0;
};

}  // namespace

DatabaseEncoder::DatabaseEncoder(Send send) : send_(std::move(send)), rows_(std::make_unique<Writer>()) {}
DatabaseEncoder::~DatabaseEncoder() = default;

void DatabaseEncoder::Begin(const std::string& format) {
  Writer w;
  w.Begin(kFormat);
  w.Text(format);
  send_(w.End());
}

void DatabaseEncoder::Table(const AccessTable& table) {
  SendRows();
  ++tables_;
  Writer w;
  w.Begin(kTable);
  w.Text(table.name);
  w.Int(table.recordedRows);
  w.Int(static_cast<int64_t>(table.columns.size()));
  for (const auto& c : table.columns) {
    w.Text(c.name);
    w.Int(c.type);
    w.Int(c.size);
    w.Byte(c.required);
    w.Byte(c.allowZeroLength);
    w.Byte(c.unreadable);
    w.Byte(c.autoNumber);
    w.Text(c.defaultValue);
  }
  w.Int(static_cast<int64_t>(table.indexes.size()));
  for (const auto& index : table.indexes) {
    w.Text(index.name);
    w.Byte(index.primaryKey);
    w.Byte(index.unique);
    w.Int(static_cast<int64_t>(index.columns.size()));
    for (size_t k = 0; k < index.columns.size(); ++k) {
      w.Int(index.columns[k]);
      w.Byte(index.descending[k]);
    }
  }
  send_(w.End());
}

// A row: its values, then where it lies.
void DatabaseEncoder::Row(const AccessRow& row, uint32_t place) {
  if (rows_->Size() == 0) rows_->Begin(kRows);
  for (const auto& v : row) rows_->Value(v);
  rows_->U32(place);
  if (rows_->Size() >= kBatch) SendRows();
}

void DatabaseEncoder::SendRows() {
  if (rows_->Size() == 0) return;
  send_(rows_->End());
  rows_->Clear();
}

void DatabaseEncoder::Finish() {
  SendRows();
  Writer w;
  w.Begin(kEnd);
  w.Int(tables_);
  send_(w.End());
}

void DatabaseEncoder::Fail(const PlatformError& error) {
  rows_->Clear();
  send_(Encode(error));
}

std::string Encode(const AccessDatabase& database) {
  std::string out;
  DatabaseEncoder encoder([&](std::string_view bytes) { out.append(bytes); });
  encoder.Begin(database.format);
  for (const auto& table : database.tables) {
    encoder.Table(table);
    for (size_t r = 0; r < table.rows.size(); ++r) encoder.Row(table.rows[r], r < table.places.size() ? table.places[r] : 0);
  }
  encoder.Finish();
  return out;
}

std::string Encode(const PlatformError& error) {
  Writer w;
  w.Begin(kError);
  w.Int(error.Number());
  w.Text(error.Description());
  w.End();
  return w.Take();
}

namespace {

[[noreturn]] void Broken() { Raise(3049, "Access ファイルの読み取りが途中で終わりました。"); }

AccessTable ReadDesign(Reader& r) {
  AccessTable table;
  table.name = r.Text();
  table.recordedRows = static_cast<long>(r.Int());
  const int64_t columns = r.Int();
  if (columns < 0) Broken();
  for (int64_t c = 0; c < columns; ++c) {
    AccessColumn column;
    column.name = r.Text();
    column.type = static_cast<int>(r.Int());
    column.size = static_cast<int>(r.Int());
    column.required = r.Byte() != 0;
    column.allowZeroLength = r.Byte() != 0;
    column.unreadable = r.Byte() != 0;
    column.autoNumber = r.Byte() != 0;
    column.defaultValue = r.Text();
    table.columns.push_back(std::move(column));
  }
  const int64_t indexes = r.Int();
  if (indexes < 0) Broken();
  for (int64_t i = 0; i < indexes; ++i) {
    AccessIndex index;
    index.name = r.Text();
    index.primaryKey = r.Byte() != 0;
    index.unique = r.Byte() != 0;
    const int64_t keys = r.Int();
    if (keys < 0) Broken();
    for (int64_t k = 0; k < keys; ++k) {
      const int64_t column = r.Int();
      if (column < 0 || column >= columns) Broken();
      index.columns.push_back(static_cast<int>(column));
      index.descending.push_back(static_cast<char>(r.Byte() != 0));
    }
    table.indexes.push_back(std::move(index));
  }
  return table;
}

}  // namespace

void DatabaseDecoder::Feed(std::string_view bytes) {
  pending_.append(bytes);
  size_t at = 0;
  while (pending_.size() - at >= sizeof(uint32_t)) {
    uint32_t length;
    std::memcpy(&length, pending_.data() + at, sizeof length);
    if (pending_.size() - at - sizeof length < length) break;
    Frame(std::string_view(pending_).substr(at + sizeof length, length));
    at += sizeof length + length;
  }
  pending_.erase(0, at);
}

void DatabaseDecoder::Frame(std::string_view frame) {
  Reader r(frame);
  const char kind = static_cast<char>(r.Byte());
  if (ended_) Broken();
  switch (kind) {
    case kError: {
      const long number = static_cast<long>(r.Int());
      throw PlatformError(number, r.Text());
    }
    case kFormat: receiver_.Format(r.Text()); break;
    case kTable: {
      const AccessTable design = ReadDesign(r);
      columns_ = design.columns.size();
      table_ = true;
      ++tables_;
      receiver_.Table(design);
      break;
    }
    case kRows: {
      if (!table_) Broken();
      AccessRow row;
      while (!r.AtEnd()) {
        const size_t start = r.At();
        row.clear();
        for (size_t c = 0; c < columns_; ++c) row.push_back(r.Value());
        const std::string_view encoded = frame.substr(start, r.At() - start);
        receiver_.Row(row, r.U32(), encoded);
      }
      return;
    }
    case kEnd:
      if (r.Int() != tables_) Broken();
      ended_ = true;
      break;
    default: Broken();
  }
  if (!r.AtEnd()) Broken();
}

void DatabaseDecoder::Finish() const {
  if (!ended_ || !pending_.empty()) Broken();
}

AccessDatabase Decode(const std::string& bytes) {
  AccessDatabase database;
  CollectedDatabase collected(database);
  DatabaseDecoder decoder(collected);
  decoder.Feed(bytes);
  decoder.Finish();
  return database;
}

void CollectedDatabase::Table(const AccessTable& design) { database_.tables.push_back(design); }

void CollectedDatabase::Row(const AccessRow& row, uint32_t place, std::string_view) {
  AccessTable& table = database_.tables.back();
  table.rows.push_back(row);
  table.places.push_back(place);
}

}  // namespace pendra::mdb::detail

namespace pendra::mdb {

void EncodedRows::Append(std::string_view encoded) {
  starts_.push_back(bytes_.size());
  bytes_.append(encoded);
}

AccessRow EncodedRows::Row(size_t index) const {
  detail::Reader r(bytes_, starts_.at(index));
  AccessRow row;
  row.reserve(columns_);
  for (size_t c = 0; c < columns_; ++c) row.push_back(r.Value());
  return row;
}

}  // namespace pendra::mdb
