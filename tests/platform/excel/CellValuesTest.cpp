// Every kind of value through Cells().Value: read back in the same instance,
// and after saving as .xls and opening the file in a new instance.
#include <cmath>

#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>

#include "ExcelInternal.h"
#include "ExcelTestSupport.h"

namespace pendra::excel::test {
namespace {

struct Expect {
  int16_t row, column;
  Variant written, read;
};

std::vector<Expect> Kinds() {
  return {
      {1, 1, Variant(1.5), Variant(1.5)},
      {1, 2, Variant(-2.0), Variant(-2.0)},
      {1, 3, Variant(0.0), Variant(0.0)},
      {1, 4, Variant(1e300), Variant(1e300)},
      {2, 1, Variant("日本語テキスト"), Variant("日本語テキスト")},
      {2, 2, Variant("ﾊﾝｶｸｶﾅ①𠮷"), Variant("ﾊﾝｶｸｶﾅ①𠮷")},
      {2, 3, Variant("  空白 "), Variant("  空白 ")},
      {2, 4, Variant("=1+1"), Variant("=1+1")},
      {3, 1, Variant(true), Variant(true)},
      {3, 2, Variant(false), Variant(false)},
      {3, 3, Variant(1.0), Variant(1.0)},
      {3, 4, Variant(true), Variant(true)},
      {4, 1, Variant::Date(45000.0), Variant::Date(45000.0)},
      {4, 2, Variant::Date(45000.75), Variant::Date(45000.75)},
      {4, 3, Variant::Date(36526.5), Variant::Date(36526.5)},
      {5, 1, Variant::Error(2000), Variant::Error(2000)},
      {5, 2, Variant::Error(2007), Variant::Error(2007)},
      {5, 3, Variant::Error(2015), Variant::Error(2015)},
      {5, 4, Variant::Error(2023), Variant::Error(2023)},
      {5, 5, Variant::Error(2029), Variant::Error(2029)},
      {5, 6, Variant::Error(2036), Variant::Error(2036)},
      {5, 7, Variant::Error(2042), Variant::Error(2042)},
      {6, 1, Variant(), Variant()},
      {6, 2, Variant::Null(), Variant()},
      {6, 3, Variant(""), Variant()},
      {6, 4, Variant(int16_t{7}), Variant(7.0)},
      {7, 1, Variant(int32_t{100000}), Variant(100000.0)},
      {7, 2, Variant::Currency(12345), Variant(1.2345)},
      {7, 3, Variant::Single(0.5f), Variant(0.5)},
      {7, 4, Variant::Byte(200), Variant(200.0)},
  };
}

// Many rows in a pattern that crosses the read blocks and format runs.
Variant Pattern(int row, int column) {
  switch (column) {
    case 1: return row % 97 == 0 ? Variant("キー" + std::to_string(row)) : Variant(static_cast<double>(row));
    case 2: return Variant("名称" + std::to_string(row));
    case 3: return row % 5 == 0 ? Variant(1.0 * row) : Variant(row % 3 == 0);
    default: return row % 2 ? Variant() : Variant::Date(40000.0 + row);
  }
}
constexpr int kFirstPatternRow = 10, kLastPatternRow = 9000;

void WriteAll(Worksheet sheet) {
  for (const auto& e : Kinds()) sheet.Cells(e.row, e.column).SetValue(e.written);
  for (int r = kFirstPatternRow; r <= kLastPatternRow; ++r)
    for (int c = 1; c <= 4; ++c) sheet.Cells(static_cast<int16_t>(r), static_cast<int16_t>(c)) = Pattern(r, c);
}

// LibreOffice's .xls export writes #NULL! and #NAME? as NA(): after the
// round trip these two read as #N/A; every other kind comes back as written.
void CheckAll(Worksheet sheet, bool afterXls) {
  for (auto e : Kinds()) {
    if (afterXls && (e.read == Variant::Error(2000) || e.read == Variant::Error(2029))) e.read = Variant::Error(2042);
    EXPECT_EQ(sheet.Cells(e.row, e.column).Value(), e.read)
        << "cell (" << e.row << ", " << e.column << ") written " << e.written.Describe() << " read "
        << sheet.Cells(e.row, e.column).Value().Describe();
  }
  int mismatches = 0;
  for (int r = kFirstPatternRow; r <= kLastPatternRow; ++r)
    for (int c = 1; c <= 4; ++c) {
      const Variant got = sheet.Cells(static_cast<int16_t>(r), static_cast<int16_t>(c)).Value();
      if (!(got == Pattern(r, c)) && ++mismatches < 5)
        ADD_FAILURE() << "row " << r << " column " << c << ": " << got.Describe() << " instead of "
                      << Pattern(r, c).Describe();
    }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(sheet.Cells(kLastPatternRow + 1, 1).Value(), Variant());
}

class CellValues : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app_ = CreateObject(); }
  static void TearDownTestSuite() {
    app_->Quit();
    app_.reset();
  }
  static std::shared_ptr<Application> app_;
  TempFolder folder_;
};
std::shared_ptr<Application> CellValues::app_;

