// Rewriting a table of a real Access file: every table of the Access-made
// and tool-made test files with its own rows, with none, with 33,000
// generated rows and with fewer again; after each the file is clean, an
// independent reader (libmdb, through mdb::ReadAccessFile) reads exactly the
// rows written, and the file does not keep growing. Refusals leave the file
// byte for byte as it was.
#include "jet/TableRewrite.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "AccessFileCopies.h"
#include "CheckProblems.h"
#include "MdbReaderRun.h"
#include "access/AccessWriter.h"
#include "access/Fingerprint.h"
#include "access/RewriteImage.h"
#include "core/PlatformError.h"
#include "jet/Catalog.h"
#include "jet/Checker.h"
#include "jet/DataPage.h"
#include "jet/IndexTree.h"
#include "jet/JetFile.h"
#include "jet/RowLayout.h"
#include "jet/TableDefinition.h"
#include "jet/UsageMap.h"
#include "mdb/AccessFile.h"

namespace pendra::jet {
namespace {

namespace fs = std::filesystem;
// The whole write of a file on the disk (read, rewrite, check, replace).
using access::RewriteTable;
using test::Bytes;
using test::Problems;
using test::Read;
const std::string kData = PENDRA_ACCESS_TESTDATA;
using Rows = std::vector<std::vector<Variant>>;

// The rows as the npm package mdb-reader reads them: the count line first,
// then one line per row, sorted (it reads rows in an order of its own).
std::vector<std::string> MdbReaderRows(const std::string& path, const std::string& table) {
  std::vector<std::string> lines = test::MdbReaderLines(path, table);
  if (!lines.empty()) std::sort(lines.begin() + 1, lines.end());
  return lines;
}

class TableRewrite : public ::testing::Test {
 protected:
  std::string Copy(const std::string& name) { return copies_.Copy(name); }
  // Rewrites and checks: clean, the rows read back by libmdb.
  static void RewriteAndVerify(const std::string& path, const std::string& table, const Rows& rows, const std::string& what) {
    RewriteTable(path, table, rows);
    const FileCheck check = CheckAccessFile(path);
    EXPECT_TRUE(check.Clean()) << what << "\n" << Problems(check);
    const mdb::AccessTable back = Read(path, table);
    EXPECT_EQ(back.recordedRows, static_cast<long>(rows.size())) << what;
    ASSERT_EQ(back.rows.size(), rows.size()) << what;
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(back.rows[i].size(), rows[i].size()) << what;
      for (size_t c = 0; c < rows[i].size(); ++c)
        ASSERT_EQ(back.rows[i][c], rows[i][c]) << what << " row " << i << " column " << back.columns[c].name << ": "
                                               << back.rows[i][c].Describe() << " != " << rows[i][c].Describe();
    }
  }

  test::AccessFileCopies copies_{"pendra-jet-rewrite"};
  const fs::path& folder_ = copies_.Folder();
};

TEST_F(TableRewrite, EveryTableWithItsOwnRowsWithNoneAndAgain) {
  for (const char* name : {"ja_V2000.mdb", "ja_V2007.accdb", "ja_V2016.accdb", "testUnicodeCompV2003.mdb", "testEmoticonsV2010.accdb",
                           "test2V2000.mdb", "test2V2007.accdb"}) {
    const std::string path = Copy(name);
    for (const mdb::AccessTable& table : mdb::ReadAccessFile(path).tables) {
      const std::string what = std::string(name) + " " + table.name;
      // The second reader must read from our file what it read from theirs.
      const std::vector<std::string> original = MdbReaderRows(path, table.name);
      RewriteAndVerify(path, table.name, table.rows, what + " (own rows)");
      EXPECT_EQ(MdbReaderRows(path, table.name), original) << what;
      RewriteAndVerify(path, table.name, {}, what + " (no rows)");
      EXPECT_EQ(MdbReaderRows(path, table.name), std::vector<std::string>{"ROWS 0 0"}) << what;
      RewriteAndVerify(path, table.name, table.rows, what + " (own rows again)");
      EXPECT_EQ(MdbReaderRows(path, table.name), original) << what;
    }
  }
}

// What the database layer learns ahead of a rewrite (the check, Access's own
// keys) while the job works is what the rewrite would learn itself: with it
// or without it, every table of every file is written byte for byte alike.
TEST_F(TableRewrite, WhatIsLearntAheadChangesNoByte) {
  for (const char* name : {"ja_V2000.mdb", "ja_V2016.accdb", "testUnicodeCompV2003.mdb", "test2V2007.accdb"}) {
    const std::string path = Copy(name);
    for (const mdb::AccessTable& table : mdb::ReadAccessFile(path).tables) {
      SCOPED_TRACE(std::string(name) + " " + table.name);
      test::ExpectTheSameWithWhatIsLearntAhead(path, table.name, table.rows);
    }
  }
}

std::u16string Utf16Digits(size_t n) {
  std::u16string out;
  for (char c : std::to_string(n)) out += static_cast<char16_t>(c);
  return out;
}
std::string Utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
              static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return out;
}

