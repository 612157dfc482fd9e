// Genuine Access files through the database layer: read with their
// designs, written back only when a transaction commits a change, left
// byte for byte as they were otherwise, and refused while Access has them
// open.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "DaoTestSupport.h"
#include "dao/Backup.h"
#include "dao/Transaction.h"
#include "jet/Catalog.h"
#include "jet/Checker.h"
#include "jet/RowLayout.h"
#include "jet/TableRewrite.h"
#include "jet/UsageMap.h"
#include "mdb/AccessFile.h"

namespace pendra::testing {
namespace {

namespace fs = std::filesystem;
using dao::dbOpenDynaset;
using dao::dbOpenSnapshot;

const fs::path kData = PENDRA_ACCESS_TESTDATA;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class AccessDatabase : public TempFolderTest, public ::testing::WithParamInterface<const char*> {
 protected:
  // The file of the case as the schedule database of a base folder.
  std::string Placed(const char* file = nullptr) {
    const std::string path = folder_ + "/Orvik.mdb";
    fs::copy_file(kData / (file ? file : GetParam()), path, fs::copy_options::overwrite_existing);
    return path;
  }
};

// The file with one byte of a table's definition set.
void PatchDefinition(const std::string& path, const std::string& table,
                     const std::function<size_t(const jet::TableDefinition&)>& at, uint8_t value) {
  jet::JetFile file(path);
  const jet::TableDefinition d = jet::ReadTableDefinition(file, jet::FindTable(file, table).definitionPage);
  const jet::DefinitionPlace place = jet::PlaceOf(file, d, at(d));
  file.bytes()[place.page * file.PageSize() + place.offset] = static_cast<char>(value);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file.bytes();
}

// KikiMaster's index tree rooted far past the end of the file.
void DamageIndex(const std::string& path) {
  PatchDefinition(path, "KikiMaster", [](const jet::TableDefinition& d) { return d.realIndexes[0].rootPageAt + 2; }, 0x7F);
}

// The file with a table's catalogue entry turned into a container: the
// reader no longer lists it as a table.
void HideTable(const std::string& path, const std::string& table) {
  jet::JetFile file(path);
  const uint32_t page = jet::FindTable(file, table).definitionPage;
  const jet::TableDefinition catalogue = jet::ReadTableDefinition(file, 2);
  const auto column = [&](const std::string& name) {
    return *std::find_if(catalogue.columns.begin(), catalogue.columns.end(), [&](const auto& c) { return c.name == name; });
  };
  for (const jet::LiveRow& row : jet::LiveRows(file, jet::ReadUsageMap(file, catalogue.ownedMap).pages)) {
    const jet::StoredRow stored(file, row.bytes);
    const jet::StoredField id = stored.Field(column("Id"));
    if (id.null || (jet::Le32(id.bytes, 0) & 0xFFFFFF) != page) continue;
    const jet::StoredField type = stored.Field(column("Type"));
    file.bytes()[static_cast<size_t>(type.bytes.data() - file.bytes().data())] = 3;
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file.bytes();
}

// Another program adds a row to GroupMaster with a writer of its own: in
// place, or as a new file renamed over the old one.
void AnotherProgramAddsARow(const std::string& path, bool renamed) {
  std::vector<std::vector<Variant>> rows;
  for (const auto& table : mdb::ReadAccessFile(path).tables)
    if (table.name == "GroupMaster") rows = table.rows;
  rows.push_back({Variant(int32_t{99}), Variant("他のプログラム"), Variant(true)});
  jet::JetFile file(path);
  jet::RewriteTable(file, "GroupMaster", rows);
  const std::string target = renamed ? path + ".other" : path;
  std::ofstream(target, std::ios::binary | std::ios::trunc) << file.bytes();
  if (renamed) fs::rename(target, path);
}

// Another program changes one byte in place and sets the file's time back:
// its size, inode and time are as they were, only the bytes tell.
void AnotherProgramChangesOneByteUnseen(const std::string& path) {
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  std::string bytes = Bytes(path);
  bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x10);
  std::ofstream(path, std::ios::binary | std::ios::in | std::ios::out) << bytes;
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::vector<std::string> Described(const std::vector<std::vector<Variant>>& rows) {
  std::vector<std::string> out;
  for (const auto& row : rows) {
    std::string line;
    for (const auto& v : row) line += v.Describe() + " | ";
    out.push_back(line);
  }
  return out;
}

std::vector<std::vector<Variant>> Rows(dao::Database& db, const std::string& table, size_t columns) {
  std::vector<std::vector<Variant>> rows;
  auto rs = db.OpenRecordset("SELECT * FROM " + table, dbOpenSnapshot);
  const auto fields = db.TableDefFields(table);
  for (; !rs->Eof(); rs->MoveNext()) {
    std::vector<Variant> row;
    for (size_t c = 0; c < columns; ++c) row.push_back(rs->Fields(fields[c].Name).Value());
    rows.push_back(std::move(row));
  }
  return rows;
}

TEST_P(AccessDatabase, ReadsEveryTableWithItsDesignAndChangesNothing) {
  const std::string path = Placed();
  const std::string before = Bytes(path);
  const auto reference = mdb::ReadAccessFile(path);
  {
    auto db = Ws().OpenDatabase(path);
    for (const auto& table : reference.tables) {
      if (table.name == "型テスト") continue;   // GUID, Decimal and OLE: stored as given, compared by the reader's tests
      const auto fields = db->TableDefFields(table.name);
      ASSERT_EQ(fields.size(), table.columns.size()) << table.name;
      for (size_t c = 0; c < fields.size(); ++c) {
        EXPECT_EQ(fields[c].Name, table.columns[c].name);
        EXPECT_EQ(fields[c].Type, table.columns[c].type) << table.name << "." << fields[c].Name;
        EXPECT_EQ(fields[c].Required, table.columns[c].required) << table.name << "." << fields[c].Name;
        EXPECT_EQ(fields[c].AllowZeroLength, table.columns[c].allowZeroLength) << table.name << "." << fields[c].Name;
        if (fields[c].Type == dao::dbText) {
          EXPECT_EQ(fields[c].Size, table.columns[c].size);
        }
      }
      EXPECT_EQ(Described(Rows(*db, table.name, fields.size())), Described(table.rows)) << table.name;
    }
    // A new row shows the design's literal defaults (開始操作値 1,
    // 終了操作値 0) and the clock for 更新日時.
    auto rs = db->OpenRecordset("SELECT * FROM KikiMaster", dbOpenDynaset);
    rs->AddNew();
    EXPECT_EQ(rs->Fields("開始操作値").Value(), Variant(int32_t{1}));
    EXPECT_EQ(rs->Fields("終了操作値").Value(), Variant(int32_t{0}));
    EXPECT_EQ(rs->Fields("更新日時").Value().Type(), VarType::Date);
    rs->Close();
    // A transaction that is rolled back, and one that writes nothing,
    // leave the file as it was.
    {
      dao::Transaction rolledBack(Ws());
      db->Execute("DELETE FROM KikiMaster");
    }
    dao::Transaction readOnly(Ws());
    EXPECT_EQ(Rows(*db, "KikiMaster", 5).size(), 4u);
    readOnly.Commit();
  }
  EXPECT_TRUE(Bytes(path) == before);
  EXPECT_FALSE(fs::exists(folder_ + "/backup"));
}

// A table's rows as stored, in no particular order.
std::multiset<std::string> StoredRows(const std::string& path, const std::string& table) {
  const jet::JetFile file(path);
  const jet::TableDefinition d = jet::ReadTableDefinition(file, jet::FindTable(file, table).definitionPage);
  std::multiset<std::string> rows;
  for (const jet::LiveRow& row : jet::LiveRows(file, jet::ReadUsageMap(file, d.ownedMap).pages)) rows.emplace(row.bytes);
  return rows;
}

TEST_P(AccessDatabase, ACommittedChangeIsWrittenBackWithTheOldFileAsItsBackup) {
  const std::string path = Placed();
  const std::string before = Bytes(path);
  const std::multiset<std::string> groupsBefore = StoredRows(path, "GroupMaster");
  const auto reference = mdb::ReadAccessFile(path);
  std::string backup;
  {
    auto db = Ws().OpenDatabase(path);
    dao::Transaction transaction(Ws());
    backup = dao::BackUp(*db, "expand");
    db->Execute("DELETE FROM KikiMaster WHERE 開始操作値 = 1");
    auto rs = db->OpenRecordset("SELECT * FROM KikiMaster", dbOpenDynaset);
    rs->AddNew();
    rs->Fields("タグ名") = Variant("ｻﾝﾌﾟﾙ-1");
    rs->Fields("機器名称") = Variant("");
    rs->Update();
    rs->Close();
    transaction.Commit();
    // Outside a transaction a write is a transaction of its own.
    db->Execute("UPDATE GroupMaster SET GP名称 = 'X' WHERE GPno = 1");
  }
  EXPECT_TRUE(Bytes(backup) == before);
  const auto after = mdb::ReadAccessFile(path);
  for (size_t t = 0; t < after.tables.size(); ++t) {
    const auto& table = after.tables[t];
    if (table.name == "KikiMaster") {
      ASSERT_FALSE(table.rows.empty());
      EXPECT_EQ(table.rows.back()[0], Variant("ｻﾝﾌﾟﾙ-1"));
      EXPECT_EQ(table.rows.back()[1], Variant(""));       // zero-length, not Null
      EXPECT_EQ(table.rows.back()[2], Variant(int32_t{1}));   // the design's default
      for (const auto& row : table.rows) EXPECT_TRUE(row[2] != Variant(int32_t{1}) || row[0] == Variant("ｻﾝﾌﾟﾙ-1"));
    } else if (table.name == "GroupMaster") {
      for (const auto& row : table.rows) EXPECT_EQ(row[1] == Variant("X"), row[0] == Variant(int32_t{1}));
    } else {
      EXPECT_EQ(Described(table.rows), Described(reference.tables[t].rows)) << table.name;   // never written
    }
  }
  EXPECT_TRUE(jet::CheckAccessFile(path).Clean());
  // The rows nobody changed are stored as Access stored them: all of
  // GroupMaster's but the one updated.
  const std::multiset<std::string> groupsAfter = StoredRows(path, "GroupMaster");
  std::vector<std::string> unchanged;
  std::set_intersection(groupsBefore.begin(), groupsBefore.end(), groupsAfter.begin(), groupsAfter.end(), std::back_inserter(unchanged));
  EXPECT_EQ(unchanged.size(), groupsBefore.size() - 1);
}

// The last row read goes and a row is added: the private copy gives the new
// row the rowid the gone one had. It is written with its own values, not
// as the row that was read there; the row updated gets its new values.
TEST_P(AccessDatabase, ARowAddedInThePlaceOfTheLastRowReadIsWrittenAsAdded) {
  const std::string path = Placed();
  std::vector<std::vector<Variant>> groups;
  for (const auto& table : mdb::ReadAccessFile(path).tables)
    if (table.name == "GroupMaster") groups = table.rows;
  ASSERT_GE(groups.size(), 2u);
  const std::vector<Variant> last = groups.back();
  groups.pop_back();
  groups.front()[1] = Variant("更新した行");
  const std::vector<Variant> added = {Variant(int32_t{999}), Variant("追加した行"), Variant(true)};
  groups.push_back(added);
  {
    auto db = Ws().OpenDatabase(path);
    dao::Transaction transaction(Ws());
    db->Execute("DELETE FROM GroupMaster WHERE GPno = " + last[0].ToText());
    db->Execute("UPDATE GroupMaster SET GP名称 = '更新した行' WHERE GPno = " + groups.front()[0].ToText());
    auto rs = db->OpenRecordset("SELECT * FROM GroupMaster", dbOpenDynaset);
    rs->AddNew();
    for (size_t c = 0; c < added.size(); ++c) dao::Field(*rs, static_cast<int>(c)) = added[c];
    rs->Update();
    rs->Close();
    transaction.Commit();
  }
  for (const auto& table : mdb::ReadAccessFile(path).tables) {
    if (table.name == "GroupMaster") {
      EXPECT_EQ(Described(table.rows), Described(groups));
    }
  }
  EXPECT_TRUE(jet::CheckAccessFile(path).Clean());
}

// The rows go to the writer while the next ones are still read: a row it
// refuses deep in a large table (a text beginning with U+FEFF, which no
// reader gives back as written) ends the commit with the file as it was,
// and the same connection commits the next transaction in full.
TEST_P(AccessDatabase, ARowRefusedDeepInALargeTableLeavesTheFileAndTheConnectionWorking) {
  const std::string path = Placed();
  const std::string before = Bytes(path);
  constexpr int kRows = 8000, kRefused = 3000;
  auto db = Ws().OpenDatabase(path);
  for (const bool withRefusedRow : {true, false}) {
    dao::Transaction transaction(Ws());
    db->Execute("DELETE FROM KikiMaster");
    auto rs = db->OpenRecordset("SELECT * FROM KikiMaster", dbOpenDynaset);
    for (int i = 0; i < kRows; ++i) {
      rs->AddNew();
      rs->Fields("タグ名") = Variant("T" + std::to_string(i));
      rs->Fields("機器名称") = Variant((withRefusedRow && i == kRefused ? "\xEF\xBB\xBF" : "") + std::string("機器"));
      rs->Update();
    }
    rs->Close();
    if (withRefusedRow) {
      try {
        transaction.Commit();
        ADD_FAILURE() << "committed";
      } catch (const PlatformError& error) {
        EXPECT_NE(std::string(error.what()).find("U+FEFF"), std::string::npos) << error.what();
      }
      EXPECT_TRUE(Bytes(path) == before);
    } else {
      transaction.Commit();
    }
  }
  db->Close();
  const auto after = mdb::ReadAccessFile(path);
  for (const auto& table : after.tables) {
    if (table.name != "KikiMaster") continue;
    ASSERT_EQ(table.rows.size(), static_cast<size_t>(kRows));
    EXPECT_EQ(table.rows[kRefused][0], Variant("T" + std::to_string(kRefused)));
    EXPECT_EQ(table.rows.back()[1], Variant("機器"));
  }
  EXPECT_TRUE(jet::CheckAccessFile(path).Clean());
}

TEST_P(AccessDatabase, RefusedWhileAccessHasItOpen) {
  const std::string path = Placed();
  const std::string before = Bytes(path);
  const std::string lock = fs::path(path).replace_extension(std::string(GetParam()).ends_with(".mdb") ? ".ldb" : ".laccdb");
  std::ofstream(lock) << "ACCESS-USER";
  try {
    Ws().OpenDatabase(path);
    ADD_FAILURE() << "opened beside " << lock;
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), err::kCouldNotUseLocked);
    EXPECT_NE(e.Description().find("\n"), std::string::npos);
    EXPECT_NE(e.Description().find(lock), std::string::npos) << e.Description();
  }
  // Access opening it after we did: refused when the transaction begins.
  fs::remove(lock);
  auto db = Ws().OpenDatabase(path);
  std::ofstream(lock) << "ACCESS-USER";
  EXPECT_EQ(ErrorNumber([&] { dao::Transaction t(Ws()); }), err::kCouldNotUseLocked);
  db->Close();
  EXPECT_TRUE(Bytes(path) == before);
}

// What happens between the reading and the commit: another program writes
// the file (in place, or a new file renamed over it), Access opens it, it
// is made read-only; or the file was damaged from the start. The commit is refused naming the
// database, never a work file, saying "damaged" once, and the file keeps
// the other program's bytes.
TEST_P(AccessDatabase, ACommitRefusedForWhatHappenedMeanwhileKeepsTheOtherProgramsBytes) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> beforeOpening, meanwhile;
    long error;
  };
  const auto nothing = [](const std::string&) {};
  const auto lockFile = [](const std::string& path) {
    return fs::path(path).replace_extension(path.ends_with(".mdb") ? ".ldb" : ".laccdb").string();
  };
  const std::vector<Case> cases = {
      {"another program writes in place", nothing, [](const std::string& p) { AnotherProgramAddsARow(p, false); }, err::kDataChanged},
      {"another program renames its file over it", nothing, [](const std::string& p) { AnotherProgramAddsARow(p, true); },
       err::kDataChanged},
      {"another program changes one byte unseen", nothing, AnotherProgramChangesOneByteUnseen, err::kDataChanged},
      {"Access opens it", nothing, [&](const std::string& p) { std::ofstream(lockFile(p)) << "ACCESS-USER"; }, err::kCouldNotUseLocked},
      {"made read-only", nothing, [](const std::string& p) { fs::permissions(p, fs::perms::owner_read); }, err::kCannotOpenFile},
      {"damaged from the start", DamageIndex, nothing, 3049},
  };
  for (const Case& c : cases) {
    const std::string path = Placed();
    c.beforeOpening(path);
    auto db = Ws().OpenDatabase(path);
    std::string theirs;
    {
      dao::Transaction transaction(Ws());
      db->Execute("UPDATE KikiMaster SET 機器名称 = 'ジョブ'");
      c.meanwhile(path);
      theirs = Bytes(path);
      try {
        transaction.Commit();
        ADD_FAILURE() << c.what << ": committed";
      } catch (const PlatformError& e) {
        const std::string& text = e.Description();
        EXPECT_EQ(e.Number(), c.error) << c.what << ": " << text;
        EXPECT_NE(text.find("'" + path + "'"), std::string::npos) << c.what << ": " << text;
        EXPECT_EQ(text.find(".~"), std::string::npos) << c.what << ": " << text;
        EXPECT_EQ(text.find("が壊れています"), text.rfind("が壊れています")) << c.what << ": " << text;
      }
    }
    db->Close();
    EXPECT_TRUE(Bytes(path) == theirs) << c.what;
    for (const auto& left : fs::directory_iterator(folder_))
      EXPECT_FALSE(left.path().filename().string().starts_with(".~")) << c.what << ": " << left.path();
    fs::remove(lockFile(path));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  }
}

