// A genuine Access database file as pages: its format (Jet 3, Jet 4, ACE),
// its header facts, and bounds-checked access to the bytes of each page.
// The bytes are a string read at once (the limit keeps an untrusted file
// from exhausting memory), or wherever the caller keeps them (ImageBytes.h).
//
// Page layout facts (see docs/design.md, "Access file layout"): page 0 is the
// header; bytes 0x18.. of it are masked with a fixed byte sequence; the
// version byte at 0x14 gives the format; Jet 3 pages are 2 KB, later ones 4 KB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ImageBytes.h"

namespace pendra::jet {

enum class Format { Jet3, Jet4, Ace12, Ace14, Ace16, Ace17 };

std::string FormatName(Format format);

// Little-endian reads and writes in a byte string (the format's own order
// for everything but index keys).
inline uint32_t Le16(std::string_view b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}
inline uint32_t Le24(std::string_view b, size_t at) { return Le16(b, at) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16; }
inline uint32_t Le32(std::string_view b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }
inline void PutLe16(std::string& b, size_t at, uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void PutLe32(std::string& b, size_t at, uint32_t v) {
  PutLe16(b, at, v & 0xFFFF);
  PutLe16(b, at + 2, v >> 16);
}
// The same on the bytes of a page being written.
inline uint32_t Le16(const char* b, size_t at) { return Le16(std::string_view(b + at, 2), 0); }
inline uint32_t Le32(const char* b, size_t at) { return Le32(std::string_view(b + at, 4), 0); }
inline void PutLe16(char* b, size_t at, uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void PutLe32(char* b, size_t at, uint32_t v) {
  PutLe16(b, at, v & 0xFFFF);
  PutLe16(b, at + 2, v >> 16);
}

// The pages' byte positions that differ between Jet 3 and the later formats.
struct Layout {
  size_t pageSize;
  // data pages
  size_t dataRowCount, dataRowTable;
  // table definition
  size_t tdefRows, tdefAutoNumber, tdefMaxCols, tdefVarCols, tdefCols, tdefIndexes, tdefRealIndexes,
      tdefOwnedMap, tdefFreeMap, tdefHeaderSize, realIndexCountSize, columnSize, realIndexSize, logicalIndexSize;
  size_t columnNumber, columnVarIndex, columnSortOrder, columnFlags, columnFixedOffset, columnLength;
  size_t nameLengthSize;
  // index pages
  size_t indexPrev, indexNext, indexTail, indexPrefix, indexMask, indexMaskSize;
  // rows
  size_t rowCountSize;
};

class JetFile {
 public:
  // Reads the file through the bounded reader of core (RegularFile.h), for
  // check-mdb and the tests. Raises 3024 (no such file), 3051 (not a
  // regular file), 3343 (not an Access database), 3049 (a size that is not
  // whole pages).
  explicit JetFile(const std::string& path);
  // A file image already in memory; path only names it in messages.
  JetFile(std::string bytes, const std::string& path);
  // An image whose bytes the caller keeps.
  JetFile(std::unique_ptr<ImageBytes> bytes, const std::string& path);

  Format format() const { return format_; }
  bool IsJet3() const { return format_ == Format::Jet3; }
  const Layout& layout() const { return layout_; }
  size_t PageSize() const { return layout_.pageSize; }
  uint32_t PageCount() const { return static_cast<uint32_t>(bytes_->Size() / layout_.pageSize); }
  size_t Size() const { return bytes_->Size(); }
  const std::string& path() const { return path_; }

  // The bytes of one page; raises 3049 for a page beyond the file.
  std::string_view Page(uint32_t number) const;
  bool HasPage(uint32_t number) const { return number < PageCount(); }
  // The same, to be written.
  char* PageBytes(uint32_t number);
  // Appends a page of zeros.
  void AppendPage() { bytes_->Append(layout_.pageSize); }
  // Room for `size` bytes in all, so that the pages do not move while the
  // file grows to it (a hint).
  void Reserve(size_t size) { bytes_->Reserve(size); }
  // Where the bytes start (for a view's place in the file).
  const char* Data() const { return bytes_->Data(); }
  // Bytes of a page, taken earlier, are being read again (ImageBytes.h);
  // bytes from elsewhere are no concern of the image's.
  void Touch(std::string_view bytes) const;
  // The whole image as a string: only for an image read into memory (the
  // tests and tools change and save such images).
  std::string& bytes();
  const std::string& bytes() const;

  // Header facts (from the unmasked header).
  int CodePage() const { return codePage_; }
  // The database's sort order (LCID) and its version byte (Jet 4 and later).
  int SortOrder() const { return sortOrder_; }
  int SortVersion() const { return sortVersion_; }
  // The whole file is encoded (an encoding key in the header; ACE files with
  // a password are always encoded).
  bool Encrypted() const { return encrypted_; }
  // A database password is set (Jet 3 and Jet 4 keep it in the header).
  bool PasswordProtected() const { return passwordProtected_; }

 private:
  void Parse();

  std::unique_ptr<ImageBytes> bytes_;
  std::string path_;
  Format format_ = Format::Jet4;
  Layout layout_{};
  int codePage_ = 0;
  int sortOrder_ = 0;
  int sortVersion_ = 0;
  bool encrypted_ = false;
  bool passwordProtected_ = false;
};

// Raises 3049 (damaged) with a description naming the file and what is wrong.
[[noreturn]] void RaiseDamaged(const std::string& path, const std::string& what);

}  // namespace pendra::jet
