// The value a read gives for a cell, decided from what the workbook stores
// as LibreOffice keeps it after import: the cell's type (empty, value, text,
// formula), a formula's result, the document's base date. A display format
// alone never turns a number into a Boolean.
//
// What the import keeps, by format (LibreOffice 7.4):
// - Booleans: .xls and .xlsx have Boolean cells of their own; the import
//   turns them into the formulas =TRUE() and =FALSE(). OpenDocument stores
//   a Boolean as a value of type boolean; the import keeps it as the number
//   0 or 1 with a logical format, the same as a Boolean written into a cell
//   through this layer. So a plain value is a Boolean only when it is 0 or 1
//   with a logical format, and in a document of an Excel format only when
//   this layer wrote it as one.
// - A formula's result: a text, a number or an error. A number is a Boolean
//   when the import gave the cell a logical format (the result type the file
//   stored: t="b" in .xlsx, value type boolean in OpenDocument), or when the
//   formula's outermost operation yields one (a comparison, AND, ISNUMBER,
//   ...): the .xls import keeps no result type at all.
// - Text of length zero: OpenDocument keeps it as a text cell; the .xls and
//   .xlsx imports drop it, so there it reads as an empty cell.
// - Dates: numbers with a date or time format, counted from the document's
//   base date (1899-12-30, or 1904-01-01 in a workbook of the 1904 system).
#pragma once

#include <optional>
#include <string_view>

#include <com/sun/star/uno/Any.hxx>
#include <rtl/ustring.hxx>

#include "core/Variant.h"

namespace pendra::excel {

// How a document stores its cells, for the decisions below.
struct DocumentKinds {
  // Loaded through an Excel format: its Booleans came in as formulas and
  // its texts of length zero were dropped.
  bool excelImport = false;
  double dateOffset = 0;  // base date minus 1899-12-30, in days
};

enum class StoredKind { Empty, Value, Text, Formula };

struct StoredCell {
  StoredKind kind;
  const css::uno::Any& content;  // as getDataArray gives it
  sal_Int16 formatType;          // css::util::NumberFormat bits of the cell's format
  const rtl::OUString* formula;  // for a formula: its text in the API grammar
  bool writtenAsBoolean;         // a Boolean went in through this layer
};

// The cell's value; a formula whose result is an error is the caller's to
// ask about (std::nullopt here), as that needs one more call to the office.
std::optional<Variant> ValueOf(const StoredCell& cell, const DocumentKinds& document);

// Whether a formula's outermost operation yields a Boolean: a comparison,
// or a call of a logical or IS function that makes up the whole formula.
bool FormulaYieldsBoolean(std::string_view formula);

// Whether LibreOffice loaded the document through an Excel format's filter.
bool IsExcelFilter(const rtl::OUString& filter);

}  // namespace pendra::excel
