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

// A column name as a Jet 4 table definition stores it: UTF-16LE.
std::string Utf16(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    unsigned code = c;
    size_t more = 0;
    if (c >= 0xE0) {
      code = c & 0x0F;
      more = 2;
    } else if (c >= 0xC0) {
      code = c & 0x1F;
      more = 1;
    }
    for (size_t k = 1; k <= more; ++k) code = code << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += more + 1;
    out += static_cast<char>(code & 0xFF);
    out += static_cast<char>(code >> 8);
  }
  return out;
}

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

void WithRowOfAllColumns(const std::string& good, const std::string& copy, const std::string& column, int row) {
  std::string bytes = Bytes(good);
  const std::string name = Utf16(column);
  size_t definition = 0;
  for (size_t page = 1; page < bytes.size() / kPage && !definition; ++page) {
    if (static_cast<unsigned char>(bytes[page * kPage]) == kTableDefinitionPage &&
        bytes.substr(page * kPage, kPage).find(name) != std::string::npos)
      definition = page;
  }
  if (!definition) throw std::runtime_error(good + ": no table has a column " + column);
  for (size_t page = 1; page < bytes.size() / kPage; ++page) {
    const size_t at = page * kPage;
    if (static_cast<unsigned char>(bytes[at]) != kDataPage || U32(bytes, at + kOwnerAt) != definition) continue;
    if (static_cast<unsigned>(row) >= U16(bytes, at + kRowCountAt))
      throw std::runtime_error(good + ": the page has no row " + std::to_string(row));
    const size_t start = at + (U16(bytes, at + kRowOffsetsAt + 2 * static_cast<size_t>(row)) & kOffsetMask);
    bytes[start] = static_cast<char>(0xFF);
    bytes[start + 1] = static_cast<char>(0xFF);
    Write(copy, bytes);
    return;
  }
  throw std::runtime_error(good + ": the table of column " + column + " has no data page");
}

}  // namespace pendra::mdb::test
