#include "Wire.h"

#include <cstring>

namespace pendra::mdb::detail {

namespace {

constexpr char kDatabase = 'D';
constexpr char kError = 'E';

class Writer {
 public:
  void Byte(uint8_t v) { out_ += static_cast<char>(v); }
  void Int(int64_t v) { Raw(&v, sizeof v); }
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
  std::string Take() { return std::move(out_); }

 private:
  void Raw(const void* p, size_t n) { out_.append(static_cast<const char*>(p), n); }
  std::string out_;
};

class Reader {
 public:
  explicit Reader(const std::string& in) : in_(in) {}
  uint8_t Byte() {
    Need(1);
    return static_cast<uint8_t>(in_[at_++]);
  }
  int64_t Int() {
    int64_t v;
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
  bool AtEnd() const { return at_ == in_.size(); }

 private:
  [[noreturn]] static void Broken() { Raise(3049, "Access ファイルの読み取りが途中で終わりました。"); }
  void Need(size_t n) {
    if (in_.size() - at_ < n) Broken();
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

std::string Encode(const AccessDatabase& database) {
  Writer w;
  w.Byte(kDatabase);
  w.Text(database.format);
  w.Int(static_cast<int64_t>(database.tables.size()));
  for (const auto& table : database.tables) {
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
    w.Int(static_cast<int64_t>(table.rows.size()));
    for (const auto& row : table.rows)
      for (const auto& v : row) w.Value(v);
  }
  return w.Take();
}

std::string Encode(const PlatformError& error) {
  Writer w;
  w.Byte(kError);
  w.Int(error.Number());
  w.Text(error.Description());
  return w.Take();
}

AccessDatabase Decode(const std::string& bytes) {
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
    table.rows.reserve(static_cast<size_t>(rows));
    for (int64_t i = 0; i < rows; ++i) {
      AccessRow row;
      row.reserve(table.columns.size());
      for (size_t c = 0; c < table.columns.size(); ++c) row.push_back(r.Value());
      table.rows.push_back(std::move(row));
    }
    database.tables.push_back(std::move(table));
  }
  if (!r.AtEnd()) Raise(3049, "Access ファイルの読み取りが途中で終わりました。");
  return database;
}

}  // namespace pendra::mdb::detail
