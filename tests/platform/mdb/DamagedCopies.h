// Altered copies of the good Access files in tests/data/access/, made by
// the tests themselves in a temporary folder: a file cut short (a full disk,
// a copy that stopped half-way), a file with one row whose header is wrong,
// and a file whose layout takes the rarer ways of the format. The project
// carries only good files.
#pragma once

#include <cstddef>
#include <string>

namespace pendra::mdb::test {

// A folder of its own under the temporary folder, removed with the object.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The pages of a Jet 4 / ACE file (4096 bytes each).
size_t PageCount(const std::string& good);

// Writes the first `pages` pages of `good` to `copy`.
void CutAfterPages(const std::string& good, const std::string& copy, size_t pages);

// Writes a copy of the Jet 4 / ACE file `good` in which the `row`-th row
// (from 0) of the first data page of the table having a column named
// `column` says it has 0xFFFF columns.
void WithRowOfAllColumns(const std::string& good, const std::string& copy, const std::u16string& column, int row);

// Writes a copy of the Jet 4 / ACE file `good` in which the first row of
// the table having a column named `column` has moved to a page appended at
// the end, and the table's usage map is of a kind libmdb does not know (it
// then finds the table's pages by looking at every page). The rows read
// the same.
void WithFirstRowMovedAndAnUnknownUsageMap(const std::string& good, const std::string& copy, const std::u16string& column);

}  // namespace pendra::mdb::test
