#include "Wire.h"

#include <algorithm>
#include <cstring>

namespace pendra::mdb::detail {

namespace {

constexpr char kDatabase = 'D';
constexpr char kError = 'E';

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
  // An Int written before at `at`, now known.
  void Patch(size_t at, int64_t v) { std::memcpy(out_.data() + at, &v, sizeof v); }
  std::string Take() { return std::move(out_); }

 private:
  void Raw(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }
  std::string out_;
};

namespace {

class Reader {
 public:
  explicit Reader(const std::string& in, size_t at = 0) : in_(in), at_(at) {}
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
    std::string s = in_.substr(at_, static_cast<size_t>(n));
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
  const std::string& in_;
  size_t at_ = 0;
};

}  // namespace

DatabaseEncoder::DatabaseEncoder() : out_(std::make_unique<Writer>()) {}
DatabaseEncoder::~DatabaseEncoder() = default;

void DatabaseEncoder::Begin(const std::string& format) {
  Writer& w = *out_;
  w.Byte(kDatabase);
  w.Text(format);
  tablesAt_ = w.Size();
  w.Int(0);
}

void DatabaseEncoder::Table(const AccessTable& table) {
  EndTable();
  Writer& w = *out_;
  ++tables_;
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
  rowsAt_ = w.Size();
  rows_ = 0;
  w.Int(0);
}

// A row: its values, then where it lies.
void DatabaseEncoder::Row(const AccessRow& row, uint32_t place) {
  ++rows_;
  for (const auto& v : row) out_->Value(v);
  out_->U32(place);
}

void DatabaseEncoder::EndTable() {
  if (tables_ > 0) out_->Patch(rowsAt_, rows_);
}

std::string DatabaseEncoder::Finish() {
  EndTable();
  out_->Patch(tablesAt_, tables_);
  return out_->Take();
}

std::string Encode(const AccessDatabase& database) {
  DatabaseEncoder encoder;
  encoder.Begin(database.format);
  for (const auto& table : database.tables) {
    encoder.Table(table);
    for (size_t r = 0; r < table.rows.size(); ++r) encoder.Row(table.rows[r], r < table.places.size() ? table.places[r] : 0);
  }
  return encoder.Finish();
}

std::string Encode(const PlatformError& error) {
  Writer w;
  w.Byte(kError);
  w.Int(error.Number());
  w.Text(error.Description());
  return w.Take();
}

}  // namespace pendra::mdb::detail

namespace pendra::mdb {

struct EncodedRowsBuilder {
  static void Start(EncodedRows& rows, const std::shared_ptr<const std::string>& bytes, size_t columns, size_t count) {
    rows.bytes_ = bytes;
    rows.columns_ = columns;
    rows.starts_.reserve(count);
  }
  static void Add(EncodedRows& rows, size_t start) { rows.starts_.push_back(start); }
};

AccessRow EncodedRows::Row(size_t index) const {
  detail::Reader r(*bytes_, starts_.at(index));
  AccessRow row;
  row.reserve(columns_);
  for (size_t c = 0; c < columns_; ++c) row.push_back(r.Value());
  return row;
}

}  // namespace pendra::mdb

namespace pendra::mdb::detail {

AccessDatabase Decode(const std::shared_ptr<const std::string>& shared, bool keepEncoded) {
  const std::string& bytes = *shared;
  Reader r(bytes);
  const uint8_t kind = r.Byte();
  if (kind == kError) {
    const long number = static_cast<long>(r.Int());
    throw PlatformError(number, r.Text());
  }
  if (kind != kDatabase) Raise(3049, "Access ファイルの読み取りが途中で終わりました。");
  AccessDatabase database;
  database.format = r.Text();
  const int64_t tables = r.Int();
  for (int64_t t = 0; t < tables; ++t) {
    AccessTable table;
    table.name = r.Text();
    table.recordedRows = static_cast<long>(r.Int());
    const int64_t columns = r.Int();
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
    for (int64_t i = 0; i < indexes; ++i) {
      AccessIndex index;
      index.name = r.Text();
      index.primaryKey = r.Byte() != 0;
      index.unique = r.Byte() != 0;
      const int64_t keys = r.Int();
      for (int64_t k = 0; k < keys; ++k) {
        const int64_t column = r.Int();
        if (column < 0 || column >= columns) Raise(3049, "Access ファイルの読み取りが途中で終わりました。");
        index.columns.push_back(static_cast<int>(column));
        index.descending.push_back(static_cast<char>(r.Byte() != 0));
      }
      table.indexes.push_back(std::move(index));
    }
    const int64_t rows = r.Int();
    // A value takes a byte at least: no more rows than bytes are reserved for.
    const size_t reserved = static_cast<size_t>(std::clamp<int64_t>(rows, 0, static_cast<int64_t>(bytes.size())));
    if (keepEncoded) {
      EncodedRowsBuilder::Start(table.encoded, shared, table.columns.size(), reserved);
      table.places.reserve(reserved);
      for (int64_t i = 0; i < rows; ++i) {
        EncodedRowsBuilder::Add(table.encoded, r.At());
        for (size_t c = 0; c < table.columns.size(); ++c) r.Skip();
        table.places.push_back(r.U32());
      }
      database.tables.push_back(std::move(table));
      continue;
    }
    table.rows.reserve(reserved);
    table.places.reserve(reserved);
    for (int64_t i = 0; i < rows; ++i) {
      AccessRow row;
      row.reserve(table.columns.size());
      for (size_t c = 0; c < table.columns.size(); ++c) row.push_back(r.Value());
      table.rows.push_back(std::move(row));
      table.places.push_back(r.U32());
    }
    database.tables.push_back(std::move(table));
  }
  if (!r.AtEnd()) Raise(3049, "Access ファイルの読み取りが途中で終わりました。");
  return database;
}

}  // namespace pendra::mdb::detail