TEST_F(CellValues, EveryKindReadsBackBeforeAndAfterAnXlsRoundTrip) {
  auto workbook = app_->Workbooks().Add();
  // A Japanese sheet name, given the way the template builder names sheets.
  css::uno::Reference<css::container::XIndexAccess> sheets(
      WorkbookAccess::State(*workbook).document->getSheets(), css::uno::UNO_QUERY_THROW);
  css::uno::Reference<css::container::XNamed>(sheets->getByIndex(0), css::uno::UNO_QUERY_THROW)
      ->setName(ToOU("値の一覧"));
  WriteAll(workbook->Sheets("値の一覧"));
  CheckAll(workbook->Sheets("値の一覧"), false);

  const std::string path = folder_.File("値 #%.xls");
  workbook->SaveAs(path);
  auto other = CreateObject();
  auto reopened = GetObject(path);
  EXPECT_EQ(reopened->Application(), other);
  CheckAll(reopened->Sheets("値の一覧"), true);
  other->Quit();
}

TEST_F(CellValues, ReadAfterWriteSeesTheWriteAndLeavesOtherCellsAlone) {
  auto sheet = app_->Workbooks().Add()->Sheets("Sheet1");
  sheet.Cells(1, 2) = Variant("残す");
  sheet.Cells(2, 2) = Variant(true);
  EXPECT_EQ(sheet.Cells(1, 2).Value(), Variant("残す"));
  // Written around B1 and B2 without touching them.
  sheet.Cells(1, 1) = Variant(1.0);
  sheet.Cells(1, 3) = Variant(3.0);
  sheet.Cells(2, 1) = Variant(4.0);
  sheet.Cells(2, 3) = Variant(6.0);
  EXPECT_EQ(sheet.Cells(1, 1).Value(), Variant(1.0));
  EXPECT_EQ(sheet.Cells(1, 2).Value(), Variant("残す"));
  EXPECT_EQ(sheet.Cells(2, 2).Value(), Variant(true));
  // A number over a Boolean is a number again; "" and Null empty a cell.
  sheet.Cells(2, 2) = Variant(5.0);
  sheet.Cells(1, 2) = Variant("");
  sheet.Cells(1, 3) = Variant::Null();
  EXPECT_EQ(sheet.Cells(2, 2).Value(), Variant(5.0));
  EXPECT_EQ(sheet.Cells(1, 2).Value(), Variant());
  EXPECT_EQ(sheet.Cells(1, 3).Value(), Variant());
  // The last write of a cell wins.
  sheet.Cells(3, 1) = Variant("一回目");
  sheet.Cells(3, 1) = Variant("二回目");
  EXPECT_EQ(sheet.Cells(3, 1).Value(), Variant("二回目"));
}

// While one block of rows is read, the next is fetched ahead. A write the
// job makes meanwhile shows in that block all the same.
TEST_F(CellValues, ABlockFetchedAheadShowsWhatWasWrittenAfterItsFetchBegan) {
  auto sheet = app_->Workbooks().Add()->Sheets("Sheet1");
  for (int16_t r = 1; r <= 6000; ++r) sheet.Cells(r, 1) = Variant(1.0 * r);
  // Columns A and B of row 1, then row 2: the rows from 4097 on are fetched.
  EXPECT_EQ(sheet.Cells(1, 1).Value(), Variant(1.0));
  EXPECT_EQ(sheet.Cells(1, 2).Value(), Variant());
  EXPECT_EQ(sheet.Cells(2, 1).Value(), Variant(2.0));
  sheet.Cells(1, 1) = Variant(10.0);
  sheet.Cells(4500, 1) = Variant("書いた");
  EXPECT_EQ(sheet.Cells(4500, 1).Value(), Variant("書いた"));
  EXPECT_EQ(sheet.Cells(1, 1).Value(), Variant(10.0));
  EXPECT_EQ(sheet.Cells(4501, 1).Value(), Variant(4501.0));
}

TEST_F(CellValues, RowsUpTo32767AreCellsAndPlacesOutsideTheSheetRaise1004) {
  auto sheet = app_->Workbooks().Add()->Sheets("Sheet1");
  sheet.Cells(32767, 4) = Variant("最終行");
  EXPECT_EQ(sheet.Cells(32767, 4).Value(), Variant("最終行"));
  EXPECT_EQ(sheet.Cells(32766, 4).Value(), Variant());
  EXPECT_EQ(ErrorNumber([&] { sheet.Cells(0, 1); }), 1004);
  EXPECT_EQ(ErrorNumber([&] { sheet.Cells(1, 0); }), 1004);
  EXPECT_EQ(ErrorNumber([&] { sheet.Cells(-5, 1); }), 1004);
  EXPECT_EQ(ErrorNumber([&] { sheet.Cells(1, 1025); }), 1004);
  // A value no cell can hold fails at the very write.
  EXPECT_EQ(ErrorNumber([&] { sheet.Cells(1, 1) = Variant::Error(1234); }), 1004);
}

TEST_F(CellValues, AMacroFreeSheetSwitchKeepsBothSheetsWrites) {
  auto workbook = app_->Workbooks().Add();
  auto first = workbook->Sheets("Sheet1");
  first.Cells(2, 1) = Variant("一");
  auto again = workbook->Sheets("sheet1");  // names compare without case
  again.Cells(3, 1) = Variant("二");
  EXPECT_EQ(first.Cells(3, 1).Value(), Variant("二"));
  EXPECT_EQ(again.Cells(2, 1).Value(), Variant("一"));
}

}  // namespace
}  // namespace pendra::excel::test