// Each index's keys, in the order of its leaves.
std::map<std::string, std::vector<std::string>> IndexKeys(const std::string& path) {
  std::map<std::string, std::vector<std::string>> keys;
  const JetFile file(path);
  for (const CatalogEntry& entry : ReadCatalog(file)) {
    if (entry.system) continue;
    TableDefinition d = ReadTableDefinition(file, entry.definitionPage);
    for (const RealIndex& index : d.realIndexes)
      for (const IndexEntry& e : WalkIndex(file, d, index).entries) keys[entry.name + "/" + d.IndexNames(index.number)].push_back(e.key);
  }
  return keys;
}

TEST_F(TableRewrite, RebuiltIndexesHoldTheKeysAccessWrote) {
  for (const char* name : {"testUnicodeCompV2003.mdb", "testEmoticonsV2010.accdb", "test2V2000.mdb", "test2V2007.accdb"}) {
    const std::string path = Copy(name);
    const auto before = IndexKeys(path);
    size_t entries = 0;
    for (const auto& [index, keys] : before) entries += keys.size();
    EXPECT_GT(entries, 0u) << name;
    for (const mdb::AccessTable& table : mdb::ReadAccessFile(path).tables) RewriteTable(path, table.name, table.rows);
    EXPECT_EQ(IndexKeys(path), before) << name;
  }
}

// KikiMaster's columns: タグ名 Text(32), 機器名称 Text(64), 開始操作値 Long,
// 終了操作値 Long, 更新日時 Date/Time.
Rows GeneratedKikiRows(size_t count) {
  const std::vector<std::string> names = {"ポンプ１号機", "ﾌﾞﾛﾜｰ", "𠮷野家😀", "", "Mixed Case Name", "漢字仮名交じり文"};
  Rows rows;
  for (size_t i = 0; i < count; ++i) {
    std::vector<Variant> row;
    row.emplace_back((i % 2 ? "t" : "T") + std::to_string(100000 + i));
    row.push_back(i % 7 == 0 ? Variant::Null() : Variant(names[i % names.size()] + std::to_string(i % 100)));
    const int32_t bounds[] = {INT32_MIN, -1, 0, 1, INT32_MAX};
    row.push_back(i % 11 == 0 ? Variant::Null() : Variant(bounds[i % 5]));
    row.push_back(Variant(static_cast<int32_t>(i)));
    row.push_back(i % 13 == 0 ? Variant::Null() : Variant::Date(-700000.5 + static_cast<double>(i) * 61.25));
    rows.push_back(std::move(row));
  }
  return rows;
}

// The generated rows as read-table.js prints them.
std::vector<std::string> AsMdbReaderPrints(const Rows& rows) {
  std::vector<std::string> lines = {"ROWS " + std::to_string(rows.size()) + " " + std::to_string(rows.size())};
  for (const auto& row : rows) {
    std::string line = "[";
    for (size_t c = 0; c < row.size(); ++c) {
      const Variant& v = row[c];
      line += c ? "," : "";
      if (v.IsNull()) {
        line += "null";
      } else if (v.IsString()) {
        line += R"({"t":"text","v":")" + v.StringValue() + "\"}";
      } else if (v.Type() == VarType::Date) {
        line += R"({"t":"date","v":)" + std::to_string(std::llround((v.DoubleValue() - 25569.0) * 86400000.0)) + "}";
      } else {
        line += R"({"t":"num","v":")" + std::to_string(v.IntegerValue()) + "\"}";
      }
    }
    lines.push_back(line + "]");
  }
  std::sort(lines.begin() + 1, lines.end());
  return lines;
}

TEST_F(TableRewrite, ThirtyThreeThousandRowsThenFewerAndThePagesAreReused) {
  const std::string path = Copy("ja_V2000.mdb");
  const Rows many = GeneratedKikiRows(33000);
  RewriteAndVerify(path, "KikiMaster", many, "33,000 rows");
  EXPECT_EQ(MdbReaderRows(path, "KikiMaster"), AsMdbReaderPrints(many));
  const size_t once = fs::file_size(path);
  const FileCheck check = CheckAccessFile(path);
  for (const TableCheck& t : check.tables)
    if (t.name == "KikiMaster") {
      EXPECT_NE(t.notes.front().find("参照"), std::string::npos) << t.notes.front();
    }
  RewriteAndVerify(path, "KikiMaster", GeneratedKikiRows(10), "10 rows");
  EXPECT_EQ(MdbReaderRows(path, "KikiMaster"), AsMdbReaderPrints(GeneratedKikiRows(10)));
  for (int i = 0; i < 9; ++i) RewriteTable(path, "KikiMaster", many);
  RewriteAndVerify(path, "KikiMaster", many, "33,000 rows, the tenth time");
  EXPECT_LE(fs::file_size(path), once * 12 / 10) << "once " << once;
}

