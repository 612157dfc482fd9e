// The cells of one sheet as the layer moves them: writes wait in a buffer
// and go over in rectangles (setDataArray), with the number formats that
// Booleans and dates need applied per format in one call each; reads fetch
// blocks of rows together with the cell kinds, of the columns the job has
// read from the sheet only, and keep only the block of rows being read;
// while the job works through one block, the next is fetched on a thread of
// its own, so that the office's work and the job's overlap.
// A workbook is untrusted: a cell of a column no job reads costs nothing,
// however large it is, and a text longer than any cell can hold is refused
// before it is copied.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
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
  // Values of a block of rows by column, as loaded_ holds them.
  using Columns = std::map<int32_t, std::vector<Variant>>;
  // The next block of rows, being fetched.
  struct Ahead {
    int32_t rowBlock;
    std::future<Columns> columns;
  };
  void LoadUsedArea();
  // Loads, for the block of rows being read, every column read so far that
  // is not loaded yet and lies in the used area.
  void LoadColumns();
  // Starts fetching the block after the one being read, of the columns read
  // so far; then takes it when the job gets there, or drops it (waiting for
  // it) when the job goes elsewhere or the sheet may have changed.
  void FetchAhead();
  void TakeAhead();
  void DropAhead() { ahead_.reset(); }

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
  int32_t firstRowRead_ = 0;  // of that block
  Columns loaded_;
  std::optional<Ahead> ahead_;
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
