// The text index entries Access wrote into a Jet 4 / ACE file, each paired
// with the text of the row it points at: the ground truth the text key
// encoder is checked against.
//
// The pages are read here directly (table definitions, the row pointers of
// data pages, index leaf pages), and the rows through the project's own
// reader (mdb::ReadAccessFile); the two are matched by row pointer: the
// reader yields a table's rows in the order of their data pages and row
// slots, which is the order the row pointers are collected in here.
#pragma once

#include <string>
#include <vector>

namespace pendra::jet::test {

struct IndexedText {
  std::string table;
  std::string column;
  int sortOrderId = 0;       // the column's sort order: locale id
  int sortOrderVersion = 0;  // and version
  bool descending = false;
  std::u16string text;  // the row's value
  std::string utf8;     // the same, for messages
  std::string key;      // the entry's key: no flag byte, no row pointer
};

// Every non-Null entry of every single-column Text index of the file's user
// tables. Raises std::runtime_error when the file is not Jet 4 / ACE, a page
// is out of place, or rows and row pointers do not pair up one to one.
std::vector<IndexedText> ReadIndexedTexts(const std::string& path);

}  // namespace pendra::jet::test