// 型テスト: every type at its bounds, Null and zero-length values, and Memo
// and OLE values inside the row (up to 64 bytes), in one row elsewhere and
// in chains of rows.
TEST_F(TableRewrite, EveryTypeAtItsBoundsAndLongValuesOfEverySize) {
  const size_t memoLengths[] = {0, 1, 32, 33, 2038, 2039, 5000, 40000};  // characters, two bytes each
  const size_t oleLengths[] = {0, 64, 65, 4076, 4077, 20000};
  Rows rows;
  for (size_t i = 0; i < 48; ++i) {
    std::string memo;
    for (size_t n = 0; n < memoLengths[i % 8]; ++n) memo += (n % 3 == 0) ? "長" : (n % 3 == 1 ? "a" : "😀");
    std::string ole;
    for (size_t n = 0; n < oleLengths[i % 6]; ++n) ole += static_cast<char>((n * 7 + i) & 0xFF);
    const bool low = i % 2 == 0;
    std::vector<Variant> row = {
        Variant(static_cast<int32_t>(i + 1)),
        i % 5 == 0 ? Variant::Null() : Variant(i % 5 == 1 ? std::string() : "テキスト T" + std::to_string(i)),
        i % 9 == 0 ? Variant::Null() : Variant(memo),
        Variant::Byte(low ? 0 : 255),
        Variant(static_cast<int16_t>(low ? -32768 : 32767)),
        Variant(static_cast<int32_t>(low ? INT32_MIN : INT32_MAX)),
        Variant::Single(low ? 1.401298464324817e-45f : -3.4028235e38f),
        Variant(low ? 5e-324 : -1.7976931348623157e308),
        Variant::Currency(low ? INT64_MIN + 1 : INT64_MAX),
        Variant::Date(low ? -657434.0 : 2958465.99998843),
        Variant(i % 3 == 0),
        Variant(low ? std::string("-99999999999999.9999") : std::string("12.5")),
        i % 4 == 0 ? Variant::Null() : Variant(std::string("{6B29FC40-CA47-1067-B31D-00DD010662DA}")),
        i % 7 == 0 ? Variant::Null() : Variant(ole),
    };
    if (i % 11 == 10) {
      for (size_t c = 1; c < row.size(); ++c)
        if (c != 10) row[c] = Variant::Null();
    }
    rows.push_back(std::move(row));
  }
  for (const char* name : {"ja_V2000.mdb", "ja_V2007.accdb"}) {
    const std::string path = Copy(name);
    RewriteAndVerify(path, "型テスト", rows, std::string(name) + " every type");
    RewriteAndVerify(path, "型テスト", Rows(rows.begin(), rows.begin() + 3), std::string(name) + " fewer");
  }
}

// Rows given by their place in the file (the rows nobody changed) beside
// rows given as values: the kept rows are stored byte for byte as before,
// in the order given. A place that holds no row of the table, a row kept
// twice and a kept row whose long value lies outside it are refused with
// the image unchanged.
class MixedRows final : public RowSource {
 public:
  std::vector<GivenRow> rows;
  void ForEach(const std::function<void(const GivenRow&)>& take, bool = true) const override {
    for (const GivenRow& row : rows) take(row);
  }
};

std::vector<std::string> StoredRowsOf(const JetFile& file, const std::string& table) {
  const TableDefinition d = ReadTableDefinition(file, FindTable(file, table).definitionPage);
  std::vector<std::string> rows;
  for (const LiveRow& row : LiveRows(file, ReadUsageMap(file, d.ownedMap).pages)) rows.emplace_back(row.bytes);
  return rows;
}

TEST_F(TableRewrite, KeptRowsAreStoredByteForByteOrRefused) {
  const std::string path = Copy("ja_V2000.mdb");
  // 型テスト's long values outside their rows first.
  RewriteTable(path, "型テスト", {{Variant(int32_t{1}), Variant("t"), Variant(std::string(5000, 'm')), Variant::Byte(1),
                                  Variant(int16_t{1}), Variant(int32_t{1}), Variant::Single(1), Variant(1.0), Variant::Currency(1),
                                  Variant::Date(1), Variant(true), Variant(std::string("1")), Variant::Null(), Variant::Null()}});
  const mdb::AccessTable kiki = Read(path, "KikiMaster");
  const mdb::AccessTable types = Read(path, "型テスト");
  ASSERT_EQ(kiki.places.size(), kiki.rows.size());
  ASSERT_EQ(types.places.size(), 1u);
  const std::vector<Variant> added = {Variant("新しい行"), Variant("追加"), Variant(int32_t{1}), Variant(int32_t{0}), Variant::Null()};
  struct Case {
    const char* what;
    const char* table;
    std::function<std::vector<GivenRow>()> rows;
    long error;  // 0: written
  };
  const auto keptInReverse = [&] {
    std::vector<GivenRow> rows{{&added, 0}};
    for (auto place = kiki.places.rbegin(); place != kiki.places.rend(); ++place) rows.push_back({nullptr, *place});
    return rows;
  };
  const std::vector<Case> cases = {
      {"every row kept, in reverse, after a new one", "KikiMaster", keptInReverse, 0},
      {"a place holding no row", "KikiMaster", [&] { return std::vector<GivenRow>{{nullptr, kiki.places[0] + 100}}; }, 3049},
      {"a row kept twice", "KikiMaster", [&] { return std::vector<GivenRow>{{nullptr, kiki.places[0]}, {nullptr, kiki.places[0]}}; }, 3049},
      {"a long value outside the kept row", "型テスト", [&] { return std::vector<GivenRow>{{nullptr, types.places[0]}}; }, 3219},
  };
  for (const Case& c : cases) {
    JetFile file(path);
    const std::string before = file.bytes();
    const std::vector<std::string> storedBefore = StoredRowsOf(file, c.table);
    MixedRows given;
    given.rows = c.rows();
    if (c.error != 0) {
      try {
        jet::RewriteTable(file, c.table, given);
        ADD_FAILURE() << c.what << ": written";
      } catch (const PlatformError& e) {
        EXPECT_EQ(e.Number(), c.error) << c.what << ": " << e.Description();
      }
      EXPECT_TRUE(file.bytes() == before) << c.what;
      continue;
    }
    jet::RewriteTable(file, c.table, given);
    std::vector<std::string> stored = StoredRowsOf(file, c.table);
    ASSERT_EQ(stored.size(), storedBefore.size() + 1) << c.what;
    EXPECT_EQ(std::vector<std::string>(stored.begin() + 1, stored.end()),
              std::vector<std::string>(storedBefore.rbegin(), storedBefore.rend()))
        << c.what;
    const JetFile written(file.bytes(), path);
    EXPECT_TRUE(CheckAccessFile(written).Clean()) << c.what << "\n" << Problems(CheckAccessFile(written));
  }
}

