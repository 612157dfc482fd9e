// Bad input for the schedule jobs: files that are no workbook, workbooks
// without their sheets, cells holding errors, dates and texts too long for
// their column, SQL text, awkward paths, and base folders missing a part.
// Each gives its clear message, and the databases are unchanged or changed
// exactly as the rules say: the expansion stores everything or nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "BadInput.h"

namespace pendra::reliability {
namespace {

namespace fs = std::filesystem;
using schedule::test::SheetRows;

constexpr const char* kExpansionError = "Pendra情報の展開エラー ｴﾗｰ番号  ";
constexpr const char* kOutputError = "Pendra情報のXLS出力エラー";

std::string ExpansionError(long number) { return kExpansionError + std::to_string(number) + ":"; }

// 2024-01-05 as an automation date.
constexpr double kJan5 = 45296.0;

// A workbook from the template: one good row per sheet, then the rows given.
std::vector<std::string> Workbook(InputFolder& folder, std::vector<Variant> groupRow, std::vector<Variant> kikiRow,
                                  const std::vector<std::string>& removeSheets = {},
                                  const std::string& name = "編集済み.xls") {
  SheetRows groups{"GroupMaster", {{Variant(int32_t{1}), Variant("取水"), Variant(true)}}};
  if (!groupRow.empty()) groups.rows.push_back(std::move(groupRow));
  SheetRows kiki{"KikiMaster", {{Variant("K-1"), Variant("ポンプ"), Variant(int32_t{1}), Variant(int32_t{0})}}};
  if (!kikiRow.empty()) kiki.rows.push_back(std::move(kikiRow));
  std::vector<SheetRows> sheets;
  for (auto* sheet : {&groups, &kiki}) {
    bool removed = false;
    for (const auto& r : removeSheets) removed = removed || r == sheet->sheet;
    if (!removed) sheets.push_back(*sheet);
  }
  const std::string path = folder.base.File(name);
  schedule::test::WriteWorkbook(folder.base.Template(), path, sheets, removeSheets);
  return {"expand", path};
}

std::vector<std::string> RawFile(InputFolder& folder, const std::string& name, const std::string& bytes) {
  const std::string path = folder.base.File(name);
  cli::test::WriteFile(path, bytes);
  return {"expand", path};
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
  return bytes;
}

uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A real zip archive (one stored file), as a renamed .xlsx or .ods would be.
std::string ZipArchive() {
  const std::string name = "content.xml";
  const std::string data = "<?xml version=\"1.0\"?><document/>";
  auto le16 = [](uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
  auto le32 = [&](uint32_t v) { return le16(static_cast<uint16_t>(v & 0xFFFF)) + le16(static_cast<uint16_t>(v >> 16)); };
  const uint32_t crc = Crc32(data);
  const auto size = static_cast<uint32_t>(data.size());
  std::string local = "PK\x03\x04" + le16(20) + le16(0) + le16(0) + le16(0) + le16(0) + le32(crc) + le32(size) +
                      le32(size) + le16(static_cast<uint16_t>(name.size())) + le16(0) + name + data;
  std::string central = "PK\x01\x02" + le16(20) + le16(20) + le16(0) + le16(0) + le16(0) + le16(0) + le32(crc) +
                        le32(size) + le32(size) + le16(static_cast<uint16_t>(name.size())) + le16(0) + le16(0) +
                        le16(0) + le16(0) + le32(0) + le32(0) + name;
  std::string end = std::string("PK\x05\x06", 4) + le16(0) + le16(0) + le16(1) + le16(1) +
                    le32(static_cast<uint32_t>(central.size())) + le32(static_cast<uint32_t>(local.size())) + le16(0);
  return local + central + end;
}

void KikiHas(InputFolder& folder, const std::string& where, const std::vector<std::string>& rows) {
  EXPECT_EQ(folder.Schedule("SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster WHERE " + where), rows);
}

TEST(BadInput, WorkbooksAndBaseFolders) {
  const std::string longText(1000, 'x');
  const std::string longJapanese = [] {
    std::string text;
    for (int i = 0; i < 1000; ++i) text += "機";
    return text;
  }();
  const std::string sqlText = "'; DROP TABLE KikiMaster; --";

  const std::vector<InputCase> cases = {
      // Files that are no workbook.
      {"random bytes named .xls", [](InputFolder& f) { return RawFile(f, "乱数.xls", RandomBytes(65536, 7)); },
       1, ExpansionError(1004)},
      {"text file named .xls",
       [](InputFolder& f) { return RawFile(f, "text.xls", "GPno\tGP名称\tflag\n1\t取水\tTRUE\n"); }, 1, ExpansionError(1004)},
      // LibreOffice opens an empty file as an empty document: the job then
      // misses the sheets (9). Either way a numbered error and no change.
      {"empty file named .xls", [](InputFolder& f) { return RawFile(f, "empty.xls", ""); }, 1, kExpansionError},
      {"zip archive named .xls", [](InputFolder& f) { return RawFile(f, "zip.xls", ZipArchive()); }, 1,
       ExpansionError(1004)},
      {"folder named .xls",
       [](InputFolder& f) {
         fs::create_directory(f.base.File("folder.xls"));
         return std::vector<std::string>{"expand", f.base.File("folder.xls")};
       },
       1, ExpansionError(1004)},
      {"workbook that does not exist",
       [](InputFolder& f) { return std::vector<std::string>{"expand", f.base.File("ない.xls")}; }, 1,
       ExpansionError(1004)},
      // Workbooks without their sheets: nothing is stored, not even the
      // sheet that is there.
      {"workbook without sheet GroupMaster", [](InputFolder& f) { return Workbook(f, {}, {}, {"GroupMaster"}); }, 1,
       ExpansionError(9)},
      {"workbook without sheet KikiMaster", [](InputFolder& f) { return Workbook(f, {}, {}, {"KikiMaster"}); }, 1,
       ExpansionError(9)},
      {"workbook without either sheet",
       [](InputFolder& f) { return Workbook(f, {}, {}, {"GroupMaster", "KikiMaster"}); }, 1, ExpansionError(9)},
      // Cells holding errors.
      {"#N/A in 機器名称",
       [](InputFolder& f) {
         return Workbook(f, {}, {Variant("K-2"), Variant::Error(2042), Variant(int32_t{1}), Variant(int32_t{0})});
       },
       1, ExpansionError(3421)},
      {"#DIV/0! in 開始操作値 (not numeric: the fallback 1)",
       [](InputFolder& f) {
         return Workbook(f, {}, {Variant("K-2"), Variant("弁"), Variant::Error(2007), Variant(int32_t{5})});
       },
       0, "", {}, Changes::Schedule,
       [](InputFolder& f) { KikiHas(f, "タグ名 = 'K-2'", {"K-2|弁|1|5"}); }},
      // Dates.
      {"date in 機器名称 (stored as its text)",
       [](InputFolder& f) {
         return Workbook(f, {}, {Variant("K-2"), Variant::Date(kJan5), Variant(int32_t{1}), Variant(int32_t{0})});
       },
       0, "", {}, Changes::Schedule,
       [](InputFolder& f) { KikiHas(f, "タグ名 = 'K-2'", {"K-2|2024/01/05|1|0"}); }},
      {"date in GPno (stored as its serial number)",
       [](InputFolder& f) { return Workbook(f, {Variant::Date(kJan5), Variant("日付"), Variant(true)}, {}); }, 0, "",
       {}, Changes::Schedule,
       [](InputFolder& f) {
         EXPECT_EQ(f.Schedule("SELECT GPno FROM GroupMaster WHERE GP名称 = '日付'"), std::vector<std::string>{"45296"});
       }},
      // Texts too long for their column: the whole expansion is undone.
      {"1000-character text in 機器名称 TEXT(64)",
       [longText](InputFolder& f) {
         return Workbook(f, {}, {Variant("K-2"), Variant(longText), Variant(int32_t{1}), Variant(int32_t{0})});
       },
       1, ExpansionError(3163)},
      {"1000 Japanese characters in GP名称 TEXT(50)",
       [longJapanese](InputFolder& f) { return Workbook(f, {Variant(int32_t{2}), Variant(longJapanese), Variant(true)}, {}); },
       1, ExpansionError(3163)},
      {"1000-character text in column E, which is not read",
       [longText](InputFolder& f) {
         return Workbook(f, {},
                         {Variant("K-2"), Variant("弁"), Variant(int32_t{1}), Variant(int32_t{0}), Variant(longText)});
       },
       0, "", {}, Changes::Schedule,
       [](InputFolder& f) { KikiHas(f, "1", {"K-1|ポンプ|1|0", "K-2|弁|1|0"}); }},
      {"number beyond LONG in GPno",
       [](InputFolder& f) { return Workbook(f, {Variant(1e12), Variant("大きい"), Variant(true)}, {}); }, 1,
       ExpansionError(3421)},
      // SQL text and quotes are values like any other.
      {"SQL text in タグ名 and quotes in 機器名称",
       [sqlText](InputFolder& f) {
         return Workbook(f, {}, {Variant(sqlText), Variant("\"引用\" と 'quote'"), Variant(int32_t{1}), Variant(int32_t{0})});
       },
       0, "", {}, Changes::Schedule,
       [sqlText](InputFolder& f) {
         EXPECT_EQ(f.Schedule("SELECT 機器名称 FROM KikiMaster WHERE タグ名 = '''; DROP TABLE KikiMaster; --'"),
                   std::vector<std::string>{"\"引用\" と 'quote'"});
         EXPECT_EQ(f.Schedule("SELECT count(*) FROM KikiMaster"), std::vector<std::string>{"2"});
       }},
      // Paths.
      {"workbook path with blanks, quotes and Japanese",
       [](InputFolder& f) { return Workbook(f, {}, {}, {}, "編集 \"済み\" it's 情報 #1.xls"); }, 0, "", {},
       Changes::Schedule, [](InputFolder& f) { KikiHas(f, "1", {"K-1|ポンプ|1|0"}); }},
      {"output target with blanks, quotes and Japanese",
       [](InputFolder& f) { return std::vector<std::string>{"output", f.base.File("出力 \"先\" it's #1.xls")}; }, 0, "",
       {}, Changes::None,
       [](InputFolder& f) { EXPECT_TRUE(fs::is_regular_file(f.base.File("出力 \"先\" it's #1.xls"))); }},
      {"output target in a folder that does not exist",
       [](InputFolder& f) { return std::vector<std::string>{"output", f.base.File("ない/出力.xls")}; }, 1,
       kOutputError, {}, Changes::None,
       [](InputFolder& f) { EXPECT_FALSE(fs::exists(f.base.File("ない"))); }},
      {"output target that is a folder",
       [](InputFolder& f) {
         fs::create_directory(f.base.File("出力.xls"));
         return std::vector<std::string>{"output", f.base.File("出力.xls")};
       },
       1, "指定された名前は通常のファイルではないため出力できません。", {}, Changes::None,
       [](InputFolder& f) { EXPECT_TRUE(fs::is_directory(f.base.File("出力.xls"))); }},
      // Base folders missing a part.
      {"base folder without the template",
       [](InputFolder& f) {
         fs::remove(f.base.Template());
         return std::vector<std::string>{"output", f.base.File("出力.xls")};
       },
       1, kOutputError, {}, Changes::None,
       [](InputFolder& f) { EXPECT_FALSE(fs::exists(f.base.File("出力.xls"))); }},
      {"base folder without the schedule database",
       [](InputFolder& f) {
         auto args = Workbook(f, {}, {});
         fs::remove(f.ScheduleDb());
         return args;
       },
       1, ExpansionError(3024), {}, Changes::Schedule,
       [](InputFolder& f) { EXPECT_FALSE(fs::exists(f.ScheduleDb())) << "the job made a database"; }},
      {"schedule database that is a text file",
       [](InputFolder& f) {
         auto args = Workbook(f, {}, {});
         cli::test::WriteFile(f.ScheduleDb(), "GPno,GP名称\n");
         return args;
       },
       1, ExpansionError(3343), {}, Changes::Schedule,
       [](InputFolder& f) { EXPECT_EQ(cli::test::ReadFile(f.ScheduleDb()), "GPno,GP名称\n"); }},
  };
  const int tried = TryInputs(cases);
  Figure("inputs tried: " + std::to_string(tried) + " (workbooks, output targets, base folders)");
}

}  // namespace
}  // namespace pendra::reliability
