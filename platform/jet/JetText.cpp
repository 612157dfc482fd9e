#include "JetText.h"

#include <algorithm>

#include "mdb/TextDecoding.h"

namespace pendra::jet {

namespace {

bool IsCompressed(const std::string& stored) {
  return stored.size() >= 2 && static_cast<uint8_t>(stored[0]) == 0xFF && static_cast<uint8_t>(stored[1]) == 0xFE;
}

}  // namespace

bool StoredToUtf16(const JetFile& file, const std::string& stored, std::u16string& out) {
  out.clear();
  if (file.IsJet3()) {
    mdb::TextDecoding decoding(true, file.CodePage());
    std::string utf8;
    if (!decoding.Decode(stored, utf8)) return false;
    out = Utf8ToUtf16(utf8);
    return true;
  }
  if (!IsCompressed(stored)) {
    if (stored.size() % 2 != 0) return false;
    out.resize(stored.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(Le16(stored, 2 * i));
    return true;
  }
  out.reserve(stored.size() - 2);
  bool oneByte = true;
  for (size_t i = 2; i < stored.size();) {
    if (stored[i] == '\0') {
      oneByte = !oneByte;
      ++i;
    } else if (oneByte) {
      out += static_cast<char16_t>(static_cast<uint8_t>(stored[i++]));
    } else if (i + 1 < stored.size()) {
      out += static_cast<char16_t>(Le16(stored, i));
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  std::string out;
  if (!mdb::Utf16ToUtf8(bytes, out)) {
    // A lone surrogate: shown, never stored, so a replacement will do.
    out.clear();
    for (char16_t c : text) out += (c < 0x80 ? static_cast<char>(c) : '?');
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());  // never more characters than bytes
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<uint8_t>(text[i]);
    uint32_t c = 0xFFFD;
    size_t n = 1;
    if (b < 0x80) {
      c = b;
    } else if ((b >> 5) == 0x6 && i + 1 < text.size()) {
      c = (b & 0x1Fu) << 6 | (static_cast<uint8_t>(text[i + 1]) & 0x3Fu);
      n = 2;
    } else if ((b >> 4) == 0xE && i + 2 < text.size()) {
      c = (b & 0x0Fu) << 12 | (static_cast<uint8_t>(text[i + 1]) & 0x3Fu) << 6 | (static_cast<uint8_t>(text[i + 2]) & 0x3Fu);
      n = 3;
    } else if ((b >> 3) == 0x1E && i + 3 < text.size()) {
      c = (b & 0x07u) << 18 | (static_cast<uint8_t>(text[i + 1]) & 0x3Fu) << 12 |
          (static_cast<uint8_t>(text[i + 2]) & 0x3Fu) << 6 | (static_cast<uint8_t>(text[i + 3]) & 0x3Fu);
      n = 4;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += n;
  }
  return out;
}

std::string DecodeName(const JetFile& file, const std::string& stored) {
  std::u16string text;
  if (!StoredToUtf16(file, stored, text)) return std::string(stored.size(), '?');
  return Utf16ToUtf8(text);
}

std::string EncodeStoredText(std::u16string_view text, bool compressible) {
  // Only text whose characters all fit one byte (and are not 0) is
  // compressed: a two-byte character whose low byte is 00 would read as a
  // switch between runs, and mixed runs save little. The marker costs two
  // bytes: three characters are the fewest it saves on.
  const bool oneByteEach =
      std::all_of(text.begin(), text.end(), [](char16_t c) { return c != 0 && c < 0x100; });
  if (compressible && oneByteEach && text.size() > 2) {
    std::string packed(2 + text.size(), '\0');
    packed[0] = '\xFF';
    packed[1] = '\xFE';
    for (size_t i = 0; i < text.size(); ++i) packed[2 + i] = static_cast<char>(text[i]);
    return packed;
  }
  std::string plain(2 * text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    plain[2 * i] = static_cast<char>(text[i] & 0xFF);
    plain[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return plain;
}

}  // namespace pendra::jet