// Rows for any table of ours, by column type: Japanese, mixed case, emoji,
// Null and zero-length text, numbers at their bounds, dates before 1900.
// (No ー: the General order's key for it is not known, and one of the
// files is in that order.)
Rows GeneratedRows(const std::vector<mdb::AccessColumn>& columns, size_t count) {
  const std::vector<std::u16string> words = {u"ポンプ", u"ﾌﾞﾛﾜ", u"𠮷野家😀", u"Mixed", u"mixed", u"漢字仮名交じり文", u"T001", u"t001"};
  Rows rows;
  for (size_t i = 0; i < count; ++i) {
    std::vector<Variant> row;
    for (size_t c = 0; c < columns.size(); ++c) {
      const mdb::AccessColumn& column = columns[c];
      const bool null = !column.required && (i + c) % 17 == 3;
      const bool low = (i + c) % 2 == 0;
      switch (static_cast<AccessType>(column.type)) {
        case mdb::AccessType::YesNo: row.emplace_back(i % 3 == 0); continue;
        case mdb::AccessType::Byte: row.push_back(null ? Variant::Null() : Variant::Byte(low ? 0 : 255)); continue;
        case mdb::AccessType::Integer: row.push_back(null ? Variant::Null() : Variant(static_cast<int16_t>(low ? -32768 : 32767))); continue;
        case mdb::AccessType::Long:
          // Column 0 is the key of these tables: unique, never Null.
          row.push_back(c == 0 ? Variant(static_cast<int32_t>(i + 1)) : null ? Variant::Null() : Variant(static_cast<int32_t>(low ? INT32_MIN : INT32_MAX - static_cast<int32_t>(i))));
          continue;
        case mdb::AccessType::Double: row.push_back(null ? Variant::Null() : Variant(low ? -1.5e300 : static_cast<double>(i) / 7)); continue;
        case mdb::AccessType::DateTime: row.push_back(null ? Variant::Null() : Variant::Date(-36500.25 + static_cast<double>(i))); continue;
        case mdb::AccessType::Text: {
          if (c == 0 && i > 0) {  // a unique text key
            row.emplace_back("K" + std::to_string(i));
            continue;
          }
          if (null) {
            row.push_back(Variant::Null());
            continue;
          }
          std::u16string text = (i + c) % 13 == 5 ? u"" : words[(i + c) % words.size()] + Utf16Digits(i);
          text = text.substr(0, static_cast<size_t>(column.size));
          if (!text.empty() && text.back() >= 0xD800 && text.back() < 0xDC00) text.pop_back();
          row.emplace_back(Utf8(text));
          continue;
        }
        default: row.push_back(Variant::Null());
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

TEST_F(TableRewrite, ThirtyThreeThousandGeneratedRowsInEachFormat) {
  struct Case {
    const char* file;
    const char* table;
  };
  const Case cases[] = {{"ja_V2007.accdb", "M_TAG"}, {"ja_V2016.accdb", "GroupMaster"}, {"testUnicodeCompV2003.mdb", "Table"},
                        {"testEmoticonsV2010.accdb", "data"}};
  for (const Case& c : cases) {
    const std::string path = Copy(c.file);
    const std::vector<mdb::AccessColumn> columns = Read(path, c.table).columns;
    const std::string what = std::string(c.file) + " " + c.table;
    RewriteAndVerify(path, c.table, GeneratedRows(columns, 33000), what + " 33,000 rows");
    EXPECT_EQ(MdbReaderRows(path, c.table).front(), "ROWS 33000 33000") << what;
    RewriteAndVerify(path, c.table, GeneratedRows(columns, 100), what + " 100 rows");
  }
}

TEST_F(TableRewrite, AutoNumberNullGetsTheNextNumber) {
  const std::string path = Copy("testUnicodeCompV2003.mdb");
  Rows rows = Read(path, "Table").rows;
  const int64_t last = rows.back()[0].IntegerValue();
  rows.push_back({Variant::Null(), Variant("新しい行")});
  RewriteTable(path, "Table", rows);
  rows.back()[0] = Variant(static_cast<int32_t>(last + 1));
  RewriteAndVerify(path, "Table", rows, "the next AutoNumber");
}

TEST_F(TableRewrite, RefusalsLeaveTheFileAsItWas) {
  struct Case {
    const char* what;
    const char* file;
    const char* table;
    std::function<void(const std::string& path)> prepare;
    std::function<Rows(const std::string& path)> rows;
    long error;
    const char* message;
  };
  const auto ownRows = [](const char* table) { return [table](const std::string& path) { return Read(path, table).rows; }; };
  const auto nothing = [](const std::string&) {};
  const auto patch = [](size_t at, char value) {
    return [at, value](const std::string& path) {
      std::string bytes = Bytes(path);
      bytes[at] = value;
      std::ofstream(path, std::ios::binary) << bytes;
    };
  };
  const auto definitionByte = [](const char* table, std::function<size_t(const JetFile&, const TableDefinition&)> at, char value) {
    return [table, at, value](const std::string& path) {
      JetFile file(path);
      const TableDefinition d = ReadTableDefinition(file, FindTable(file, table).definitionPage);
      const DefinitionPlace place = PlaceOf(file, d, at(file, d));
      file.bytes()[place.page * file.PageSize() + place.offset] = value;
      std::ofstream(path, std::ios::binary) << file.bytes();
    };
  };
  const std::vector<Case> cases = {
      {"Jet 3", "testV1997.mdb", "Table1", nothing, [](const std::string&) { return Rows{}; }, 3219, "Jet 3"},
      {"encoded", "ja_V2000.mdb", "KikiMaster", patch(0x3E, 0x11), ownRows("KikiMaster"), 3219, "暗号化"},
      {"duplicate primary key", "testUnicodeCompV2003.mdb", "Table", nothing,
       [](const std::string& path) {
         Rows rows = Read(path, "Table").rows;
         rows.push_back({rows[2][0], Variant("重複")});
         return rows;
       },
       3022, "索引 'PrimaryKey' の値 (3) が重複しています"},
      {"T001 and t001 in a unique text index", "ja_V2000.mdb", "KikiMaster",
       [definitionByte](const std::string& path) {
         // Rows with distinct keys first, so that the index may be unique.
         RewriteTable(path, "KikiMaster", GeneratedKikiRows(2));
         definitionByte("KikiMaster", [](const JetFile& f, const TableDefinition& d) {
           return d.realIndexes[0].rootPageAt + 4 + (f.IsJet3() ? 0 : 4); }, static_cast<char>(0x81))(path);
       },
       [](const std::string&) {
         Rows rows = GeneratedKikiRows(2);
         rows[0][0] = Variant("T001");
         rows[1][0] = Variant("t001");
         return rows;
       },
       3022, "索引 'タグ名' の値 (t001) が重複しています"},
      {"Korean sort order", "ja_V2000.mdb", "KikiMaster",
       definitionByte("KikiMaster", [](const JetFile& f, const TableDefinition& d) {
         return d.columns[0].descriptorAt + f.layout().columnSortOrder; }, 0x12),
       ownRows("KikiMaster"), 3219, "並べ替え順 1042"},
      {"a kanji without a known key in the Japanese sort order", "ja_V2000.mdb", "KikiMaster",
       definitionByte("KikiMaster", [](const JetFile& f, const TableDefinition& d) {
         return d.columns[0].descriptorAt + f.layout().columnSortOrder; }, 0x11),
       [](const std::string& path) {
         Rows rows = Read(path, "KikiMaster").rows;
         rows[0][0] = Variant("鬱");
         return rows;
       },
       3219, "文字 '鬱' (U+9B31)"},
      {"relationship", "testUnicodeCompV2003.mdb", "Table",
       definitionByte("Table", [](const JetFile&, const TableDefinition& d) { return d.logicalIndexes[1].kindAt; }, 2),
       ownRows("Table"), 3219, "リレーションシップ (索引 'Unicode')"},
      {"damaged", "ja_V2000.mdb", "KikiMaster",
       definitionByte("KikiMaster", [](const JetFile& f, const TableDefinition&) { return f.layout().tdefRows; }, 9),
       [](const std::string&) { return Rows{}; }, 3049, "記録された行数 9"},
      {"not a database", "ja_V2000.mdb", "KikiMaster", [](const std::string& path) { std::ofstream(path) << "hello"; },
       [](const std::string&) { return Rows{}; }, 3343, ""},
      {"no such table", "ja_V2000.mdb", "NoSuchTable", nothing, [](const std::string&) { return Rows{}; }, 3078, "NoSuchTable"},
      {"read-only file", "ja_V2000.mdb", "KikiMaster", [](const std::string& path) { fs::permissions(path, fs::perms::owner_read); },
       ownRows("KikiMaster"), 3051, "読み取り専用"},
      {"read-only folder", "ja_V2000.mdb", "KikiMaster",
       [](const std::string& path) { fs::permissions(fs::path(path).parent_path(), fs::perms::owner_read | fs::perms::owner_exec); },
       ownRows("KikiMaster"), 3051, "フォルダー"},
      {"open in Access", "ja_V2000.mdb", "KikiMaster",
       [](const std::string& path) { std::ofstream(fs::path(path).replace_extension(".ldb")) << ""; }, ownRows("KikiMaster"), 3260, ".ldb"},
      {"a key longer than an index page can hold", "ja_V2000.mdb", "KikiMaster",
       [](const std::string& path) {
         // タグ名 and 機器名称 widened to 255 characters, the index over
         // them five times each (ten columns, the most an index has).
         JetFile file(path);
         const TableDefinition d = ReadTableDefinition(file, FindTable(file, "KikiMaster").definitionPage);
         const auto put = [&](size_t at, uint32_t value, size_t bytes) {
           for (size_t i = 0; i < bytes; ++i) {
             const DefinitionPlace place = PlaceOf(file, d, at + i);
             file.bytes()[place.page * file.PageSize() + place.offset] = static_cast<char>((value >> (8 * i)) & 0xFF);
           }
         };
         for (int c = 0; c < 2; ++c) put(d.columns[static_cast<size_t>(c)].descriptorAt + file.layout().columnLength, 510, 2);
         const size_t slots = d.realIndexes[0].rootPageAt - 4 - 30;
         for (size_t i = 0; i < 10; ++i) {
           put(slots + 3 * i, static_cast<uint32_t>(d.columns[i % 2].number), 2);
           put(slots + 3 * i + 2, 1, 1);
         }
         std::ofstream(path, std::ios::binary) << file.bytes();
       },
       [](const std::string&) {
         Rows rows = GeneratedKikiRows(1);
         std::string kanji;
         for (int i = 0; i < 255; ++i) kanji += "漢";
         rows[0][0] = Variant(kanji);
         rows[0][1] = Variant(kanji);
         return rows;
       },
       3219, "キーが長すぎ"},
      {"a text beginning with U+FEFF (read back as compressed text)", "ja_V2000.mdb", "KikiMaster", nothing,
       [](const std::string&) {
         Rows rows = GeneratedKikiRows(2);
         rows[1][0] = Variant(std::string("\xEF\xBB\xBF\xE4\xB8\x80"));
         return rows;
       },
       3219, "U+FEFF"},
      {"text too long", "ja_V2000.mdb", "KikiMaster", nothing,
       [](const std::string&) {
         Rows rows = GeneratedKikiRows(1);
         rows[0][0] = Variant(std::string(33, 'x'));
         return rows;
       },
       3163, "タグ名"},
  };
  for (const Case& c : cases) {
    const std::string path = Copy(c.file);
    const Rows rows = c.rows(path);
    c.prepare(path);
    const std::string before = Bytes(path);
    try {
      RewriteTable(path, c.table, rows);
      ADD_FAILURE() << c.what << ": not refused";
    } catch (const PlatformError& e) {
      EXPECT_EQ(e.Number(), c.error) << c.what << ": " << e.Description();
      EXPECT_NE(e.Description().find(c.message), std::string::npos) << c.what << ": " << e.Description();
    }
    EXPECT_EQ(Bytes(path), before) << c.what;
    fs::permissions(folder_, fs::perms::owner_all);
    for (const auto& left : fs::directory_iterator(folder_))
      EXPECT_FALSE(left.path().filename().string().starts_with(".~")) << c.what << ": " << left.path();
    fs::remove(fs::path(path).replace_extension(".ldb"));
    fs::remove(path);
  }
}

// Images larger than `bytes` are rewritten in the temporary file while one
// of these lives.
class LargestImageInMemory {
 public:
  explicit LargestImageInMemory(size_t bytes) : before_(access::SetLargestImageInMemory(bytes)) {}
  ~LargestImageInMemory() { access::SetLargestImageInMemory(before_); }
  LargestImageInMemory(const LargestImageInMemory&) = delete;
  LargestImageInMemory& operator=(const LargestImageInMemory&) = delete;

 private:
  size_t before_;
};

// The ways an image is rewritten: in memory; in the temporary file from the
// first byte; moved there once it outgrows 256 KB.
constexpr size_t kImagesInMemory[] = {SIZE_MAX, 0, 256 * 1024};

// A large image, rewritten in the temporary file, ends as exactly the bytes
// the same rewrite gives in memory: rows, long values, indexes and maps.
TEST_F(TableRewrite, AnImageInTheTemporaryFileEndsAsTheSameBytes) {
  struct Case {
    const char* file;
    const char* table;  // nullptr: every table with its own rows
  };
  for (const Case& c : {Case{"ja_V2000.mdb", "KikiMaster"}, Case{"ja_V2016.accdb", "KikiMaster"}, Case{"test2V2007.accdb", nullptr},
                        Case{"testUnicodeCompV2003.mdb", nullptr}}) {
    std::vector<std::string> written;
    for (const size_t inMemory : kImagesInMemory) {
      const LargestImageInMemory largest(inMemory);
      const std::string path = Copy(c.file);
      if (c.table != nullptr) {
        RewriteTable(path, c.table, GeneratedKikiRows(20000));
      } else {
        for (const mdb::AccessTable& table : mdb::ReadAccessFile(path).tables) RewriteTable(path, table.name, table.rows);
      }
      EXPECT_TRUE(CheckAccessFile(path).Clean()) << c.file << " " << inMemory;
      written.push_back(Bytes(path));
      EXPECT_TRUE(written.back() == written.front()) << c.file << ": " << inMemory << " bytes in memory";
      for (const auto& left : fs::directory_iterator(folder_))
        EXPECT_FALSE(left.path().filename().string().starts_with(".~")) << left.path();
    }
  }
}

// The commit reads the file again in 1 MiB pieces, straight into the
// rewrite's image: its fingerprint is the one the job took of the file
// read whole, at every size around a piece's end, and a byte changed in
// the last piece (with the file's time set back) still shows.
TEST_F(TableRewrite, TheFileReadInPiecesHasTheFingerprintOfTheFileReadWhole) {
  constexpr size_t kPiece = size_t{1} << 20;
  std::mt19937 random(7);
  for (const size_t size : {size_t{0}, size_t{1}, kPiece - 1, kPiece, kPiece + 1, 3 * kPiece + kPiece / 2}) {
    SCOPED_TRACE(size);
    const std::string path = (folder_ / "pieces.mdb").string();
    std::string bytes(size, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    const access::Fingerprint whole = access::FingerprintOf(access::ReadAccessImage(path));
    std::string copied;
    EXPECT_TRUE(access::CurrentFingerprint(path, [&](std::string_view piece) { copied += piece; }) == whole);
    EXPECT_TRUE(copied == bytes);
    if (size == 0) continue;
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    bytes.back() = static_cast<char>(bytes.back() ^ 0x01);
    std::ofstream(path, std::ios::binary | std::ios::in | std::ios::out) << bytes;
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const access::Fingerprint changed = access::CurrentFingerprint(path);
    EXPECT_TRUE(changed.identity == whole.identity);
    EXPECT_NE(changed.hash, whole.hash);
  }
}

// A rewrite killed at a random moment leaves the old file or the new one,
// whole and clean, wherever the image was.
TEST_F(TableRewrite, KilledAnywhereLeavesTheOldFileOrTheNewOne) {
  for (const size_t inMemory : {SIZE_MAX, size_t{0}}) {
    const LargestImageInMemory largest(inMemory);
    SCOPED_TRACE(inMemory);
    const std::string path = Copy("ja_V2000.mdb");
    const Rows many = GeneratedKikiRows(3000);
    const std::string expectedCopy = (folder_ / "expected.mdb").string();
    fs::copy_file(path, expectedCopy, fs::copy_options::overwrite_existing);
    RewriteTable(expectedCopy, "KikiMaster", many);
    const std::string newBytes = Bytes(expectedCopy);
    const std::string oldBytes = Bytes(path);
    std::mt19937 random(12345);
    // How long one rewrite takes here, to spread the kills over it.
    const auto start = std::chrono::steady_clock::now();
    RewriteTable(expectedCopy, "KikiMaster", many);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 20; ++round) {
      fs::copy_file(kData + std::string("/ja_V2000.mdb"), path, fs::copy_options::overwrite_existing);
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        try {
          RewriteTable(path, "KikiMaster", many);
        } catch (...) {
          _exit(3);
        }
        _exit(0);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<long>(0, micros * 12 / 10)(random)));
      kill(child, SIGKILL);
      int status = 0;
      waitpid(child, &status, 0);
      const std::string now = Bytes(path);
      ASSERT_TRUE(now == oldBytes || now == newBytes) << "round " << round << ": a mixture of " << now.size() << " bytes";
      (now == oldBytes ? sawOld : sawNew)++;
      EXPECT_TRUE(CheckAccessFile(path).Clean()) << "round " << round;
      for (const auto& left : fs::directory_iterator(folder_))
        if (left.path().filename().string().starts_with(".~")) fs::remove(left.path());
    }
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
  }
}

// A table whose columns are all fixed-length (the Access-made table
// `order`): its rows are read and written without a variable-length
// section, byte for byte as Access wrote them.
TEST_F(TableRewrite, AllFixedLengthRowsAsAccessWritesThem) {
  for (const char* name : {"public_domain_sample.mdb", "public_domain_sample.accdb"}) {
    const std::string path = Copy(name);
    const auto rowBytes = [&] {
      const JetFile file(path);
      const TableDefinition d = ReadTableDefinition(file, FindTable(file, "order").definitionPage);
      std::vector<std::string> bytes;
      for (const LiveRow& row : LiveRows(file, DataPagesOf(file, d.page))) bytes.emplace_back(row.bytes);
      return bytes;
    };
    const std::vector<std::string> accessWrote = rowBytes();
    ASSERT_FALSE(accessWrote.empty()) << name;
    const std::vector<std::string> original = MdbReaderRows(path, "order");
    const Rows rows = Read(path, "order").rows;
    RewriteAndVerify(path, "order", rows, std::string(name) + " order (own rows)");
    EXPECT_EQ(rowBytes(), accessWrote) << name;
    EXPECT_EQ(MdbReaderRows(path, "order"), original) << name;
    Rows more = rows;
    for (int32_t i = 0; i < 40; ++i) more.push_back({Variant(1000 + i), i % 3 ? Variant(i) : Variant::Null(), Variant(-i)});
    RewriteAndVerify(path, "order", more, std::string(name) + " order (more rows)");
    EXPECT_EQ(MdbReaderRows(path, "order").front(), "ROWS 41 41") << name;
  }
}

// Several rows whose indexed columns are all Null in a unique index that
// does not ignore Nulls: Access allows them (Nulls never collide), and so
// do the writer and the check; a repeated value is still refused.
TEST_F(TableRewrite, SeveralNullsInAUniqueIndex) {
  const std::string path = Copy("ja_V2000.mdb");
  {
    JetFile file(path);
    const TableDefinition d = ReadTableDefinition(file, FindTable(file, "KikiMaster").definitionPage);
    const DefinitionPlace flags = PlaceOf(file, d, d.realIndexes[0].rootPageAt + 8);
    file.bytes()[flags.page * file.PageSize() + flags.offset] = 0x01;  // unique, Nulls not ignored
    std::ofstream(path, std::ios::binary) << file.bytes();
  }
  Rows rows = GeneratedKikiRows(5);
  for (size_t i : {1, 3, 4}) rows[i][0] = Variant::Null();
  RewriteAndVerify(path, "KikiMaster", rows, "three Nulls in a unique index");
  rows[3][0] = rows[0][0];
  try {
    RewriteTable(path, "KikiMaster", rows);
    ADD_FAILURE() << "a repeated value in a unique index was written";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), 3022) << e.Description();
  }
}

