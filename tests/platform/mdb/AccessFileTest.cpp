// Real Access files of every version (tests/data/access/) read
// through the layer and compared, value by value, with what an independent
// reader read from them: Null and empty text, every integer width, Double
// and Single bits, currency, dates before 1899-12-30, decimals, GUIDs,
// binary data, compressed Unicode and characters beyond the Basic
// Multilingual Plane. Damaged files must say so.
#include <gtest/gtest.h>

#include <glib.h>

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/PlatformError.h"
#include "dao/DateText.h"
#include "mdb/AccessFile.h"
#include "mdb/MdbReader.h"
#include "mdb/Wire.h"
#include "DamagedCopies.h"

namespace pendra::mdb {
namespace {

namespace fs = std::filesystem;

const fs::path kData = PENDRA_ACCESS_TESTDATA;

std::string Hex(uint64_t bits, int digits) {
  char text[20];
  std::snprintf(text, sizeof text, "%0*" PRIx64, digits, bits);
  return text;
}

std::string Quoted(const std::string& text) {
  std::string out = "S\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// A value in the reference's notation.
std::string Notation(const Variant& v, int type) {
  if (v.IsNull()) return "NULL";
  switch (static_cast<AccessType>(type)) {
    case AccessType::YesNo: return v.BooleanValue() ? "B:1" : "B:0";
    case AccessType::Byte: case AccessType::Integer: case AccessType::Long:
      return "I:" + std::to_string(v.IntegerValue());
    case AccessType::Currency: return "M:" + std::to_string(v.CurrencyScaled());
    case AccessType::Single: {
      const float f = static_cast<float>(v.DoubleValue());
      uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      return "F:" + Hex(bits, 8);
    }
    case AccessType::Double: {
      const double d = v.DoubleValue();
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      return "D:" + Hex(bits, 16);
    }
    case AccessType::DateTime: return "T:" + dao::detail::StoredDateText(v.DoubleValue());
    case AccessType::Decimal: return "N:" + v.StringValue();
    case AccessType::Guid: return "G:" + v.StringValue();
    case AccessType::Binary: case AccessType::Ole: {
      const std::string& bytes = v.StringValue();
      gchar* md5 = g_compute_checksum_for_data(G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
      const std::string out = "X:" + std::to_string(bytes.size()) + ":" + md5;
      g_free(md5);
      return out;
    }
    default: return Quoted(v.StringValue());
  }
}

// The file read by the layer, in the reference's notation. Columns whose
// type the layer cannot read are left out of both sides.
std::string Reading(const AccessDatabase& database, std::vector<std::string>& unreadable) {
  std::ostringstream out;
  for (const auto& table : database.tables) {
    out << "TABLE " << table.name << " rows=" << table.recordedRows << "\n";
    for (const auto& c : table.columns) {
      out << "COL " << c.name << " type=" << c.type;
      if (c.type == static_cast<int>(AccessType::Text)) out << " len=" << c.size;
      out << "\n";
      if (c.unreadable) unreadable.push_back(table.name + "." + c.name);
    }
    for (const auto& row : table.rows) {
      out << "ROW";
      for (size_t i = 0; i < row.size(); ++i)
        out << " | " << (table.columns[i].unreadable ? "?" : Notation(row[i], table.columns[i].type));
      out << "\n";
    }
  }
  return out.str();
}

// The reference with the values of unreadable columns replaced by "?".
std::string Reference(const std::string& file, const AccessDatabase& database) {
  std::ifstream in(kData / "reference" / (file + ".txt"));
  std::ostringstream out;
  std::string line;
  const AccessTable* table = nullptr;
  while (std::getline(in, line)) {
    if (line.rfind("TABLE ", 0) == 0) {
      const std::string name = line.substr(6, line.find(" rows=") - 6);
      table = nullptr;
      for (const auto& t : database.tables)
        if (t.name == name) table = &t;
    } else if (line.rfind("ROW", 0) == 0 && table) {
      std::string rebuilt = "ROW";
      size_t column = 0, at = 3;
      while (at < line.size() && column < table->columns.size()) {
        const size_t start = at + 3;  // after " | "
        size_t end = line.find(" | ", start);
        // A text may hold " | ": values are split where the next column starts.
        while (end != std::string::npos && line[start] == 'S' && line[end - 1] != '"') end = line.find(" | ", end + 1);
        const std::string value = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        rebuilt += " | " + (table->columns[column].unreadable ? std::string("?") : value);
        ++column;
        at = end == std::string::npos ? line.size() : end;
      }
      line = rebuilt;
    }
    out << line << "\n";
  }
  return out.str();
}

// Rows in a fixed order: a table has none of its own (pages keep rows in
// the order space was found for them).
std::string RowsSorted(const std::string& text) {
  std::istringstream in(text);
  std::ostringstream out;
  std::vector<std::string> rows;
  std::string line;
  auto flush = [&] {
    std::sort(rows.begin(), rows.end());
    for (const auto& r : rows) out << r << "\n";
    rows.clear();
  };
  while (std::getline(in, line)) {
    if (line.rfind("ROW", 0) == 0) {
      rows.push_back(line);
    } else {
      flush();
      out << line << "\n";
    }
  }
  flush();
  return out.str();
}

class EveryFile : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryFile, ReadsAsTheIndependentReaderReadIt) {
  const std::string file = GetParam();
  const AccessDatabase database = ReadAccessFile((kData / file).string());
  std::vector<std::string> unreadable;
  const std::string reading = Reading(database, unreadable);
  EXPECT_EQ(RowsSorted(reading), RowsSorted(Reference(file, database)));
  // Only what the reader does not know is left unread: the Date/Time
  // Extended type and a calculated field.
  for (const auto& column : unreadable)
    EXPECT_TRUE(column == "Table1.DateExt" || column == "Table1.DateNormalCalc") << file << ": " << column;
}

INSTANTIATE_TEST_SUITE_P(Files, EveryFile,
                         ::testing::Values("testV1997.mdb", "delColTestV1997.mdb", "test2V2000.mdb",
                                           "testUnicodeCompV2003.mdb", "fixedNumericTestV2003.mdb",
                                           "test2V2007.accdb", "testEmoticonsV2010.accdb", "extDateTestV2019.accdb",
                                           "ja_V2000.mdb", "ja_V2007.accdb", "ja_V2016.accdb"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (auto& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(AccessFile, CodePage932TextOfAJet3FileKeepsBackslashTildeAndNecCharacters) {
  const AccessDatabase database = ReadAccessFile((kData / "jet3_cp932_crafted.mdb").string());
  std::vector<std::string> texts;
  for (const auto& table : database.tables)
    for (const auto& row : table.rows)
      for (const auto& v : row)
        if (v.IsString()) texts.push_back(v.StringValue());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "C:\\①～"), texts.end()) << ::testing::PrintToString(texts);
  // The second was written over a longer text and padded with a blank.
  EXPECT_NE(std::find(texts.begin(), texts.end(), "温度計\\~ "), texts.end()) << ::testing::PrintToString(texts);
}

long ErrorNumberReading(const std::string& path, std::string& description, const ReadOptions& options = {}) {
  try {
    ReadAccessFile(path, options);
  } catch (const PlatformError& e) {
    description = e.Description();
    return e.Number();
  }
  return 0;
}

TEST(AccessFile, DamageAndWrongFilesAreErrorsNotShortTables) {
  const test::TemporaryFolder folder;
  const std::string notAccess = folder.File("not-access.mdb");
  std::ofstream(notAccess) << "SQLite format 3";
  struct Case {
    std::string path;
    long number;
  } cases[] = {
      {notAccess, 3343},
      {(kData / "no such file.mdb").string(), 3024},
  };
  for (const auto& c : cases) {
    std::string description;
    EXPECT_EQ(ErrorNumberReading(c.path, description), c.number) << c.path << ": " << description;
  }
}

// A file cut short, in its catalogue, amid its tables' rows or at its last
// page, is damaged: never fewer tables or rows read as if that were all.
TEST(AccessFile, AFileCutShortIsDamaged) {
  const test::TemporaryFolder folder;
  ReadOptions options;
  options.timeLimit = std::chrono::seconds(10);  // a damaged file may make libmdb loop
  for (const char* good : {"ja_V2000.mdb", "ja_V2007.accdb"}) {
    const std::string goodPath = (kData / good).string();
    const size_t pages = test::PageCount(goodPath);
    for (const size_t kept : {pages / 8, pages / 2, pages - 1}) {
      const std::string cut = folder.File(std::to_string(kept) + "-" + good);
      test::CutAfterPages(goodPath, cut, kept);
      std::string description;
      EXPECT_EQ(ErrorNumberReading(cut, description, options), 3049) << good << " cut after " << kept << " pages";
      EXPECT_NE(description.find("破損"), std::string::npos) << description;
    }
  }
}

// A row that libmdb cannot take apart (its header claims 65535 columns) is
// damage named by its table and row, not a copy of the row before it.
TEST(AccessFile, ARowThatCannotBeTakenApartIsDamageNamedByTableAndRow) {
  const test::TemporaryFolder folder;
  for (const char* good : {"ja_V2000.mdb", "ja_V2016.accdb"}) {
    const std::string damaged = folder.File(good);
    test::WithRowOfAllColumns((kData / good).string(), damaged, u"GP名称", 1);
    std::string description;
    EXPECT_EQ(ErrorNumberReading(damaged, description), 3049) << good;
    EXPECT_NE(description.find("テーブル 'GroupMaster'"), std::string::npos) << description;
    EXPECT_NE(description.find("2 行目"), std::string::npos) << description;
  }
}

// When libmdb finds a table's pages by looking at every page, its own page
// counter is one ahead: after a moved row the walk must go on with the
// page it was on, not that one.
TEST(AccessFile, AfterAMovedRowTheWalkGoesOnWithItsOwnPage) {
  const test::TemporaryFolder folder;
  for (const char* good : {"ja_V2000.mdb", "ja_V2016.accdb"}) {
    const std::string moved = folder.File(good);
    test::WithFirstRowMovedAndAnUnknownUsageMap((kData / good).string(), moved, u"GP名称");
    auto groupMaster = [](const AccessDatabase& database) {
      std::vector<std::string> rows;
      for (const auto& table : database.tables)
        if (table.name == "GroupMaster")
          for (const auto& row : table.rows) {
            std::string text;
            for (const auto& value : row) text += value.Describe() + " | ";
            rows.push_back(text);
          }
      return rows;
    };
    const auto expected = groupMaster(ReadAccessFile((kData / good).string()));
    ASSERT_EQ(expected.size(), 5u);
    try {
      EXPECT_EQ(groupMaster(ReadAccessFile(moved)), expected) << good;
    } catch (const PlatformError& e) {
      ADD_FAILURE() << good << ": " << e.Description();
    }
  }
}


// The same value to the bit: type and contents (a Date or Double by its
// bits, not by a rounded text).
bool SameValue(const Variant& a, const Variant& b) {
  if (a.Type() != b.Type()) return false;
  switch (a.Type()) {
    case VarType::Null: return true;
    case VarType::Boolean: return a.BooleanValue() == b.BooleanValue();
    case VarType::Byte: case VarType::Integer: case VarType::Long: return a.IntegerValue() == b.IntegerValue();
    case VarType::Currency: return a.CurrencyScaled() == b.CurrencyScaled();
    case VarType::Single: case VarType::Double: case VarType::Date: {
      const double x = a.DoubleValue(), y = b.DoubleValue();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case VarType::String: return a.StringValue() == b.StringValue();
    default: return false;
  }
}

// Rows kept as the reading child sent them (what the database layer keeps
// of a file it may write back) decode to the very values of the rows read
// as values, every table of every kind of file.
TEST_P(EveryFile, RowsKeptEncodedDecodeToTheValuesRead) {
  const std::string file = (kData / GetParam()).string();
  const ReadOptions options;
  const AccessDatabase asValues = ReadAccessFile(file, options);
  // Each row's bytes as the receiver is given them, kept as the layer keeps them.
  struct KeptEncoded final : RowReceiver {
    std::vector<EncodedRows> tables;
    void Format(const std::string&) override {}
    void Table(const AccessTable& design) override { tables.emplace_back(design.columns.size()); }
    void Row(const AccessRow&, uint32_t, std::string_view encoded) override { tables.back().Append(encoded); }
  } encoded;
  ReadAccessFile(file, options, encoded);
  ASSERT_EQ(encoded.tables.size(), asValues.tables.size());
  size_t rows = 0;
  for (size_t t = 0; t < asValues.tables.size(); ++t) {
    const auto& want = asValues.tables[t];
    const EncodedRows& got = encoded.tables[t];
    SCOPED_TRACE(want.name);
    ASSERT_EQ(got.size(), want.rows.size());
    for (size_t r = 0; r < want.rows.size(); ++r) {
      const AccessRow row = got.Row(r);
      ASSERT_EQ(row.size(), want.rows[r].size());
      for (size_t c = 0; c < row.size(); ++c)
        EXPECT_TRUE(SameValue(row[c], want.rows[r][c])) << "row " << r << ", column " << want.columns[c].name;
    }
    rows += want.rows.size();
  }
  EXPECT_GT(rows, 0U);
}

// The reading child sends each row as it reads it: the bytes are those of
// the whole database encoded at once, and the parent, taking them in
// pieces of any size, gets every table and row, each with its place.
TEST_P(EveryFile, RowsSentAsTheyAreReadAreTheBytesOfTheWholeDatabase) {
  const std::string file = (kData / GetParam()).string();
  const ReadOptions options;
  const AccessDatabase read = detail::ReadInThisProcess(file, options);
  const std::string whole = detail::Encode(read);
  std::string streamed;
  detail::DatabaseEncoder encoder([&](std::string_view bytes) { streamed.append(bytes); });
  const AccessDatabase designs = detail::ReadInThisProcess(file, options, &encoder);
  encoder.Finish();
  EXPECT_EQ(streamed, whole);
  for (const auto& table : designs.tables) EXPECT_TRUE(table.rows.empty()) << table.name;
  for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
    AccessDatabase taken;
    detail::CollectedDatabase collected(taken);
    detail::DatabaseDecoder decoder(collected);
    for (size_t at = 0; at < whole.size(); at += piece) decoder.Feed(std::string_view(whole).substr(at, piece));
    decoder.Finish();
    ASSERT_EQ(taken.tables.size(), read.tables.size()) << piece;
    for (size_t t = 0; t < read.tables.size(); ++t) {
      EXPECT_EQ(taken.tables[t].places, read.tables[t].places) << piece << " " << read.tables[t].name;
      ASSERT_EQ(taken.tables[t].rows.size(), read.tables[t].rows.size()) << piece << " " << read.tables[t].name;
      for (size_t r = 0; r < read.tables[t].rows.size(); ++r)
        for (size_t c = 0; c < read.tables[t].rows[r].size(); ++c)
          EXPECT_TRUE(SameValue(taken.tables[t].rows[r][c], read.tables[t].rows[r][c])) << piece << " " << read.tables[t].name;
    }
    EXPECT_EQ(taken.format, read.format);
  }
  // Cut short anywhere it is refused as damaged; an error sent after some
  // rows is raised as it was sent.
  for (const size_t cut : {whole.size() - 1, whole.size() / 2, size_t{3}}) {
    AccessDatabase taken;
    detail::CollectedDatabase collected(taken);
    detail::DatabaseDecoder decoder(collected);
    decoder.Feed(std::string_view(whole).substr(0, cut));
    try {
      decoder.Finish();
      ADD_FAILURE() << cut << ": taken whole";
    } catch (const PlatformError& e) {
      EXPECT_EQ(e.Number(), 3049) << cut;
    }
  }
  AccessDatabase taken;
  detail::CollectedDatabase collected(taken);
  detail::DatabaseDecoder decoder(collected);
  // The child sends whole frames only: the error follows the last frame
  // sent before the middle.
  size_t boundary = 0;
  for (uint32_t length = 0; boundary + 4 <= whole.size() / 2; boundary += 4 + length) {
    std::memcpy(&length, whole.data() + boundary, sizeof length);
    if (boundary + 4 + length > whole.size() / 2) break;
  }
  const std::string failed = whole.substr(0, boundary) + detail::Encode(PlatformError(3343, "途中の失敗"));
  try {
    decoder.Feed(failed);
    ADD_FAILURE() << "the error sent was lost";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), 3343);
    EXPECT_EQ(e.Description(), "途中の失敗");
  }
}

}  // namespace
}  // namespace pendra::mdb
