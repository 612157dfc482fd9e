#include "AccessBacked.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "Connection.h"
#include "FieldType.h"
#include "PrivateCopyRows.h"
#include "access/AccessWriter.h"
#include "access/FolderLock.h"
#include "access/LockFile.h"
#include "core/AsciiText.h"
#include "core/PlatformError.h"
#include "jet/Catalog.h"
#include "jet/JetFile.h"
#include "jet/TableDefinition.h"
#include "mdb/AccessFile.h"

namespace pendra::dao::detail {

namespace {

using mdb::AccessColumn;
using mdb::AccessTable;

std::string SqlText(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// The layer's declared type for an Access column; empty for a type the
// layer stores as given (GUID, Decimal, binary ...).
std::string DeclaredType(const AccessColumn& column, bool autoNumber) {
  switch (static_cast<AccessType>(column.type)) {
    case AccessType::YesNo: return "YESNO";
    case AccessType::Byte: return "BYTE";
    case AccessType::Integer: return "SHORT";
    case AccessType::Long: return autoNumber ? "COUNTER" : "LONG";
    case AccessType::Currency: return "CURRENCY";
    case AccessType::Single: return "SINGLE";
    case AccessType::Double: return "DOUBLE";
    case AccessType::DateTime: return "DATETIME";
    case AccessType::Text: return "TEXT(" + std::to_string(column.size > 0 ? column.size : 255) + ")";
    case AccessType::Memo: return "LONGTEXT";
    default: return "";
  }
}

// A Default Value that is a literal (a number, a quoted text, True/False)
// or the clock (Now(), Date()) as an SQLite default; anything else (an
// expression) gives none, and the column starts Null as before.
std::string DefaultClause(const AccessColumn& column) {
  std::string value = column.defaultValue;
  while (!value.empty() && value.back() == ' ') value.pop_back();
  while (!value.empty() && value.front() == ' ') value.erase(0, 1);
  if (value.empty()) return "";
  const std::string folded = AsciiLowered(value);
  if (folded == "now()") return " DEFAULT (datetime('now', 'localtime'))";
  if (folded == "date()") return " DEFAULT (date('now', 'localtime') || ' 00:00:00')";
  if (folded == "true" || folded == "yes" || folded == "on") return " DEFAULT -1";
  if (folded == "false" || folded == "no" || folded == "off") return " DEFAULT 0";
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    std::string text;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
      if (value[i] == '"' && i + 2 < value.size() && value[i + 1] == '"') ++i;
      else if (value[i] == '"') return "";
      text += value[i];
    }
    return " DEFAULT " + SqlText(text);
  }
  char* end = nullptr;
  errno = 0;
  std::strtod(value.c_str(), &end);
  if (errno == 0 && end && *end == '\0' && value.find_first_not_of("+-0123456789.eE") == std::string::npos)
    return " DEFAULT " + value;
  return "";
}

// A table with Memo or OLE columns: its long values are written anew on
// every rewrite, so a row nobody changed is written from its values.
bool HasLongValues(const AccessTable& table) {
  for (const AccessColumn& column : table.columns)
    if (column.type == static_cast<int>(AccessType::Memo) || column.type == static_cast<int>(AccessType::Ole)) return true;
  return false;
}

std::string CreateTable(const AccessTable& table) {
  std::string sql = "CREATE TABLE " + Quote(table.name) + " (";
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const AccessColumn& column = table.columns[i];
    if (i) sql += ", ";
    sql += Quote(column.name);
    const std::string type = DeclaredType(column, column.autoNumber);
    if (!type.empty()) sql += " " + type;
    if (column.required) sql += " NOT NULL";
    const bool text = column.type == static_cast<int>(AccessType::Text) || column.type == static_cast<int>(AccessType::Memo);
    if (text && !column.allowZeroLength) sql += " CHECK (" + Quote(column.name) + " <> '')";
    sql += DefaultClause(column);
  }
  return sql + ")";
}

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string why = message ? message : "";
    sqlite3_free(message);
    Raise(err::kDiskIO, StandardDescription(err::kDiskIO) + " (" + why + ")");
  }
}

// A table's indexes in the private database, made after its rows: one
// sort instead of a tree kept while adding.
void CreateIndexes(sqlite3* db, const AccessTable& table) {
  for (const auto& index : table.indexes) {
    std::string sql = std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                      Quote(table.name + "." + index.name) + " ON " + Quote(table.name) + " (";
    for (size_t k = 0; k < index.columns.size(); ++k) {
      if (k) sql += ", ";
      sql += Quote(table.columns[static_cast<size_t>(index.columns[k])].name);
      if (index.descending[k]) sql += " DESC";
    }
    // Rows that break a uniqueness the file declares are the file's own
    // business: the index is then kept for speed only.
    if (sqlite3_exec(db, (sql + ")").c_str(), nullptr, nullptr, nullptr) != SQLITE_OK && index.unique)
      Exec(db, "CREATE INDEX " + Quote(table.name + "." + index.name) + " ON " + Quote(table.name) + " (" +
                   sql.substr(sql.find(" (") + 2) + ")");
  }
}