TEST_F(TableRewrite, OwnerAndModeAreKept) {
  const std::string path = Copy("ja_V2000.mdb");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  struct stat before {};
  stat(path.c_str(), &before);
  RewriteTable(path, "GroupMaster", Read(path, "GroupMaster").rows);
  struct stat after {};
  stat(path.c_str(), &after);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file, renamed into place
}

// Damage in 型テスト's long values: each points at a row slot that does
// not exist on a long-value page of another table (the catalogue's). That
// page holds live rows none of which are 型テスト's, so the rewrite must
// leave it as it is, however many of our pointers name it.
TEST_F(TableRewrite, ALongValuePageIsGivenBackOnlyWhenEveryLiveRowOnItIsOurs) {
  const std::string path = Copy("ja_V2000.mdb");
  const Rows rows = Read(path, "型テスト").rows;
  JetFile file(path);
  const TableDefinition table = ReadTableDefinition(file, FindTable(file, "型テスト").definitionPage);
  std::vector<size_t> pointers;   // where each long value's 12-byte header lies in the file
  std::set<uint32_t> ours;
  for (const LiveRow& row : LiveRows(file, ReadUsageMap(file, table.ownedMap).pages)) {
    const StoredRow stored(file, row.bytes);
    for (const Column& column : table.columns) {
      const StoredField field = stored.Field(column);
      if ((column.type != 11 && column.type != 12) || field.null || field.bytes.size() < 12) continue;
      pointers.push_back(static_cast<size_t>(field.bytes.data() - file.bytes().data()));
      if (static_cast<uint8_t>(field.bytes[3]) != 0x80) ours.insert(Le32(field.bytes, 4) >> 8);
    }
  }
  const std::vector<uint32_t> freePages = ReadUsageMap(file, kGlobalUsageMap).pages;
  uint32_t target = 0;
  size_t fewest = SIZE_MAX;
  for (uint32_t page = 3; page < file.PageCount(); ++page) {
    if (!IsLongValuePage(file, page) || ours.count(page) || std::count(freePages.begin(), freePages.end(), page)) continue;
    const std::vector<RowSlot> slots = RowSlots(file, page);
    const auto live = static_cast<size_t>(std::count_if(slots.begin(), slots.end(), [](const RowSlot& s) { return !s.deleted; }));
    if (live > 0 && live < fewest) std::tie(target, fewest) = std::make_tuple(page, live);
  }
  ASSERT_NE(target, 0u);
  ASSERT_GE(pointers.size(), fewest);   // enough of our pointers to match its count of live rows
  for (size_t i = 0; i < pointers.size(); ++i) {
    file.bytes()[pointers[i] + 3] = 0x40;   // one row elsewhere
    PutLe32(file.bytes(), pointers[i] + 4, target << 8 | static_cast<uint32_t>(200 + i));
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file.bytes();
  const std::string page(JetFile(path).Page(target));
  try {
    RewriteTable(path, "型テスト", rows);
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), 3049) << e.Description();   // refused as damaged: as good
  }
  EXPECT_EQ(std::string(JetFile(path).Page(target)), page);
}

