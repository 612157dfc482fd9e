// The expansion of workbooks that another program wrote (tools/workbook,
// standard-library Python) or that LibreOffice converted, in each format:
// the tables must hold what the cells store. Text of length zero is not an
// empty cell where the format keeps it, a number with a Boolean display
// format stays a number, a Boolean a formula yields is a Boolean, and dates
// of a workbook in the 1904 system land on the same days.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Messages.h"
#include "ScheduleJobs.h"
#include "ScheduleTestSupport.h"

namespace pendra::schedule::test {
namespace {

namespace fs = std::filesystem;

constexpr double kDate = 45000;  // 2023-03-15 from 1899-12-30
constexpr double k1904Offset = 1462;

// Both sheets as cells of the writer's description; `date` is the serial
// the workbook stores for 2023-03-15 (lower in the 1904 system).
std::string Description(bool date1904) {
  const double date = kDate - (date1904 ? k1904Offset : 0);
  const std::string logicalFormat = R"j({"format": "\"TRUE\";\"TRUE\";\"FALSE\"", "number": )j";
  return std::string(R"j({"date1904": )j") + (date1904 ? "true" : "false") + R"j(, "sheets": [
  {"name": "GroupMaster", "rows": [
    ["GPno", "GP名称", "有効"],
    [1, "長さゼロの有効", ""],
    [2, "", true],
    [{"date": )j" + std::to_string(date) + R"j(}, {"date": )j" + std::to_string(date + 0.5) + R"j(}, {"formula": "1=1", "boolean": true}]
  ]},
  {"name": "KikiMaster", "rows": [
    ["タグ名", "機器名称", "開始操作値", "終了操作値"],
    ["K-1", "", "", ""],
    ["K-2", {"formula": "1=1", "boolean": true}, {"formula": "AND(1,1)", "boolean": true},
            {"formula": "ISNUMBER(\"x\")", "boolean": false}],
    ["K-3", "論理書式の数値", )j" + logicalFormat + R"j(5}, )j" + logicalFormat + R"j(7}],
    ["K-4", "真偽値", true, false],
    ["K-5", {"formula": "2+3", "number": 5}, {"formula": "\"\"", "text": ""}, {"formula": "\"\"", "text": ""}]
  ]}
]})j";
}

enum class Writer { Python, LibreOffice };

struct Source {
  const char* name;
  Writer writer;
  const char* format;     // the file's extension
  const char* via;        // LibreOffice: the Python-written file it converts
  bool date1904;
  bool keepsZeroLengthText;  // what LibreOffice's import of the format keeps
};

void PrintTo(const Source& s, std::ostream* os) { *os << s.name; }

void RunCommand(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

class ForeignWorkbook : public ::testing::TestWithParam<Source> {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pendra-foreign-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    work_ = pattern;
  }
  void TearDown() override { fs::remove_all(work_); }

  // The workbook as the source's writer leaves it.
  fs::path Written(const Source& s) {
    const fs::path description = work_ / "book.json";
    std::ofstream(description) << Description(s.date1904);
    const fs::path python = work_ / (std::string("book.") + (s.writer == Writer::Python ? s.format : s.via));
    RunCommand("python3 " + Quote(PENDRA_WRITE_WORKBOOK) + " " + Quote(description) + " " + Quote(python));
    if (s.writer == Writer::Python) return python;
    fs::create_directories(work_ / "out");
    RunCommand("soffice --headless --norestore -env:UserInstallation=file://" + (work_ / "profile").string() +
        " --convert-to " + s.format + " --outdir " + Quote(work_ / "out") + " " + Quote(python) + " >/dev/null 2>&1");
    return work_ / "out" / (std::string("book.") + s.format);
  }

  fs::path work_;
  BaseFolder base;
  ProbeScope probe;
  ScriptedUi ui{base.Path()};
};

TEST_P(ForeignWorkbook, TheTablesHoldWhatTheCellsStore) {
  const Source& s = GetParam();
  const fs::path workbook = Written(s);
  ASSERT_TRUE(fs::exists(workbook)) << workbook;
  subXlsToDb(ui, workbook.string());
  ASSERT_EQ(ui.FirstLines(), std::vector<std::string>{msg::kExpansionDone});

  // Where the import drops text of length zero, the cell reads as empty:
  // Null in a text column, Null through the numeric test, No in 有効.
  const bool kept = s.keepsZeroLengthText;
  EXPECT_EQ(Rows(base.ScheduleDb(), "SELECT GPno, GP名称, 有効 FROM GroupMaster ORDER BY rowid"),
            (std::vector<std::string>{
                std::string("1|長さゼロの有効|") + (kept ? "-1" : "0"),
                std::string("2|") + (kept ? "" : "NULL") + "|-1",
                "45000|2023/03/15 12:00:00|-1",  // the same day in either date system
            }));
  EXPECT_EQ(Rows(base.ScheduleDb(), "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY rowid"),
            (std::vector<std::string>{
                std::string("K-1|") + (kept ? "|1|0" : "NULL|NULL|NULL"),
                "K-2|True|-1|0",          // Booleans of formulas
                "K-3|論理書式の数値|5|7",  // numbers whatever their display format
                "K-4|真偽値|-1|0",
                "K-5|5|1|0",              // a formula's text of length zero is text in every format
            }));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ForeignWorkbook,
    ::testing::Values(
        Source{"PythonXlsx", Writer::Python, "xlsx", nullptr, false, false},
        Source{"PythonOds", Writer::Python, "ods", nullptr, false, true},
        Source{"PythonFlatOds", Writer::Python, "fods", nullptr, false, true},
        Source{"LibreOfficeXls", Writer::LibreOffice, "xls", "ods", false, false},
        Source{"LibreOfficeXlsx", Writer::LibreOffice, "xlsx", "ods", false, false},
        Source{"LibreOfficeOds", Writer::LibreOffice, "ods", "fods", false, true},
        Source{"PythonXlsx1904", Writer::Python, "xlsx", nullptr, true, false},
        Source{"PythonOds1904", Writer::Python, "ods", nullptr, true, true},
        Source{"LibreOfficeXls1904", Writer::LibreOffice, "xls", "ods", true, false}),
    [](const ::testing::TestParamInfo<Source>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pendra::schedule::test
