// The cells of one sheet as the layer moves them: writes wait in a buffer
// and go over in rectangles (setDataArray), with the number formats that
// Booleans and dates need applied per format in one call each; reads fetch
// blocks of rows together with the cell kinds, of the columns the job has
// read from the sheet only, and keep only the block of rows being read.
// A workbook is untrusted: a cell of a column no job reads costs nothing,
// however large it is, and a text longer than any cell can hold is refused
// before it is copied.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include <com/sun/star/sheet/XSpreadsheet.hpp>

#include "CellKinds.h"
#include "UnoSupport.h"
#include "core/Variant.h"

namespace pendra::excel {

struct DocumentState;

class CellBlocks {
 public:
  CellBlocks(DocumentState& document, css::uno::Reference<css::sheet::XSpreadsheet> sheet)
      : document_(document), sheet_(std::move(sheet)) {}

  // Buffers a write; the value must already be one a cell can take.
  void Write(int32_t row, int32_t column, const Variant& value);
  bool HasPending() const { return !pending_.empty(); }
  // Sends every buffered write to the sheet, in the order of the rows.
  void Flush();
  // The cell's value; the caller has flushed every pending write first.
  Variant Read(int32_t row, int32_t column);
  // Forgets what was read (the sheet may have changed underneath).
  void Forget();

 private:
  struct Block {
    int32_t firstRow, firstColumn, rows, columns;
    std::vector<Variant> cells;
  };
  void LoadUsedArea();
  // Loads, for the block of rows being read, every column read so far that
  // is not loaded yet and lies in the used area.
  void LoadColumns();
  Block Fetch(int32_t firstRow, int32_t firstColumn, int32_t rows, int32_t columns);

  DocumentState& document_;
  css::uno::Reference<css::sheet::XSpreadsheet> sheet_;
  // row -> values by column - 1 (unset: not written)
  std::map<int32_t, std::vector<std::optional<Variant>>> pending_;
  std::optional<std::pair<int32_t, int32_t>> usedEnd_;  // last used row, column (1-based)
  DocumentKinds kinds_;  // taken with the used area
  // Cells this layer wrote a Boolean into: in a document of an Excel format
  // only these hold Booleans as values (the import makes its own formulas).
  std::set<std::pair<int32_t, int32_t>> writtenBooleans_;
  // The columns the job has read from this sheet (its columns: a job reads
  // the same columns row after row).
  std::set<int32_t> readColumns_;
  // The block of rows being read (index from 0, -1: none) and its loaded
  // columns' values by row within the block.
  int32_t rowBlock_ = -1;
  std::map<int32_t, std::vector<Variant>> loaded_;
};

// The longest text a cell can hold (what the automation application's cells
// take). A longer text comes from no workbook of the application and fits
// no column of the tool's tables (their texts hold at most 255 characters).
inline constexpr int32_t kLongestCellText = 32767;

// The value a cell stores for a written variant: Null and "" leave the cell
// empty; every number kind becomes a Double; raises 1004 for what no cell
// can hold.
Variant CellValueFor(const Variant& value);

}  // namespace pendra::excel
