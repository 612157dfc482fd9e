#include "DamagedCopies.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pendra::mdb::test {

namespace {

namespace fs = std::filesystem;

// Jet 4 and ACE: 4096-byte pages; a data page is of type 1 and names the
// page of its table's definition at offset 4; its row count lies at offset
// 12, the rows' offsets follow, and a row begins with its column count.
constexpr size_t kPage = 4096;
constexpr unsigned char kDataPage = 0x01;
constexpr unsigned char kTableDefinitionPage = 0x02;
constexpr size_t kOwnerAt = 4;
constexpr size_t kRowCountAt = 12;
constexpr size_t kRowOffsetsAt = 14;
constexpr unsigned kOffsetMask = 0x1FFF;
constexpr unsigned kMovedFlag = 0x4000;
// A table definition names the row holding its usage map (the pages the
// table uses) at this offset.
constexpr size_t kUsageMapAt = 55;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

unsigned U16(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

unsigned U32(const std::string& bytes, size_t at) { return U16(bytes, at) | U16(bytes, at + 2) << 16; }

}  // namespace

TemporaryFolder::TemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "pendra-access-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

size_t PageCount(const std::string& good) { return fs::file_size(good) / kPage; }

void CutAfterPages(const std::string& good, const std::string& copy, size_t pages) {
  std::string bytes = Bytes(good);
  if (pages * kPage >= bytes.size()) throw std::runtime_error(good + " has no page " + std::to_string(pages));
  bytes.resize(pages * kPage);
  Write(copy, bytes);
}

namespace {

// The page of the definition of the table having a column named `column`.
size_t DefinitionPage(const std::string& bytes, const std::string& file, const std::u16string& column) {
  // A table definition stores its columns' names in UTF-16LE.
  std::string name;
  for (const char16_t c : column) name += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  for (size_t page = 1; page < bytes.size() / kPage; ++page) {
    if (static_cast<unsigned char>(bytes[page * kPage]) == kTableDefinitionPage &&
        bytes.substr(page * kPage, kPage).find(name) != std::string::npos)
      return page;
  }
  throw std::runtime_error(file + ": no table has the column asked for");
}

// Where the first data page of the table defined on page `definition` begins.
size_t FirstDataPage(const std::string& bytes, const std::string& file, size_t definition) {
  for (size_t page = 1; page < bytes.size() / kPage; ++page) {
    const size_t at = page * kPage;
    if (static_cast<unsigned char>(bytes[at]) == kDataPage && U32(bytes, at + kOwnerAt) == definition) return at;
  }
  throw std::runtime_error(file + ": a table has no data page");
}

// Where row `row` of the page beginning at `at` begins.
size_t RowStart(const std::string& bytes, const std::string& file, size_t at, unsigned row) {
  if (row >= U16(bytes, at + kRowCountAt)) throw std::runtime_error(file + ": the page has no row " + std::to_string(row));
  return at + (U16(bytes, at + kRowOffsetsAt + 2 * row) & kOffsetMask);
}

}  // namespace

void WithFirstRowMovedAndAnUnknownUsageMap(const std::string& good, const std::string& copy, const std::u16string& column) {
  std::string bytes = Bytes(good);
  const size_t definition = DefinitionPage(bytes, good, column);
  const size_t data = FirstDataPage(bytes, good, definition);
  // The data page again at the end, owned by no table, so that only the
  // pointer leads there.
  const size_t elsewhere = bytes.size() / kPage;
  std::string page = bytes.substr(data, kPage);
  for (size_t i = 0; i < 4; ++i) page[kOwnerAt + i] = 0;
  bytes += page;
  // The first row moved there: its slot says so, and it holds the row
  // number, then the page number.
  const size_t slot = data + kRowOffsetsAt;
  const unsigned movedOffset = U16(bytes, slot) | kMovedFlag;
  bytes[slot] = static_cast<char>(movedOffset & 0xFF);
  bytes[slot + 1] = static_cast<char>(movedOffset >> 8);
  const size_t row = RowStart(bytes, good, data, 0);
  bytes[row] = 0;
  for (size_t i = 0; i < 3; ++i) bytes[row + 1 + i] = static_cast<char>(elsewhere >> (8 * i));
  // The first byte of the usage map (a row of its own) gives its kind.
  const unsigned map = U32(bytes, definition * kPage + kUsageMapAt);
  bytes[RowStart(bytes, good, (map >> 8) * kPage, map & 0xFF)] = 0x7F;
  Write(copy, bytes);
}

void WithRowOfAllColumns(const std::string& good, const std::string& copy, const std::u16string& column, int row) {
  std::string bytes = Bytes(good);
  const size_t data = FirstDataPage(bytes, good, DefinitionPage(bytes, good, column));
  const size_t start = RowStart(bytes, good, data, static_cast<unsigned>(row));
  bytes[start] = static_cast<char>(0xFF);
  bytes[start + 1] = static_cast<char>(0xFF);
  Write(copy, bytes);
}

}  // namespace pendra::mdb::test