// The file's tables into the private database as the reading child sends
// them: each row is inserted as it comes, so the reading holds a batch of
// rows, not a table. What a row nobody changes is written back from is
// kept beside it (AccessSide::places, AccessSide::original).
class PrivateCopyLoader final : public mdb::RowReceiver {
 public:
  PrivateCopyLoader(sqlite3* db, AccessSide& side) : db_(db), side_(side) {}

  void Format(const std::string& format) override { side_.format = format; }

  void Table(const AccessTable& design) override {
    EndTable();
    design_ = design;
    Exec(db_, "DROP TABLE IF EXISTS " + Quote(design.name));
    Exec(db_, CreateTable(design));
    std::string insert = "INSERT INTO " + Quote(design.name) + " VALUES (";
    for (size_t i = 0; i < design.columns.size(); ++i) insert += i ? ", ?" : "?";
    insert_ = std::make_unique<Statement>(db_, insert + ")");
    original_ = nullptr;
    places_ = nullptr;
    if (HasLongValues(design)) original_ = &(side_.original[design.name] = mdb::EncodedRows(design.columns.size()));
    else places_ = &side_.places[design.name];
  }

  void Row(const mdb::AccessRow& row, uint32_t place, std::string_view encoded) override {
    for (size_t i = 0; i < row.size(); ++i) BindStored(insert_->get(), static_cast<int>(i) + 1, row[i]);
    insert_->Run(Operation::RowWrite);
    if (original_) original_->Append(encoded);
    else places_->push_back(place);
  }

  void EndTable() {
    if (!insert_) return;
    insert_.reset();
    CreateIndexes(db_, design_);
  }

 private:
  sqlite3* db_;
  AccessSide& side_;
  AccessTable design_;
  std::unique_ptr<Statement> insert_;
  mdb::EncodedRows* original_ = nullptr;
  std::vector<uint32_t>* places_ = nullptr;
};

// The largest file whose image is held a second time, beside the private
// copy, for the writer's read-ahead; a larger one's commit learns it all
// itself.
constexpr size_t kReadAheadLargest = size_t{32} << 20;

// The last AutoNumber each table records (its definition's counter), read
// from the file image; a file the writer cannot parse gives none, and its
// tables number from their rows as before.
std::map<std::string, int64_t> LastAutoNumbers(const std::string& path, std::string bytes) {
  std::map<std::string, int64_t> last;
  try {
    const jet::JetFile file(std::move(bytes), path);
    if (file.IsJet3()) return last;
    for (const jet::CatalogEntry& entry : jet::ReadCatalog(file))
      if (!entry.system) last[entry.name] = jet::ReadTableDefinition(file, entry.definitionPage).nextAutoNumber;
  } catch (const PlatformError&) {
    last.clear();
  }
  return last;
}

// The writer's work that needs only the file as read (jet::ReadAheadOf),
// started for a transaction on the file as loaded: it runs while the job
// works, on the other processor, and the image goes as soon as it is done.
// A job that only reads never begins one, and never pays for it.
void LearnAhead(AccessSide& side, std::string bytes) {
  std::shared_ptr<const jet::JetFile> file;
  try {
    file = std::make_shared<const jet::JetFile>(std::move(bytes), side.path);
  } catch (const PlatformError&) {
    return;  // the commit says what is wrong with it
  }
  if (file->IsJet3() || file->Size() > kReadAheadLargest) return;
  side.readAhead = std::async(std::launch::async, [file = std::move(file)]() mutable {
                     const auto image = std::move(file);
                     return jet::ReadAheadOf(*image);
                   }).share();
}

// How many rows of the table were read from the file (rowids 1 to n).
size_t RowsRead(const AccessSide& side, const std::string& table) {
  const auto places = side.places.find(table);
  if (places != side.places.end()) return places->second.size();
  const auto original = side.original.find(table);
  return original != side.original.end() ? original->second.size() : 0;
}

// Every change of a row names its table. A row added or updated that was
// read from the file is marked: it is no longer written back as read. (A
// row added after them is never one.)
void NoteChange(void* access, int operation, const char*, const char* table, sqlite3_int64 rowid) {
  auto& side = *static_cast<AccessSide*>(access);
  side.changed.insert(table);
  if (operation == SQLITE_DELETE || rowid < 1) return;
  const size_t read = RowsRead(side, table);
  if (static_cast<uint64_t>(rowid) > read) return;
  std::vector<bool>& touched = side.touched[table];
  if (touched.size() < read) touched.resize(read);
  touched[static_cast<size_t>(rowid) - 1] = true;
}

// A DELETE without WHERE would empty a table without a word (SQLite's
// truncation), so the authorizer has deletes done row by row.
int RowByRowDeletes(void*, int action, const char* table, const char*, const char*, const char*) {
  const bool ours = table && std::strncmp(table, "sqlite_", 7) != 0;
  return action == SQLITE_DELETE && ours ? SQLITE_IGNORE : SQLITE_OK;
}

