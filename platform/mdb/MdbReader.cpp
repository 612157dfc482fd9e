#include "MdbReader.h"

// libmdb's header wraps <glib.h> inside extern "C", which glib's C++
// templates do not allow: glib comes first, on its own.
#include <glib.h>
#include <mdbtools.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "TextDecoding.h"
#include "core/AsciiText.h"
#include "core/PlatformError.h"

namespace pendra::mdb::detail {

namespace {

constexpr long kDamaged = 3049;

[[noreturn]] void Damaged(const std::string& what) {
  Raise(kDamaged, "データベース '" + what + "' を開けません。ファイルが破損している可能性があります。");
}

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const unsigned char* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }
uint64_t U64(const unsigned char* p) { return U32(p) | static_cast<uint64_t>(U32(p + 4)) << 32; }

template <typename T>
T Bits(uint64_t bits) {
  T value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string FormatName(guint32 version) {
  switch (version) {
    case MDB_VER_JET3: return "Jet 3";
    case MDB_VER_JET4: return "Jet 4";
    case MDB_VER_ACCDB_2007: return "ACE 12";
    case MDB_VER_ACCDB_2010: return "ACE 14";
    case MDB_VER_ACCDB_2013: return "ACE 15";
    case MDB_VER_ACCDB_2016: return "ACE 16";
    case MDB_VER_ACCDB_2019: return "ACE 17";
    default: return "Jet/ACE " + std::to_string(version);
  }
}

// A Decimal column's 17 bytes: a sign byte, then the 128-bit magnitude as
// four 32-bit words, most significant first, each little-endian.
// GCC and clang both have a 128-bit integer; __extension__ says we mean it.
__extension__ typedef unsigned __int128 Uint128;

std::string DecimalText(const unsigned char* p, int scale) {
  Uint128 magnitude = 0;
  for (std::ptrdiff_t word = 0; word < 4; ++word) magnitude = magnitude << 32 | U32(p + 1 + 4 * word);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (scale > 0) {
    if (static_cast<int>(digits.size()) <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    digits.insert(digits.size() - scale, ".");
    while (digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  const bool negative = (p[0] & 0x80) != 0 && digits != "0";
  return negative ? "-" + digits : digits;
}

std::string GuidText(const unsigned char* p) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", U32(p), U16(p + 4), U16(p + 6),
                p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
  return text;
}

// A Memo or OLE value: 12 bytes that say where the data lies (inline after
// them, in one row of a long-value page, or in a chain of such rows), then
// the data. The whole length is read, however long; a chain stops at that
// length, and a row met twice in it is a loop, so the work is bounded by the
// length and by the rows the file has.
std::string LongValue(MdbHandle* mdb, const unsigned char* field, int size, const std::string& file) {
  if (size < MDB_MEMO_OVERHEAD) Damaged(file);
  const uint32_t header = U32(field);
  const uint32_t length = header & 0x3FFFFFFF;
  std::string data;
  if (header & 0x80000000) {
    data.assign(reinterpret_cast<const char*>(field + MDB_MEMO_OVERHEAD), static_cast<size_t>(size - MDB_MEMO_OVERHEAD));
  } else {
    int32_t pageRow = static_cast<int32_t>(U32(field + 4));
    const bool chained = (header & 0x40000000) == 0;
    std::set<int32_t> seen;
    while (pageRow != 0 && data.size() < length) {
      void* page = nullptr;
      int offset = 0;
      size_t rowLength = 0;
      if (!seen.insert(pageRow).second || mdb_find_pg_row(mdb, pageRow, &page, &offset, &rowLength) != 0) Damaged(file);
      const auto* row = static_cast<const unsigned char*>(page) + offset;
      if (!chained) {
        data.append(reinterpret_cast<const char*>(row), rowLength);
        break;
      }
      if (rowLength < 4) Damaged(file);
      pageRow = static_cast<int32_t>(U32(row));
      data.append(reinterpret_cast<const char*>(row + 4), rowLength - 4);
    }
  }
  if (data.size() < length) Damaged(file);
  data.resize(length);
  return data;
}

struct TableDef {
  MdbTableDef* def;
  ~TableDef() { mdb_free_tabledef(def); }
};

bool PropertyIsYes(const MdbColumn* column, const char* name, bool otherwise) {
  const char* value = mdb_col_get_prop(column, name);
  if (!value) return otherwise;
  return std::strcmp(value, "yes") == 0 || std::strcmp(value, "1") == 0 || std::strcmp(value, "-1") == 0 ||
         std::strcmp(value, "True") == 0 || std::strcmp(value, "true") == 0;
}

class Reader {
 public:
  Reader(MdbHandle* mdb, std::string path, RowSink* sink)
      : mdb_(mdb), path_(std::move(path)), text_(mdb->f->jet_version == MDB_VER_JET3, mdb->f->code_page), sink_(sink) {}

  AccessTable Design(MdbCatalogEntry* entry, MdbTableDef* def) {
    AccessTable table;
    table.name = entry->object_name;
    table.recordedRows = def->num_rows;
    for (unsigned i = 0; i < def->num_cols; ++i) {
      const auto* column = static_cast<MdbColumn*>(g_ptr_array_index(def->columns, i));
      AccessColumn c;
      c.name = column->name;
      c.type = column->col_type;
      c.size = column->col_type == MDB_TEXT && mdb_->f->jet_version != MDB_VER_JET3 ? column->col_size / 2 : column->col_size;
      c.required = PropertyIsYes(column, "Required", false);
      c.allowZeroLength = PropertyIsYes(column, "AllowZeroLength", true);
      // A calculated field stores its value behind a header of its own.
      c.unreadable = !Known(column->col_type) || mdb_col_get_prop(column, "Expression") != nullptr;
      c.autoNumber = column->is_long_auto != 0;
      if (const char* value = mdb_col_get_prop(column, "DefaultValue")) c.defaultValue = value;
      table.columns.push_back(std::move(c));
    }
    table.indexes = Indexes(def);
    return table;
  }

  // The table's indexes as its definition lists them. A foreign-key
  // reference (index type 2) is the other side of a relationship, not an
  // index of this table's own.
  static std::vector<AccessIndex> Indexes(MdbTableDef* def) {
    std::vector<AccessIndex> indexes;
    if (!def->indices) return indexes;
    for (unsigned i = 0; i < def->indices->len; ++i) {
      const auto* index = static_cast<MdbIndex*>(g_ptr_array_index(def->indices, i));
      if (index->index_type == 2) continue;
      AccessIndex ours;
      ours.name = index->name;
      ours.primaryKey = index->index_type == 1;
      ours.unique = ours.primaryKey || (index->flags & MDB_IDX_UNIQUE) != 0;
      for (unsigned k = 0; k < index->num_keys && k < MDB_MAX_IDX_COLS; ++k) {
        // The key names a column by its number, which is not its position
        // when the design has deleted columns.
        const int number = index->key_col_num[k] - 1;
        for (unsigned c = 0; c < def->num_cols; ++c) {
          if (static_cast<MdbColumn*>(g_ptr_array_index(def->columns, c))->col_num != number) continue;
          ours.columns.push_back(static_cast<int>(c));
          ours.descending.push_back(static_cast<char>(index->key_col_order[k] == MDB_DESC));
        }
      }
      if (!ours.columns.empty()) indexes.push_back(std::move(ours));
    }
    return indexes;
  }

  // libmdb takes the catalogue for whole when its rows end early (a file
  // cut short reads as one without tables): the catalogue table is walked
  // like any other, so that it must yield the rows it records.
  void CheckCatalogue() {
    MdbCatalogEntry catalogue{};
    catalogue.mdb = mdb_;
    catalogue.object_type = MDB_TABLE;
    catalogue.table_pg = kCataloguePage;
    std::snprintf(catalogue.object_name, sizeof catalogue.object_name, "%s", "MSysObjects");
    const TableDef table{mdb_read_table(&catalogue)};
    if (!table.def || !mdb_read_columns(table.def)) Damaged(path_);
    AccessTable rows = Design(&catalogue, table.def);
    Rows(table.def, rows, false);
  }

  // Every row of every data page of the table, in page order. libmdb's own
  // scan reads the row-slot flags the wrong way round (it returns deleted
  // rows and skips rows that moved to another page), so the pages are
  // walked here: a deleted slot is passed over, a moved row is followed to
  // where it lies now.
  void Rows(MdbTableDef* def, AccessTable& table, bool keep) {
    long read = 0;
    auto take = [&](AccessRow row, uint32_t place) {
      ++read;
      if (!keep) return;
      if (sink_) {
        sink_->Row(row, place);
      } else {
        table.rows.push_back(std::move(row));
        table.places.push_back(place);
      }
    };
    if (def->num_cols > MDB_MAX_COLS) DamagedAt(table, "列の数 " + std::to_string(def->num_cols));
    mdb_rewind_table(def);
    while (mdb_read_next_dpg(def)) {
      // The page being walked. libmdb's own page counter is not it: when
      // the usage map is of a kind libmdb does not know, it already points
      // at the page after.
      const guint32 walked = mdb_->cur_pg;
      const int slots = mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset);
      for (int slot = 0; slot < slots; ++slot) {
        const std::string place = std::to_string(read + 1) + " 行目";
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb_, slot, &start, &size) != 0) DamagedAt(table, place);
        if (start & kDeletedFlag) continue;
        if (start & kMovedFlag) {
          // One byte of row number, then three of page number.
          const unsigned char* pointer = mdb_->pg_buf + (start & kOffsetMask);
          const uint32_t row = pointer[0];
          const uint32_t page = U32(pointer) >> 8;
          if (size < 4 || mdb_read_pg(mdb_, page) != mdb_->fmt->pg_size ||
              mdb_find_row(mdb_, static_cast<int>(row), &start, &size) != 0)
            DamagedAt(table, place + "、移動先 " + std::to_string(page) + "/" + std::to_string(row));
          take(Row(def, start & kOffsetMask, size, table, read), walked << 8 | static_cast<uint32_t>(slot));
          if (mdb_read_pg(mdb_, walked) != mdb_->fmt->pg_size) DamagedAt(table, place);
        } else {
          take(Row(def, start & kOffsetMask, size, table, read), walked << 8 | static_cast<uint32_t>(slot));
        }
      }
    }
    if (read != table.recordedRows) {
      DamagedAt(table, std::to_string(read) + " 行しか読めません (記録上は " +
                           std::to_string(table.recordedRows) + " 行)");
    }
  }

 private:
  static constexpr unsigned long kCataloguePage = 2;
  static constexpr int kOffsetMask = 0x1FFF;
  static constexpr int kDeletedFlag = 0x8000;
  static constexpr int kMovedFlag = 0x4000;

  [[noreturn]] void DamagedAt(const AccessTable& table, const std::string& where) {
    Raise(kDamaged, "データベース '" + path_ + "' のテーブル '" + table.name + "' を読めません。ファイルが破損している可能性があります。" +
                        (where.empty() ? "" : " (" + where + ")"));
  }

  // The parsed fields come fixed-length columns first; each names its
  // column, and deleted columns have none: the row is laid out by the
  // table's columns.
  //
  // A row libmdb cannot take apart is damage, never a row of Nulls or of
  // what the previous row left behind: the row is named and the reading
  // ends. So is a field that points outside its row.
  AccessRow Row(MdbTableDef* def, int start, size_t size, const AccessTable& table, long before) {
    const std::string place = std::to_string(before + 1) + " 行目";
    // An empty row would make libmdb take the bytes before it for its end.
    if (size == 0 || start <= 0 || static_cast<size_t>(start) + size > static_cast<size_t>(mdb_->fmt->pg_size))
      DamagedAt(table, place + " (行の長さ " + std::to_string(size) + ")");
    MdbField fields[MDB_MAX_COLS]{};
    if (mdb_crack_row(def, start, size, fields) < 0) DamagedAt(table, place + " (行を列に分けられません)");
    AccessRow row(def->num_cols, Variant::Null());
    for (unsigned i = 0; i < def->num_cols; ++i) {
      const int index = fields[i].colnum;
      if (index < 0 || index >= static_cast<int>(def->num_cols)) DamagedAt(table, place + "の列の並び");
      if (!fields[i].is_null && (fields[i].siz < 0 || fields[i].start < start ||
                                 static_cast<size_t>(fields[i].start) + static_cast<size_t>(fields[i].siz) >
                                     static_cast<size_t>(start) + size))
        DamagedAt(table, place + "の列の位置");
      const auto* column = static_cast<MdbColumn*>(g_ptr_array_index(def->columns, index));
      try {
        row[static_cast<size_t>(index)] = Value(*column, fields[i], table.columns[static_cast<size_t>(index)]);
      } catch (const PlatformError&) {
        DamagedAt(table, place + "の列 '" + column->name + "'");
      }
    }
    return row;
  }

  static bool Known(int type) {
    switch (type) {
      case MDB_BOOL: case MDB_BYTE: case MDB_INT: case MDB_LONGINT: case MDB_MONEY: case MDB_FLOAT:
      case MDB_DOUBLE: case MDB_DATETIME: case MDB_BINARY: case MDB_TEXT: case MDB_OLE: case MDB_MEMO:
      case MDB_REPID: case MDB_NUMERIC:
        return true;
      default:
        return false;
    }
  }

  Variant Value(const MdbColumn& column, const MdbField& field, const AccessColumn& design) {
    // A Yes/No value is the null bit itself: set means Yes.
    if (column.col_type == MDB_BOOL) return Variant(!field.is_null);
    if (field.is_null || design.unreadable) return Variant::Null();
    const auto* p = static_cast<const unsigned char*>(field.value);
    const int size = field.siz;
    auto need = [&](int bytes) {
      if (size < bytes) Damaged(path_);
    };
    switch (column.col_type) {
      case MDB_BYTE: need(1); return Variant::Byte(p[0]);
      case MDB_INT: need(2); return Variant(static_cast<int16_t>(U16(p)));
      case MDB_LONGINT: need(4); return Variant(static_cast<int32_t>(U32(p)));
      case MDB_MONEY: need(8); return Variant::Currency(static_cast<int64_t>(U64(p)));
      case MDB_FLOAT: need(4); return Variant::Single(Bits<float>(U32(p)));
      case MDB_DOUBLE: need(8); return Variant(Bits<double>(U64(p)));
      case MDB_DATETIME: need(8); return Variant::Date(Bits<double>(U64(p)));
      case MDB_REPID: need(16); return Variant(GuidText(p));
      // libmdb reads a Decimal's precision into col_scale and its scale
      // into col_prec.
      case MDB_NUMERIC: need(17); return Variant(DecimalText(p, column.col_prec));
      case MDB_BINARY: return Variant(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(size)));
      case MDB_TEXT: return Text(p, size);
      case MDB_MEMO: return Text(LongValue(mdb_, p, size, path_));
      case MDB_OLE: return Variant(LongValue(mdb_, p, size, path_));
      default: return Variant::Null();
    }
  }

