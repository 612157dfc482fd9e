#include "CellBlocks.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSheetCellRangeContainer.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XUniqueCellFormatRangesSupplier.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/util/NumberFormat.hpp>

#include "ExcelInternal.h"

namespace pendra::excel {

using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY_THROW;
using css::table::CellRangeAddress;
namespace NumberFormat = css::util::NumberFormat;

namespace {

constexpr int32_t kWriteChunkRows = 8192;
constexpr int32_t kReadBlockRows = 4096;
constexpr int32_t kReadBlockColumns = 64;

// The automation error codes and formulas that yield them. Where one
// exists, an expression that also survives LibreOffice's .xls export (which
// writes error constants as NA()); #NULL! and #NAME? have none, so those two
// come back as #N/A from an .xls that LibreOffice wrote.
struct ErrorKind {
  int32_t code;
  const char* formula;
};
constexpr ErrorKind kErrors[] = {
    {2000, "=#NULL!"},  {2007, "=1/0"},     {2015, "=\"a\"+1"}, {2023, "=INDIRECT(\"ZZZ\")"},
    {2029, "=#NAME?"}, {2036, "=10^400"}, {2042, "=NA()"},
};

// LibreOffice's formula error numbers, grouped as the .xls export does.
int32_t AutomationError(sal_Int32 libreOfficeError) {
  switch (libreOfficeError) {
    case 532: return 2007;               // #DIV/0!
    case 32767: return 2042;             // #N/A
    case 524: return 2023;               // #REF!
    case 525: case 526: case 527: return 2029;  // #NAME? (names, add-ins, macros)
    case 503: case 523: return 2036;     // #NUM! (floating point, no convergence)
    case 521: return 2000;               // #NULL!
    default: return 2015;                // #VALUE! and the other evaluation errors
  }
}

enum class Format { None, Plain, Boolean, Date, DateTime };

Format FormatFor(const Variant& v) {
  switch (v.Type()) {
    case VarType::Boolean: return Format::Boolean;
    case VarType::Date: return v.DoubleValue() == std::floor(v.DoubleValue()) ? Format::Date : Format::DateTime;
    case VarType::Double: return Format::Plain;
    default: return Format::None;
  }
}

Any ToAny(const Variant& v) {
  switch (v.Type()) {
    case VarType::Boolean: return Any(v.BooleanValue() ? 1.0 : 0.0);
    case VarType::Double:
    case VarType::Date: return Any(v.DoubleValue());
    case VarType::String: return Any(ToOU(v.StringValue()));
    default: return Any(rtl::OUString());  // Empty, and errors written afterwards
  }
}

// Before anything is copied out of the fetched block: a text no cell can
// hold (a few bytes of a file can repeat one such text on every row).
void RefuseOverlongTexts(const Sequence<Sequence<Any>>& data, int32_t firstRow, int32_t firstColumn) {
  for (sal_Int32 i = 0; i < data.getLength(); ++i) {
    for (sal_Int32 j = 0; j < data[i].getLength(); ++j) {
      const Any& cell = data[i][j];
      if (cell.getValueTypeClass() != css::uno::TypeClass_STRING) continue;
      const sal_Int32 length = static_cast<const rtl::OUString*>(cell.getValue())->getLength();
      if (length <= kLongestCellText) continue;
      Raise(err::kApplicationDefined,
            StandardDescription(err::kApplicationDefined) + " (セル (" + std::to_string(firstRow + i) + ", " +
                std::to_string(firstColumn + j) + ") の文字列が " + std::to_string(length) + " 文字あり、セルに入る " +
                std::to_string(kLongestCellText) + " 文字を超えています)");
    }
  }
}

bool Contains(const CellRangeAddress& a, int32_t row0, int32_t column0) {
  return row0 >= a.StartRow && row0 <= a.EndRow && column0 >= a.StartColumn && column0 <= a.EndColumn;
}

}  // namespace

Variant CellValueFor(const Variant& value) {
  switch (value.Type()) {
    case VarType::Empty:
    case VarType::Null: return Variant();
    case VarType::String: return value.StringValue().empty() ? Variant() : value;
    case VarType::Boolean:
    case VarType::Double:
    case VarType::Date: return value;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long: return Variant(static_cast<double>(value.IntegerValue()));
    case VarType::Single: return Variant(value.DoubleValue());
    case VarType::Currency: return Variant(static_cast<double>(value.CurrencyScaled()) / 10000.0);
    case VarType::Error:
      for (const auto& e : kErrors)
        if (e.code == value.ErrorCode()) return value;
      break;
  }
  Raise(err::kApplicationDefined, StandardDescription(err::kApplicationDefined) +
                                      " (セルに書けない値です: " + value.Describe() + ")");
}

void CellBlocks::Write(int32_t row, int32_t column, const Variant& value) {
  auto& line = pending_[row];
  if (line.size() < static_cast<size_t>(column)) line.resize(column);
  line[column - 1] = value;
  if (value.Type() == VarType::Boolean)
    writtenBooleans_.emplace(row, column);
  else
    writtenBooleans_.erase({row, column});
}

void CellBlocks::Forget() {
  DropAhead();
  usedEnd_.reset();
  rowBlock_ = -1;
  loaded_.clear();
}

// The write side: how buffered writes reach the sheet, step by step.
namespace {

using PendingRows = std::map<int32_t, std::vector<std::optional<Variant>>>;
using Sheet = Reference<css::sheet::XSpreadsheet>;

// A rectangle of written cells, 0-based as UNO counts.
struct Rect {
  int32_t row0, column0, rows, columns;
};

// What the values alone do not carry: the number formats that Booleans and
// dates need, the error values (written as formulas), and the rectangles
// holding plain numbers (which may land in a cell with a logical format).
struct FormatWork {
  std::map<Format, std::vector<CellRangeAddress>> formats;
  std::vector<std::pair<CellRangeAddress, const char*>> errors;
  std::vector<Rect> plainRects;
};

// Only used inside addresses given back to the same sheet; the sheet's own
// number is put in before the addresses leave the layer.
constexpr sal_Int32 kThisSheet = 0;

CellRangeAddress CellAddress(int32_t row0, int32_t column0) {
  return CellRangeAddress(kThisSheet, column0, row0, column0, row0);
}

const Variant& ValueAt(const PendingRows& pending, int32_t row0, int32_t column0) {
  return *pending.at(row0 + 1)[column0];
}

// Rectangles of written cells, in row order: consecutive rows with the
// same run of columns share one, so that nothing unwritten is overwritten.
std::vector<Rect> WrittenRectangles(const PendingRows& pending) {
  std::vector<Rect> rects;
  std::map<std::pair<int32_t, int32_t>, Rect> open;  // (first column, last column) -> rect
  for (const auto& [row, line] : pending) {
    std::map<std::pair<int32_t, int32_t>, Rect> next;
    for (int32_t c = 0; c < static_cast<int32_t>(line.size());) {
      if (!line[c]) { ++c; continue; }
      int32_t end = c;
      while (end + 1 < static_cast<int32_t>(line.size()) && line[end + 1]) ++end;
      const auto key = std::make_pair(c, end);
      auto it = open.find(key);
      if (it != open.end() && it->second.row0 + it->second.rows == row - 1 && it->second.rows < kWriteChunkRows) {
        Rect r = it->second;
        ++r.rows;
        next[key] = r;
        open.erase(it);
      } else {
        next[key] = Rect{row - 1, c, 1, end - c + 1};
      }
      c = end + 1;
    }
    for (auto& entry : open) rects.push_back(entry.second);
    open = std::move(next);
  }
  for (auto& entry : open) rects.push_back(entry.second);
  std::sort(rects.begin(), rects.end(), [](const Rect& a, const Rect& b) {
    return a.row0 != b.row0 ? a.row0 < b.row0 : a.column0 < b.column0;
  });
  return rects;
}

// One rectangle's values in one call; notes the formats and error values
// its cells need.
void SendValues(const Sheet& sheet, const PendingRows& pending, const Rect& r, FormatWork& work) {
  Sequence<Sequence<Any>> data(r.rows);
  auto* rowsOut = data.getArray();
  bool hasPlain = false;
  for (int32_t i = 0; i < r.rows; ++i) {
    Sequence<Any> line(r.columns);
    auto* cells = line.getArray();
    for (int32_t j = 0; j < r.columns; ++j) {
      const Variant& v = ValueAt(pending, r.row0 + i, r.column0 + j);
      cells[j] = ToAny(v);
      if (v.IsError()) {
        for (const auto& e : kErrors)
          if (e.code == v.ErrorCode()) work.errors.push_back({CellAddress(r.row0 + i, r.column0 + j), e.formula});
      }
      hasPlain |= v.Type() == VarType::Double;
    }
    rowsOut[i] = line;
  }
  Remote("setDataArray", [&] {
    Reference<css::sheet::XCellRangeData> range(
        sheet->getCellRangeByPosition(r.column0, r.row0, r.column0 + r.columns - 1, r.row0 + r.rows - 1),
        UNO_QUERY_THROW);
    range->setDataArray(data);
  });
  if (hasPlain) work.plainRects.push_back(r);
  // Column runs of cells that need a Boolean or a date format.
  for (int32_t j = 0; j < r.columns; ++j) {
    int32_t i = 0;
    while (i < r.rows) {
      const Format f = FormatFor(ValueAt(pending, r.row0 + i, r.column0 + j));
      int32_t k = i;
      while (k + 1 < r.rows && FormatFor(ValueAt(pending, r.row0 + k + 1, r.column0 + j)) == f) ++k;
      if (f == Format::Boolean || f == Format::Date || f == Format::DateTime)
        work.formats[f].push_back(CellRangeAddress(kThisSheet, r.column0 + j, r.row0 + i, r.column0 + j, r.row0 + k));
      i = k + 1;
    }
  }
}

// The cells of a rectangle whose number format is a logical one.
std::vector<CellRangeAddress> LogicalFormatCells(DocumentState& document, const Sheet& sheet, const Rect& r) {
  std::vector<CellRangeAddress> logical;
  Remote("getUniqueCellFormatRanges", [&] {
    Reference<css::sheet::XUniqueCellFormatRangesSupplier> supplier(
        sheet->getCellRangeByPosition(r.column0, r.row0, r.column0 + r.columns - 1, r.row0 + r.rows - 1),
        UNO_QUERY_THROW);
    auto groups = supplier->getUniqueCellFormatRanges();
    const sal_Int32 n = groups->getCount();
    for (sal_Int32 g = 0; g < n; ++g) {
      Reference<css::sheet::XSheetCellRanges> ranges(groups->getByIndex(g), UNO_QUERY_THROW);
      Reference<css::beans::XPropertySet> props(ranges, UNO_QUERY_THROW);
      sal_Int32 key = 0;
      props->getPropertyValue(ToOU("NumberFormat")) >>= key;
      if (!(document.FormatType(key) & NumberFormat::LOGICAL)) continue;
      for (const auto& a : ranges->getRangeAddresses()) logical.push_back(a);
    }
  });
  return logical;
}

// A plain number written into a cell with a logical format would read back
// as a Boolean: such cells get the standard number format.
void KeepPlainNumbersPlain(DocumentState& document, const Sheet& sheet, const PendingRows& pending,
                           FormatWork& work) {
  for (const Rect& r : work.plainRects) {
    const std::vector<CellRangeAddress> logical = LogicalFormatCells(document, sheet, r);
    if (logical.empty()) continue;
    for (int32_t i = 0; i < r.rows; ++i)
      for (int32_t j = 0; j < r.columns; ++j)
        if (ValueAt(pending, r.row0 + i, r.column0 + j).Type() == VarType::Double &&
            std::any_of(logical.begin(), logical.end(),
                        [&](const CellRangeAddress& a) { return Contains(a, r.row0 + i, r.column0 + j); }))
          work.formats[Format::Plain].push_back(CellAddress(r.row0 + i, r.column0 + j));
  }
}

sal_Int32 FormatKey(DocumentState& document, Format format) {
  switch (format) {
    case Format::Boolean: return document.StandardFormat(NumberFormat::LOGICAL);
    case Format::Date: return document.StandardFormat(NumberFormat::DATE);
    case Format::DateTime: return document.StandardFormat(NumberFormat::DATETIME);
    default: return document.StandardFormat(NumberFormat::NUMBER);
  }
}

// Each kind of format in one call, over all the cells that need it.
void ApplyFormats(DocumentState& document, const Sheet& sheet, FormatWork& work) {
  if (work.formats.empty()) return;
  const sal_Int16 sheetNo = Remote("getRangeAddress", [&] {
    Reference<css::sheet::XCellRangeAddressable> a(sheet, UNO_QUERY_THROW);
    return a->getRangeAddress().Sheet;
  });
  for (auto& entry : work.formats) {
    std::vector<CellRangeAddress>& addresses = entry.second;
    if (addresses.empty()) continue;
    const sal_Int32 key = FormatKey(document, entry.first);
    for (auto& a : addresses) a.Sheet = sheetNo;
    Remote("NumberFormat", [&] {
      Reference<css::lang::XMultiServiceFactory> factory(document.document, UNO_QUERY_THROW);
      Reference<css::sheet::XSheetCellRangeContainer> container(
          factory->createInstance(ToOU("com.sun.star.sheet.SheetCellRanges")), UNO_QUERY_THROW);
      container->addRangeAddresses(Sequence<CellRangeAddress>(addresses.data(), static_cast<sal_Int32>(addresses.size())), false);
      Reference<css::beans::XPropertySet> props(container, UNO_QUERY_THROW);
      props->setPropertyValue(ToOU("NumberFormat"), Any(key));
    });
  }
}

// Error values have no cell value of their own: each is a formula that
// yields it.
void WriteErrors(const Sheet& sheet, const FormatWork& work) {
  for (const auto& error : work.errors) {
    const CellRangeAddress& a = error.first;
    const char* formula = error.second;
    Remote("setFormula", [&] {
      sheet->getCellByPosition(a.StartColumn, a.StartRow)->setFormula(rtl::OUString::createFromAscii(formula));
    });
  }
}

}  // namespace

void CellBlocks::Flush() {
  if (pending_.empty()) return;
  FormatWork work;
  for (const Rect& r : WrittenRectangles(pending_)) SendValues(sheet_, pending_, r, work);
  KeepPlainNumbersPlain(document_, sheet_, pending_, work);
  ApplyFormats(document_, sheet_, work);
  WriteErrors(sheet_, work);
  pending_.clear();
}

namespace {

// A block's place on the sheet (0-based) and its cells' order, row by row.
struct BlockArea {
  int32_t row0, column0, rows, columns;
  size_t Index(int32_t i, int32_t j) const { return static_cast<size_t>(i) * columns + j; }
  // Calls f(index) for each cell of the block inside a.
  template <typename F>
  void ForEachCell(const CellRangeAddress& a, F&& f) const {
    const int32_t lastRow = std::min<int32_t>(a.EndRow, row0 + rows - 1);
    const int32_t lastColumn = std::min<int32_t>(a.EndColumn, column0 + columns - 1);
    for (int32_t r = std::max<int32_t>(a.StartRow, row0); r <= lastRow; ++r)
      for (int32_t c = std::max<int32_t>(a.StartColumn, column0); c <= lastColumn; ++c) f(Index(r - row0, c - column0));
  }
};

// The cell types: values and non-empty texts from the data, formulas (and,
// when asked, texts of length zero) from range queries.
std::vector<StoredKind> StoredKinds(const Reference<css::table::XCellRange>& range, const BlockArea& area,
                                    const Sequence<Sequence<Any>>& data, bool askForTexts) {
  std::vector<StoredKind> kinds(static_cast<size_t>(area.rows) * area.columns, StoredKind::Empty);
  for (int32_t i = 0; i < area.rows; ++i) {
    for (int32_t j = 0; j < area.columns; ++j) {
      const Any& content = data[i][j];
      if (content.getValueTypeClass() == css::uno::TypeClass_DOUBLE)
        kinds[area.Index(i, j)] = StoredKind::Value;
      else if (content.getValueTypeClass() == css::uno::TypeClass_STRING &&
               !static_cast<const rtl::OUString*>(content.getValue())->isEmpty())
        kinds[area.Index(i, j)] = StoredKind::Text;
    }
  }
  Reference<css::sheet::XCellRangesQuery> query(range, UNO_QUERY_THROW);
  if (askForTexts) {
    for (const auto& a : query->queryContentCells(css::sheet::CellFlags::STRING)->getRangeAddresses())
      area.ForEachCell(a, [&](size_t k) { kinds[k] = StoredKind::Text; });
  }
  for (const auto& a : query->queryContentCells(css::sheet::CellFlags::FORMULA)->getRangeAddresses())
    area.ForEachCell(a, [&](size_t k) { kinds[k] = StoredKind::Formula; });
  return kinds;
}

// The number format type of each cell where it is logical, a date or a
// time (0 elsewhere), taken by area.
std::vector<sal_Int16> FormatTypes(const Reference<css::table::XCellRange>& range, const BlockArea& area,
                                   const std::function<sal_Int16(sal_Int32)>& formatType) {
  std::vector<sal_Int16> types(static_cast<size_t>(area.rows) * area.columns, 0);
  Reference<css::sheet::XUniqueCellFormatRangesSupplier> supplier(range, UNO_QUERY_THROW);
  auto groups = supplier->getUniqueCellFormatRanges();
  const sal_Int32 n = groups->getCount();
  for (sal_Int32 g = 0; g < n; ++g) {
    Reference<css::sheet::XSheetCellRanges> ranges(groups->getByIndex(g), UNO_QUERY_THROW);
    sal_Int32 key = 0;
    Reference<css::beans::XPropertySet>(ranges, UNO_QUERY_THROW)->getPropertyValue(ToOU("NumberFormat")) >>= key;
    const sal_Int16 type = formatType(key);
    if (!(type & (NumberFormat::LOGICAL | NumberFormat::DATE | NumberFormat::TIME))) continue;
    for (const auto& a : ranges->getRangeAddresses()) area.ForEachCell(a, [&](size_t k) { types[k] = type; });
  }
  return types;
}

// What fetching cells reads besides them. The fetch ahead takes a copy of
// its own, sharing nothing the job's thread changes.
struct FetchSource {
  Reference<css::sheet::XSpreadsheet> sheet;
  DocumentKinds kinds;
  // Cells this layer wrote a Boolean into (of the rows fetched, at least).
  const std::set<std::pair<int32_t, int32_t>>* writtenBooleans;
  std::function<sal_Int16(sal_Int32)> formatType;
};

struct Block {
  int32_t firstRow, firstColumn, rows, columns;
  std::vector<Variant> cells;
};

Block Fetch(const FetchSource& source, int32_t firstRow, int32_t firstColumn, int32_t rows, int32_t columns) {
  Block block{firstRow, firstColumn, rows, columns, {}};
  block.cells.resize(static_cast<size_t>(rows) * columns);
  Remote("getDataArray", [&] {
    auto range = source.sheet->getCellRangeByPosition(firstColumn - 1, firstRow - 1, firstColumn + columns - 2,
                                                      firstRow + rows - 2);
    const BlockArea area{firstRow - 1, firstColumn - 1, rows, columns};
    const Sequence<Sequence<Any>> data = Reference<css::sheet::XCellRangeData>(range, UNO_QUERY_THROW)->getDataArray();
    RefuseOverlongTexts(data, firstRow, firstColumn);
    // Where the document can hold texts of length zero, the text cells are
    // asked for: getDataArray gives such a text and an empty cell alike.
    const auto kinds = StoredKinds(range, area, data, !source.kinds.excelImport);
    const bool anyFormula = std::find(kinds.begin(), kinds.end(), StoredKind::Formula) != kinds.end();
    Sequence<Sequence<rtl::OUString>> formulas;
    if (anyFormula) formulas = Reference<css::sheet::XCellRangeFormula>(range, UNO_QUERY_THROW)->getFormulaArray();
    const auto types = FormatTypes(range, area, source.formatType);
    for (int32_t i = 0; i < rows; ++i) {
      for (int32_t j = 0; j < columns; ++j) {
        const size_t k = area.Index(i, j);
        const bool written =
            (types[k] & NumberFormat::LOGICAL) && source.writtenBooleans->count({firstRow + i, firstColumn + j});
        const rtl::OUString* formula = kinds[k] == StoredKind::Formula ? &formulas[i][j] : nullptr;
        const StoredCell cell{kinds[k], data[i][j], types[k], formula, written};
        if (auto value = ValueOf(cell, source.kinds)) {
          block.cells[k] = std::move(*value);
        } else {
          const sal_Int32 error = source.sheet->getCellByPosition(firstColumn - 1 + j, firstRow - 1 + i)->getError();
          block.cells[k] = Variant::Error(AutomationError(error));
        }
      }
    }
  });
  return block;
}

// The given columns (ascending) of rows firstRow on, into `into`: runs of
// neighbouring columns in one call each.
void FetchColumns(const FetchSource& source, int32_t firstRow, int32_t rows, const std::vector<int32_t>& columns,
                  std::map<int32_t, std::vector<Variant>>& into) {
  for (size_t start = 0; start < columns.size();) {
    size_t last = start;
    while (last + 1 < columns.size() && columns[last + 1] == columns[last] + 1 &&
           columns[last + 1] - columns[start] + 1 <= kReadBlockColumns)
      ++last;
    Block block = Fetch(source, firstRow, columns[start], rows, columns[last] - columns[start] + 1);
    for (int32_t j = 0; j < block.columns; ++j) {
      std::vector<Variant>& values = into[block.firstColumn + j];
      values.reserve(static_cast<size_t>(rows));
      for (int32_t i = 0; i < rows; ++i) values.push_back(std::move(block.cells[static_cast<size_t>(i) * block.columns + j]));
    }
    start = last + 1;
  }
}

}  // namespace

void CellBlocks::LoadUsedArea() {
  kinds_ = document_.Kinds();
  usedEnd_ = Remote("gotoEndOfUsedArea", [&] {
    auto cursor = sheet_->createCursor();
    Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
    used->gotoEndOfUsedArea(false);
    Reference<css::sheet::XCellRangeAddressable> address(cursor, UNO_QUERY_THROW);
    const auto a = address->getRangeAddress();
    return std::make_pair(a.EndRow + 1, a.EndColumn + 1);
  });
}

Variant CellBlocks::Read(int32_t row, int32_t column) {
  if (!usedEnd_) LoadUsedArea();
  if (row > usedEnd_->first || column > usedEnd_->second) return Variant();
  readColumns_.insert(column);
  const int32_t rowBlock = (row - 1) / kReadBlockRows;
  if (rowBlock != rowBlock_) {
    // Jobs read downwards: the rows behind are done with.
    loaded_.clear();
    rowBlock_ = rowBlock;
    firstRowRead_ = row;
    TakeAhead();
  }
  auto it = loaded_.find(column);
  if (it == loaded_.end()) {
    LoadColumns();
    it = loaded_.find(column);
  }
  // Once the job reads the block's second row, the columns it reads are
  // known.
  if (row > firstRowRead_ && !ahead_) FetchAhead();
  return it->second[static_cast<size_t>(row - 1 - rowBlock_ * kReadBlockRows)];
}

void CellBlocks::LoadColumns() {
  const int32_t firstRow = rowBlock_ * kReadBlockRows + 1;
  const int32_t rows = std::min(kReadBlockRows, usedEnd_->first - firstRow + 1);
  std::vector<int32_t> wanted;
  for (const int32_t c : readColumns_)
    if (c <= usedEnd_->second && !loaded_.count(c)) wanted.push_back(c);
  const FetchSource source{sheet_, kinds_, &writtenBooleans_, [this](sal_Int32 key) { return document_.FormatType(key); }};
  FetchColumns(source, firstRow, rows, wanted, loaded_);
}

void CellBlocks::FetchAhead() {
  const int32_t next = rowBlock_ + 1;
  const int32_t firstRow = next * kReadBlockRows + 1;
  if (firstRow > usedEnd_->first) return;
  const int32_t rows = std::min(kReadBlockRows, usedEnd_->first - firstRow + 1);
  std::vector<int32_t> columns;
  for (const int32_t c : readColumns_)
    if (c <= usedEnd_->second) columns.push_back(c);
  // Its own copy of all it reads: the Booleans written in its rows, and the
  // number formats it looks up.
  auto booleans = std::make_shared<std::set<std::pair<int32_t, int32_t>>>(
      writtenBooleans_.lower_bound({firstRow, 0}), writtenBooleans_.lower_bound({firstRow + rows, 0}));
  auto document = document_.document;
  auto formatTypes = std::make_shared<std::map<sal_Int32, sal_Int16>>();
  FetchSource source{sheet_, kinds_, booleans.get(), [document, formatTypes](sal_Int32 key) {
                       const auto it = formatTypes->find(key);
                       if (it != formatTypes->end()) return it->second;
                       return (*formatTypes)[key] = NumberFormatType(document, key);
                     }};
  ahead_ = Ahead{next, std::async(std::launch::async, [source = std::move(source), booleans, firstRow, rows, columns] {
                   Columns fetched;
                   FetchColumns(source, firstRow, rows, columns, fetched);
                   return fetched;
                 })};
}

void CellBlocks::TakeAhead() {
  if (!ahead_) return;
  if (ahead_->rowBlock != rowBlock_) {
    DropAhead();
    return;
  }
  std::future<Columns> columns = std::move(ahead_->columns);
  ahead_.reset();
  loaded_ = columns.get();  // its failure is this block's, as if fetched now
}

}  // namespace pendra::excel
