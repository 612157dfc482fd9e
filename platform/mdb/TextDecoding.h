// Text as Access stores it, to UTF-8. Jet 4 and ACE store UTF-16 (UCS-2
// with surrogate pairs for characters beyond the Basic Multilingual Plane),
// optionally "compressed": after the marker FF FE, runs of one-byte
// characters (Latin-1) alternate with runs of two-byte ones, each 00 byte
// switching between them. Jet 3 stores the bytes of the database's code
// page; code page 932 goes through our own decoder (libmdb maps it to plain
// Shift-JIS, which turns '\', '~', '～' and the NEC and IBM rows into other
// characters).
#pragma once

#include <iconv.h>

#include <optional>
#include <string>

#include "core/Cp932Decoder.h"

namespace pendra::mdb {

class TextDecoding {
 public:
  TextDecoding(bool jet3, int codePage);
  ~TextDecoding();
  TextDecoding(const TextDecoding&) = delete;
  TextDecoding& operator=(const TextDecoding&) = delete;

  // False when the bytes are not text of the file's encoding.
  bool Decode(const std::string& stored, std::string& out);

 private:
  bool jet3_;
  std::optional<Cp932Decoder> cp932_;
  iconv_t codePage_ = reinterpret_cast<iconv_t>(-1);
};

// UTF-16LE to UTF-8; false on a lone surrogate.
bool Utf16ToUtf8(const std::string& utf16, std::string& out);

}  // namespace pendra::mdb