// A restore puts back only a copy check-mdb finds sound (a damaged index,
// which the reader of rows never looks at, refuses it) and holding exactly
// the database's tables (a table the database lacks refuses it), with
// nothing changed.
TEST_P(AccessDatabase, ARestoreRefusesADamagedCopyOrOneWithATableMore) {
  const std::string path = Placed();
  const std::string copy = folder_ + "/copy" + fs::path(path).extension().string();
  fs::copy_file(path, copy);
  DamageIndex(copy);
  const std::string damagedCopyOf = Bytes(path);
  EXPECT_EQ(ErrorNumber([&] { dao::Restore(path, copy); }), 3049);
  EXPECT_TRUE(Bytes(path) == damagedCopyOf);
  fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
  HideTable(path, "型テスト");
  const std::string lessOneTable = Bytes(path);
  EXPECT_EQ(ErrorNumber([&] { dao::Restore(path, copy); }), err::kUnrecognizedFormat);
  EXPECT_TRUE(Bytes(path) == lessOneTable);
  EXPECT_TRUE(dao::ListBackups(path).empty());
}

INSTANTIATE_TEST_SUITE_P(Files, AccessDatabase, ::testing::Values("ja_V2000.mdb", "ja_V2007.accdb", "ja_V2016.accdb"),
                         [](const auto& info) { return std::string(info.param).substr(3, 5); });