// On a full disk (a small file system of its own, mounted in a child's
// own mount namespace): 3026 saying the disk is full, the file as it was,
// no temporary file left on the disk.
TEST_F(TableRewrite, AFullDiskIsReportedAsSuchAndLeavesNothingBehind) {
  for (const size_t inMemory : {SIZE_MAX, size_t{0}}) {
    SCOPED_TRACE(inMemory);
    const fs::path disk = folder_ / "disk";
    const std::string report = (folder_ / "report").string();
    fs::create_directories(disk);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      access::SetLargestImageInMemory(inMemory);
      std::ofstream out(report);
      const std::string size = "size=" + std::to_string(fs::file_size(kData + "/ja_V2000.mdb") + 16384);
      if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount("tmpfs", disk.c_str(), "tmpfs", 0, size.c_str()) != 0) {
        out << "no file system of its own: " << std::strerror(errno) << "\n";
        _exit(1);
      }
      const std::string path = (disk / "Orvik.mdb").string();
      fs::copy_file(kData + "/ja_V2000.mdb", path);
      const std::string before = Bytes(path);
      try {
        RewriteTable(path, "KikiMaster", GeneratedKikiRows(3000));
        out << "written\n";
      } catch (const PlatformError& e) {
        out << e.Number() << "\n" << e.Description() << "\n";
      }
      out << (Bytes(path) == before ? "unchanged" : "changed") << "\n";
      for (const auto& left : fs::directory_iterator(disk)) out << left.path().filename().string() << "\n";
      out.close();
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::vector<std::string> lines;
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "3026");
    EXPECT_NE(lines[1].find("ディスクがいっぱい"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find((disk / "Orvik.mdb").string()), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "unchanged");
    EXPECT_EQ(lines[3], "Orvik.mdb");
  }
}

}  // namespace
}  // namespace pendra::jet