  Variant Text(const unsigned char* p, int size) {
    return Text(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(size)));
  }
  Variant Text(const std::string& stored) {
    std::string text;
    if (!text_.Decode(stored, text)) Damaged(path_);
    return Variant(std::move(text));
  }

  MdbHandle* mdb_;
  std::string path_;
  TextDecoding text_;
  RowSink* sink_;
};

struct Handle {
  MdbHandle* mdb;
  ~Handle() { mdb_close(mdb); }
};

bool RowsAskedFor(const ReadOptions& options, const std::string& table) {
  return !options.rowsOf || std::any_of(options.rowsOf->begin(), options.rowsOf->end(),
                                        [&](const std::string& name) { return EqualIgnoringAsciiCase(name, table); });
}

}  // namespace

AccessDatabase ReadInThisProcess(const std::string& path, const ReadOptions& options, RowSink* sink) {
  MdbHandle* opened = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (!opened) Raise(err::kUnrecognizedFormat, "データベース形式 '" + path + "' を認識できません。");
  const Handle handle{opened};
  MdbHandle* mdb = handle.mdb;
  if (!mdb_read_catalog(mdb, MDB_TABLE)) Damaged(path);

  AccessDatabase database;
  database.format = FormatName(mdb->f->jet_version);
  if (sink) sink->Begin(database.format);
  Reader reader(mdb, path, sink);
  reader.CheckCatalogue();
  for (unsigned i = 0; i < mdb->num_catalog; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (entry->object_type != MDB_TABLE || mdb_is_system_table(entry)) continue;
    // One table open at a time on a handle.
    const TableDef table{mdb_read_table(entry)};
    if (!table.def || !mdb_read_columns(table.def)) Damaged(path);
    mdb_read_indices(table.def);   // NULL for a table without indexes
    database.tables.push_back(reader.Design(entry, table.def));
    if (sink) sink->Table(database.tables.back());
    // Every table is read through, so damage anywhere in the file shows;
    // the rows of the tables asked for are kept.
    reader.Rows(table.def, database.tables.back(), RowsAskedFor(options, database.tables.back().name));
  }
  return database;
}

}  // namespace pendra::mdb::detail