// Access numbers a new row after the highest number the table ever gave
// out: with the row holding it deleted, the next row still gets a new one.
class AccessAutoNumber : public AccessDatabase {};

TEST_F(AccessAutoNumber, NewRowsAreNumberedAfterTheTablesLastNumber) {
  const std::string path = Placed("testUnicodeCompV2003.mdb");
  int64_t highest = 0;
  const auto reference = mdb::ReadAccessFile(path);
  for (const auto& row : reference.tables.at(0).rows) highest = std::max(highest, row[0].IntegerValue());
  auto db = Ws().OpenDatabase(path);
  for (int round = 0; round < 2; ++round) {
    dao::Transaction transaction(Ws());
    db->Execute("DELETE FROM [Table] WHERE ID = " + std::to_string(highest));
    auto rs = db->OpenRecordset("SELECT * FROM [Table]", dbOpenDynaset);
    rs->AddNew();
    rs->Fields("Unicode") = Variant("新しい行");
    const int64_t given = rs->Fields("ID").Value().IntegerValue();
    rs->Update();
    rs->Close();
    transaction.Commit();
    EXPECT_GT(given, highest) << "round " << round;
    highest = given;
  }
  db->Close();
  const auto after = mdb::ReadAccessFile(path);
  const auto& rows = after.tables.at(0).rows;
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back()[0].IntegerValue(), highest);
  EXPECT_TRUE(jet::CheckAccessFile(path).Clean());
}

}  // namespace
}  // namespace pendra::testing
