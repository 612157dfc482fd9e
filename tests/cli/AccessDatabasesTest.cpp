// The jobs on the installation's own Access databases: a genuine Jet 4 or
// ACE file placed as Orvik.mdb or Velmora.mdb serves the output, the
// expansion and the tag import as our own database does, is written only
// where a job changed a table (the integrity check clean, every other table
// as it was, the old file kept as the backup), and is left byte for byte as
// it was by every refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "CliFixture.h"
#include "MdbReaderRun.h"
#include "TestFiles.h"
#include "access/AccessWriter.h"
#include "dao/Backup.h"
#include "jet/Catalog.h"
#include "jet/Checker.h"
#include "jet/JetFile.h"
#include "jet/TableDefinition.h"
#include "jet/TableRewrite.h"
#include "mdb/AccessFile.h"

namespace pendra::cli::test {
namespace {

namespace fs = std::filesystem;
using tagimport::testing::Fields;
using tagimport::testing::HeaderLine;

const fs::path kData = PENDRA_ACCESS_TESTDATA;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Every table but those named, rows included: equal means untouched.
std::vector<std::string> OtherTables(const std::string& file, const std::vector<std::string>& except) {
  std::vector<std::string> out;
  for (const auto& t : mdb::ReadAccessFile(file).tables) {
    if (std::find(except.begin(), except.end(), t.name) != except.end()) continue;
    out.push_back("TABLE " + t.name);
    for (const auto& row : t.rows) {
      std::string line;
      for (const auto& v : row) line += v.Describe() + "|";
      out.push_back(line);
    }
  }
  return out;
}

// The first column of every row of a table as the npm package mdb-reader
// (an implementation of its own) reads it, sorted, after its count line.
std::vector<std::string> MdbReaderFirstColumn(const std::string& file, const std::string& table) {
  std::vector<std::string> values = jet::test::MdbReaderLines(file, table);
  const std::string text = "[{\"t\":\"text\",\"v\":\"";
  for (size_t i = 1; i < values.size(); ++i) {
    const std::string line = values[i];
    values[i] = line.rfind(text, 0) == 0 ? line.substr(text.size(), line.find('"', text.size()) - text.size())
                                         : line.substr(0, line.find(','));
  }
  if (!values.empty()) std::sort(values.begin() + 1, values.end());
  return values;
}

void ExpectClean(const std::string& file) {
  const jet::FileCheck check = jet::CheckAccessFile(file);
  EXPECT_TRUE(check.Clean()) << file << ": " << ::testing::PrintToString(check.problems) << [&] {
    std::string all;
    for (const auto& t : check.tables)
      for (const auto& p : t.problems) all += "\n" + t.name + ": " + p;
    return all;
  }();
}

// Sets one byte of a table's definition in the Access file at path: where
// is told by the definition as the writer reads it.
void PatchDefinition(const std::string& path, const char* table,
                     const std::function<size_t(const jet::JetFile&, const jet::TableDefinition&)>& where, char value) {
  jet::JetFile file(path);
  const jet::TableDefinition definition = jet::ReadTableDefinition(file, jet::FindTable(file, table).definitionPage);
  const jet::DefinitionPlace place = jet::PlaceOf(file, definition, where(file, definition));
  file.bytes()[place.page * file.PageSize() + place.offset] = value;
  std::ofstream(path, std::ios::binary) << file.bytes();
}

// Rewrites a table with its own rows: after its sort order was patched, its
// index is rebuilt in the new order (the file's General keys differ from the
// Japanese ones even for ASCII).
void RebuildInItsOrder(const std::string& path, const std::string& table) {
  for (const auto& t : mdb::ReadAccessFile(path).tables)
    if (t.name == table) access::RewriteTable(path, table, t.rows);
}

class AccessDatabases : public BatchCommand, public ::testing::WithParamInterface<const char*> {
 protected:
  // The case's file as the schedule or the tag master database.
  void PlaceSchedule() { fs::copy_file(kData / GetParam(), ScheduleDb(), fs::copy_options::overwrite_existing); }
  void PlaceTags() { fs::copy_file(kData / GetParam(), TagDb(), fs::copy_options::overwrite_existing); }
};

TEST_P(AccessDatabases, OutputGivesTheWorkbookOurOwnDatabaseGivesForTheSameRows) {
  // Our own database with the file's rows, carried over by import-mdb.
  ASSERT_EQ(RunInProcess(On({"import-mdb", (kData / GetParam()).string(), "--yes"})).exitCode, 0);
  const std::string ours = base.File("ours.xls");
  ASSERT_EQ(RunInProcess(On({"output", ours})).exitCode, 0);

  PlaceSchedule();
  const std::string before = Bytes(ScheduleDb());
  const std::string theirs = base.File("access.xls");
  const Outcome run = RunInProcess(On({"output", theirs}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(Bytes(ScheduleDb()) == before);

  // Every row (a row without a key comes last, its first cell empty).
  schedule::test::SavedWorkbook a(ours), b(theirs);
  for (const auto& [sheet, columns] : {std::pair{"GroupMaster", 3}, std::pair{"KikiMaster", 4}}) {
    int filled = 0;
    for (int16_t row = 2; row < 2 + 12; ++row)
      for (int16_t column = 1; column <= columns; ++column) {
        const Variant expected = a.Cell(sheet, row, column);
        filled += !expected.IsEmpty();
        EXPECT_EQ(b.Cell(sheet, row, column), expected) << sheet << " " << row << "," << column;
      }
    EXPECT_GE(filled, 8) << sheet;
  }
}

TEST_P(AccessDatabases, ExpansionReplacesBothTablesAndNothingElse) {
  // Japanese names, letter case, zero-length and Null, and boundary numbers.
  std::vector<std::vector<Variant>> groups, kiki;
  for (int i = 0; i < 1000; ++i)
    groups.push_back({Variant(int32_t{i == 0 ? -2147483647 : i}), Variant(i % 7 ? "系統 " + std::to_string(i) + " 号" : std::string("")),
                      Variant(i % 2 == 0)});
  for (int i = 0; i < 32765; ++i) {
    const std::string tag = (i % 2 ? "T" : "t") + std::to_string(100000 + i) + (i % 5 ? "" : "ｱイ");
    const Variant start = i % 11 ? Variant(int32_t{i % 3 ? 2147483647 : -2147483647}) : Variant::Null();
    kiki.push_back({Variant(tag), Variant(i % 13 ? "機器 " + std::to_string(i) : std::string("")), start, Variant(int32_t{i % 2})});
  }
  const std::string workbook = base.File("大量.xls");
  schedule::test::WriteWorkbook(base.Template(), workbook, {{"GroupMaster", groups}, {"KikiMaster", kiki}});

  // What our own database stores for the same workbook.
  ASSERT_EQ(RunInProcess(On({"expand", workbook, "--yes"})).exitCode, 0);
  const auto expectedGroups = Rows(ScheduleDb(), "SELECT GPno, GP名称, 有効 FROM GroupMaster ORDER BY rowid");
  const auto expectedKiki = Rows(ScheduleDb(), "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY rowid");

  PlaceSchedule();
  const auto others = OtherTables(ScheduleDb(), {"GroupMaster", "KikiMaster"});
  const std::string before = Bytes(ScheduleDb());
  const Outcome run = RunInProcess(On({"expand", workbook, "--yes"}));
  ASSERT_EQ(run.exitCode, 0) << run.err;

  // The same rows, read by the Access reader (values described as the
  // layer reads them: compare counts and a few columns by text).
  const auto database = mdb::ReadAccessFile(ScheduleDb());
  for (const auto& table : database.tables) {
    if (table.name == "GroupMaster") {
      ASSERT_EQ(table.rows.size(), expectedGroups.size());
      for (size_t r = 0; r < table.rows.size(); ++r) {
        const auto& row = table.rows[r];
        EXPECT_EQ(row[0].ToText() + "|" + (row[1].IsNull() ? "NULL" : row[1].ToText()) + "|" + (row[2].BooleanValue() ? "-1" : "0"),
                  expectedGroups[r]) << r;
      }
    } else if (table.name == "KikiMaster") {
      ASSERT_EQ(table.rows.size(), expectedKiki.size());
      for (size_t r = 0; r < table.rows.size(); r += 97) {
        const auto& row = table.rows[r];
        std::string line;
        for (size_t c = 0; c < 4; ++c) line += (c ? "|" : "") + (row[c].IsNull() ? std::string("NULL") : row[c].ToText());
        EXPECT_EQ(line, expectedKiki[r]) << r;
      }
    }
  }
  ExpectClean(ScheduleDb());
  EXPECT_EQ(OtherTables(ScheduleDb(), {"GroupMaster", "KikiMaster"}), others);
  // The independent reader gives the same rows.
  std::vector<std::string> tags{"ROWS " + std::to_string(expectedKiki.size()) + " " + std::to_string(expectedKiki.size())};
  for (const auto& row : expectedKiki) tags.push_back(row.substr(0, row.find('|')));
  std::sort(tags.begin() + 1, tags.end());
  EXPECT_EQ(MdbReaderFirstColumn(ScheduleDb(), "KikiMaster"), tags);
  // The file as it was is the job's backup.
  const auto copies = dao::ListBackups(ScheduleDb());
  ASSERT_FALSE(copies.empty());
  EXPECT_TRUE(Bytes(copies.back().path) == before);
}

TEST_P(AccessDatabases, TagImportGivesTheTagMasterOurOwnDatabaseGives) {
  // 100,000 records: every second updates a generated tag, the rest add.
  std::vector<std::string> lines{HeaderLine()};
  for (int i = 0; i < 100000; ++i)
    lines.push_back(Fields({std::to_string(i + 1), "TAG-" + std::to_string(i % 50000), "計器 " + std::to_string(i), "X.0",
                            std::to_string(i % 1000), "", "", "", "", "", "", i % 3 ? "TRUE" : "FALSE"}));
  const std::string csv = Csv("ﾏｽﾀｰ情報.csv", lines);
  // Our own database, holding the same rows as the file first.
  ASSERT_EQ(RunInProcess(On({"import-mdb", (kData / GetParam()).string(), "--yes"})).exitCode, 0);
  ASSERT_EQ(RunInProcess(On({"import-csv", csv, "--yes"})).exitCode, 0);
  auto expected = Rows(TagDb(), "SELECT TAG, tag名称, 有効桁, printf('%g', 最大値), TOTAL_FLG FROM M_TAG");
  std::sort(expected.begin(), expected.end());

  PlaceTags();
  const Outcome run = RunInProcess(On({"import-csv", csv, "--yes"}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectClean(TagDb());
  std::vector<std::string> got;
  for (const auto& table : mdb::ReadAccessFile(TagDb()).tables) {
    if (table.name != "M_TAG") continue;
    for (const auto& row : table.rows) {
      char maximum[32];
      std::snprintf(maximum, sizeof maximum, "%g", row[3].ToDouble());
      const std::string line = row[0].ToText() + "|" + row[1].ToText() + "|" + row[2].ToText() + "|" + maximum + "|" +
                               (row[10].BooleanValue() ? "-1" : "0");
      got.push_back(line);
    }
  }
  std::sort(got.begin(), got.end());
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0, shown = 0; i < got.size() && shown < 5; ++i)
    if (got[i] != expected[i]) {
      ADD_FAILURE() << i << ": " << got[i] << " != " << expected[i];
      ++shown;
    }
}

TEST_P(AccessDatabases, RefusalsChangeNothingAndSayWhy) {
  const std::string workbook = base.File("往復.xls");
  ASSERT_EQ(RunInProcess(On({"output", workbook})).exitCode, 0);
  std::vector<std::vector<Variant>> bad;
  // Row 12's tag is longer than the column holds (3163).
  for (int i = 0; i < 20; ++i)
    bad.push_back({Variant("T" + std::to_string(i) + (i == 10 ? std::string(40, 'x') : "")), Variant("x"), Variant(int32_t{1}), Variant(int32_t{0})});
  const std::string refused = base.File("拒否.xls");
  schedule::test::WriteWorkbook(base.Template(), refused, {{"KikiMaster", bad}});

  // T001 and t001: distinct for our own database, one key for Access.
  const std::string folded = base.File("大小文字.xls");
  schedule::test::WriteWorkbook(base.Template(), folded,
                                {{"KikiMaster", {{Variant("T001"), Variant("a"), Variant(int32_t{1}), Variant(int32_t{0})},
                                                 {Variant("t001"), Variant("b"), Variant(int32_t{1}), Variant(int32_t{0})}}}});

  const auto keyColumnVersion = [](const jet::JetFile& f, const jet::TableDefinition& d) {
    return d.columns[0].descriptorAt + f.layout().columnSortOrder + 3;
  };
  const auto makeKeyColumnJapanese = [&] {
    PatchDefinition(ScheduleDb(), "KikiMaster", [](const jet::JetFile& f, const jet::TableDefinition& d) {
      return d.columns[0].descriptorAt + f.layout().columnSortOrder; }, 0x11);
    PatchDefinition(ScheduleDb(), "KikiMaster", keyColumnVersion, 0);
    RebuildInItsOrder(ScheduleDb(), "KikiMaster");
  };
  const std::string unseenKanji = base.File("未知の漢字.xls");
  schedule::test::WriteWorkbook(base.Template(), unseenKanji,
                                {{"KikiMaster", {{Variant("鬱金"), Variant("a"), Variant(int32_t{1}), Variant(int32_t{0})}}}});

  const std::string lock = fs::path(ScheduleDb()).replace_extension(std::string(GetParam()).ends_with(".mdb") ? ".ldb" : ".laccdb");
  const auto keyColumnSortOrder = [](const jet::JetFile& f, const jet::TableDefinition& d) {
    return d.columns[0].descriptorAt + f.layout().columnSortOrder;
  };
  const auto firstIndexFlags = [](const jet::JetFile&, const jet::TableDefinition& d) { return d.realIndexes[0].rootPageAt + 8; };
  const struct {
    const char* what;
    std::function<void()> arrange;
    std::string workbook;
    std::string said;
  } cases[] = {
      {"a refused value", [] {}, refused, "ｴﾗｰ番号"},
      {"Access has it open", [&] { std::ofstream(lock) << "x"; }, workbook, lock},
      // タグ名's text index in the Korean sort order, which we cannot encode.
      {"an unsupported sort order", [&] { PatchDefinition(ScheduleDb(), "KikiMaster", keyColumnSortOrder, 0x12); },
       workbook, "並べ替え順 1042"},
      // In the Japanese sort order, a kanji whose key nobody has seen: the
      // message says what the user can do.
      {"a kanji without a known key", [&] { makeKeyColumnJapanese(); }, unseenKanji, "新規データベースの並び順序"},
      // タグ名's index made unique (its rows distinct first): Access folds
      // letter case, so T001 and t001 collide where our own database lets
      // both in.
      {"a unique key that collides", [&] {
         access::RewriteTable(ScheduleDb(), "KikiMaster", {{Variant("K-1"), Variant("一"), Variant(int32_t{1}), Variant(int32_t{0}), Variant::Null()}});
         PatchDefinition(ScheduleDb(), "KikiMaster", firstIndexFlags, static_cast<char>(0x81));
       },
       folded, "3022"},
  };
  for (const auto& c : cases) {
    PlaceSchedule();
    c.arrange();
    const std::string before = Bytes(ScheduleDb());
    const Outcome run = RunInProcess(On({"expand", c.workbook, "--yes", "--allow-row-loss"}));
    EXPECT_EQ(run.exitCode, 1) << c.what;
    EXPECT_NE(run.err.find(c.said), std::string::npos) << c.what << ": " << run.err;
    EXPECT_TRUE(Bytes(ScheduleDb()) == before) << c.what;
    fs::remove(lock);
  }
  EXPECT_TRUE(dao::ListBackups(ScheduleDb()).empty());
}

// Each table's rows as text without 更新日時 (the expansion's own time),
// sorted; rows without a key apart, and a zero-length text as Null when
// asked (the .xls format keeps no zero-length text).
struct RowsByKey {
  std::map<std::string, std::vector<std::string>> keyed;
  std::map<std::string, long> keyless;
  std::map<std::string, long> rowsWithZeroLength;
  long zeroLength = 0;
};
RowsByKey ScheduleRows(const std::string& file, bool zeroLengthAsNull) {
  RowsByKey result;
  for (const auto& table : mdb::ReadAccessFile(file).tables) {
    if (table.name != "GroupMaster" && table.name != "KikiMaster") continue;
    auto& rows = result.keyed[table.name];
    for (const auto& row : table.rows) {
      if (row[0].IsNull() || (row[0].IsString() && row[0].StringValue().empty())) {
        ++result.keyless[table.name];
        continue;
      }
      std::string line;
      bool anyZeroLength = false;
      for (size_t c = 0; c < row.size(); ++c) {
        if (table.columns[c].name == "更新日時") continue;
        const bool zeroLength = row[c].IsString() && row[c].StringValue().empty();
        result.zeroLength += zeroLength;
        anyZeroLength |= zeroLength;
        line += (row[c].IsNull() || (zeroLength && zeroLengthAsNull) ? std::string("NULL") : row[c].Describe()) + "|";
      }
      rows.push_back(line);
      result.rowsWithZeroLength[table.name] += anyZeroLength;
    }
    std::sort(rows.begin(), rows.end());
  }
  return result;
}

// The installation's file output, then expanded unedited: every row with
// a key comes back with the same values; only the rows without a key
// (which the output wrote last and named) are gone, and only the
// zero-length texts a workbook cell cannot hold (counted by the output)
// come back as Null.
TEST_P(AccessDatabases, AnUneditedWorkbookExpandsToTheSameValues) {
  PlaceSchedule();
  const RowsByKey before = ScheduleRows(ScheduleDb(), true);
  long keyless = 0;
  for (const auto& [table, rows] : before.keyless) keyless += rows;
  ASSERT_GT(keyless, 0) << "the file holds rows without a key";

  const std::string ods = base.File("往復.ods");
  const Outcome keeping = RunInProcess(On({"output", ods}));
  ASSERT_EQ(keeping.exitCode, 0) << keeping.err;
  const Outcome dry = RunInProcess(On({"expand", ods, "--dry-run"}));
  EXPECT_EQ(dry.exitCode, 0) << dry.err;
  for (const char* table : {"GroupMaster", "KikiMaster"}) {
    const size_t at = dry.out.find(std::string("\n") + table + ": ");
    ASSERT_NE(at, std::string::npos) << dry.out;
    const auto count = [&](const std::map<std::string, long>& of) { return std::to_string(of.count(table) ? of.at(table) : 0); };
    EXPECT_NE(dry.out.find("、削除 " + count(before.keyless) + "、変更 " + count(before.rowsWithZeroLength), at),
              std::string::npos)
        << table << ": " << dry.out;
  }

  const std::string xls = base.File("往復.xls");
  const Outcome output = RunInProcess(On({"output", xls}));
  ASSERT_EQ(output.exitCode, 0) << output.err;
  EXPECT_NE(output.out.find("\n1 列目が空の行 " + std::to_string(keyless) + " ("), std::string::npos) << output.out;
  if (before.zeroLength > 0) {
    EXPECT_NE(output.out.find("\n長さ 0 の文字列のセル " + std::to_string(before.zeroLength) + " は"), std::string::npos)
        << output.out;
  }
  const Outcome run = RunInProcess(On({"expand", xls, "--yes", "--allow-row-loss"}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const RowsByKey after = ScheduleRows(ScheduleDb(), true);
  EXPECT_EQ(after.keyed, before.keyed);
  EXPECT_TRUE(after.keyless.empty());
  ExpectClean(ScheduleDb());
}

// タグ名 in the Japanese sort order (as every file Japanese Access makes):
// kana and the kanji whose keys are known are written, keyed as Access keys
// them; the dry run says ahead of time what cannot be, and changes nothing.
TEST_P(AccessDatabases, JapaneseSortOrderTakesKanaAndTheDryRunSaysWhatItCannotKey) {
  const auto japanese = [&] {
    PatchDefinition(ScheduleDb(), "KikiMaster", [](const jet::JetFile& f, const jet::TableDefinition& d) {
      return d.columns[0].descriptorAt + f.layout().columnSortOrder; }, 0x11);
    PatchDefinition(ScheduleDb(), "KikiMaster", [](const jet::JetFile& f, const jet::TableDefinition& d) {
      return d.columns[0].descriptorAt + f.layout().columnSortOrder + 3; }, 0);
    RebuildInItsOrder(ScheduleDb(), "KikiMaster");
  };
  const std::vector<std::string> tags = {"T001", "ポンプ", "コーヒー", "ﾌﾞﾛﾜｰ", "株式会社", "がっこう"};
  std::vector<std::vector<Variant>> kiki;
  for (const std::string& tag : tags) kiki.push_back({Variant(tag), Variant("機器"), Variant(int32_t{1}), Variant(int32_t{0})});
  const std::string workbook = base.File("かな.xls");
  schedule::test::WriteWorkbook(base.Template(), workbook, {{"KikiMaster", kiki}});
  kiki.push_back({Variant("鬱金"), Variant("機器"), Variant(int32_t{1}), Variant(int32_t{0})});
  const std::string unseen = base.File("未知.xls");
  schedule::test::WriteWorkbook(base.Template(), unseen, {{"KikiMaster", kiki}});

  PlaceSchedule();
  japanese();
  const std::string before = Bytes(ScheduleDb());
  const Outcome dry = RunInProcess(On({"expand", unseen, "--dry-run"}));
  EXPECT_EQ(dry.exitCode, 1);
  EXPECT_NE((dry.out + dry.err).find("'鬱'"), std::string::npos) << dry.out << dry.err;
  EXPECT_NE((dry.out + dry.err).find("新規データベースの並び順序"), std::string::npos) << dry.out << dry.err;
  EXPECT_TRUE(Bytes(ScheduleDb()) == before);

  const Outcome run = RunInProcess(On({"expand", workbook, "--yes", "--allow-row-loss"}));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ExpectClean(ScheduleDb());
  std::vector<std::string> expected{"ROWS " + std::to_string(tags.size()) + " " + std::to_string(tags.size())};
  expected.insert(expected.end(), tags.begin(), tags.end());
  std::sort(expected.begin() + 1, expected.end());
  EXPECT_EQ(MdbReaderFirstColumn(ScheduleDb(), "KikiMaster"), expected);
  std::vector<std::string> read;
  for (const auto& table : mdb::ReadAccessFile(ScheduleDb()).tables)
    if (table.name == "KikiMaster")
      for (const auto& row : table.rows) read.push_back(row[0].ToText());
  std::sort(read.begin(), read.end());
  EXPECT_EQ(read, std::vector<std::string>(expected.begin() + 1, expected.end()));
}

INSTANTIATE_TEST_SUITE_P(Files, AccessDatabases, ::testing::Values("ja_V2000.mdb", "ja_V2007.accdb", "ja_V2016.accdb"),
                         [](const auto& info) { return std::string(info.param).substr(3, 5); });

TEST_F(BatchCommand, AJet3DatabaseIsNeverWritten) {
  const std::string file = (kData / "testV1997.mdb").string();
  fs::copy_file(file, TagDb(), fs::copy_options::overwrite_existing);
  const std::string csv = Csv("m.csv", {HeaderLine(), Fields({"1", "FIC-101", "名称"})});
  const Outcome run = RunInProcess(On({"import-csv", csv, "--yes"}));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Jet 3"), std::string::npos) << run.err;
  EXPECT_TRUE(Bytes(TagDb()) == Bytes(file));
}

}  // namespace
}  // namespace pendra::cli::test