// Reads the Access file into the connection's private database, replacing
// what it held.
void Load(Connection& connection) {
  AccessSide& side = *connection.access;
  // The fingerprint before the reading: a change made while it runs shows
  // at the commit.
  RegularFile image = access::ReadAccessImage(side.path);
  const access::Fingerprint before = access::FingerprintOf(image);
  side.readAhead = {};
  side.lastAutoNumber = LastAutoNumbers(side.path, std::move(image.bytes));
  // Until the reading is whole, nothing may be written back from it.
  side.loaded = {};
  side.places.clear();
  side.original.clear();
  side.touched.clear();
  // The authorizer that has deletes done row by row would also make DROP
  // TABLE do nothing: it is off while the copy is made anew.
  sqlite3_set_authorizer(connection.db, nullptr, nullptr);
  Exec(connection.db, "BEGIN");
  try {
    PrivateCopyLoader loader(connection.db, side);
    mdb::ReadAccessFile(side.path, {}, loader);
    loader.EndTable();
    Exec(connection.db, "COMMIT");
    side.loaded = before;
    side.changed.clear();
    side.touched.clear();
  } catch (...) {
    sqlite3_exec(connection.db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_set_authorizer(connection.db, RowByRowDeletes, nullptr);
    side.places.clear();
    side.original.clear();
    throw;
  }
  sqlite3_set_authorizer(connection.db, RowByRowDeletes, nullptr);
  // Statements prepared before stay valid (SQLite prepares them again for
  // the new tables), so a statement about to run survives the reading.
}

}  // namespace

AccessSide::~AccessSide() {
  if (folderLock >= 0) ::close(folderLock);
}

bool HasAccessHeader(const std::string& path) {
  char header[19] = {};
  std::ifstream file(path, std::ios::binary);
  file.read(header, sizeof header);
  if (file.gcount() < static_cast<std::streamsize>(sizeof header)) return false;
  const std::string_view signature(header + 4, 15);
  return signature == "Standard Jet DB" || signature == "Standard ACE DB";
}

std::shared_ptr<Connection> OpenAccessBacked(const std::string& path) {
  access::RefuseWhileAccessHasIt(path);
  auto connection = std::make_shared<Connection>();
  connection->name = path;
  connection->access = std::make_unique<AccessSide>();
  connection->access->path = path;
  // The private copy is a temporary database on the disk (SQLite's own,
  // removed when closed), its cache bounded: a large table costs disk, not
  // memory.
  if (sqlite3_open_v2("", &connection->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
    Raise(err::kOutOfMemory);
  sqlite3_extended_result_codes(connection->db, 1);
  Exec(connection->db, "PRAGMA cache_size = -8192");
  Exec(connection->db, "PRAGMA synchronous = OFF");
  Load(*connection);
  sqlite3_update_hook(connection->db, NoteChange, connection->access.get());
  return connection;
}

void BeginAccessWrite(Connection& connection) {
  AccessSide& side = *connection.access;
  side.folderLock = access::FolderLock(side.path).Release();
  try {
    access::RefuseWhileAccessHasIt(side.path);
    if (side.format == "Jet 3")
      Raise(err::kCannotOpenFile, "データベース '" + side.path +
                                      "' は Access 97 (Jet 3) 形式のため、書き込めません (読み取りはできます)。\n"
                                      "Access で新しい形式 (Access 2000 以降) に変換するか、"
                                      "「pendra import-mdb ファイル名」でこのプログラムの形式のコピーに取り込んでください。");
    RegularFile image = access::ReadAccessImage(side.path);
    if (access::FingerprintOf(image) != side.loaded) {
      Load(connection);
    } else if (!side.readAhead.valid()) {
      LearnAhead(side, std::move(image.bytes));
    }
  } catch (...) {
    EndAccessWrite(connection);
    throw;
  }
  side.changed.clear();
}

void WriteBackAccess(Connection& connection) {
  AccessSide& side = *connection.access;
  if (side.changed.empty()) return;
  std::vector<std::unique_ptr<PrivateCopyRows>> sources;
  std::vector<access::TableRows> tables;
  for (const auto& table : side.changed) {
    sources.push_back(std::make_unique<PrivateCopyRows>(connection, table));
    tables.push_back({table, sources.back().get()});
  }
  access::WriteTables(side.path, side.loaded, tables, side.readAhead.valid() ? &side.readAhead.get() : nullptr);
  // The private copy holds what was written, but no longer maps row for
  // row onto the rows as read: the next transaction reads the file again.
  side.loaded = {};
  side.readAhead = {};
}

void EndAccessWrite(Connection& connection) {
  AccessSide& side = *connection.access;
  side.changed.clear();
  side.touched.clear();
  // The read-ahead's thread never outlives the transaction: dropping its
  // result joins it.
  side.readAhead = {};
  if (side.folderLock >= 0) {
    ::close(side.folderLock);
    side.folderLock = -1;
  }
}

}  // namespace pendra::dao::detail

namespace pendra::dao {
bool IsAccessFile(const std::string& path) { return detail::HasAccessHeader(path); }
}  // namespace pendra::dao
