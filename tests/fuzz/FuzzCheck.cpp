#include "FuzzCheck.h"

namespace pendra::fuzz {

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  auto trail = [&](size_t k) { return k < n && (byte(k) & 0xC0) == 0x80; };
  while (i < n) {
    const unsigned char c = byte(i);
    if (c < 0x80) {
      i += 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      if (!trail(i + 1)) return false;
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      if (!trail(i + 1) || !trail(i + 2)) return false;
      const unsigned char c1 = byte(i + 1);
      if (c == 0xE0 && c1 < 0xA0) return false;   // overlong
      if (c == 0xED && c1 >= 0xA0) return false;  // surrogate
      i += 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      if (!trail(i + 1) || !trail(i + 2) || !trail(i + 3)) return false;
      const unsigned char c1 = byte(i + 1);
      if (c == 0xF0 && c1 < 0x90) return false;   // overlong
      if (c == 0xF4 && c1 >= 0x90) return false;  // above U+10FFFF
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

size_t CodePointCount(std::string_view text) {
  size_t count = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace pendra::fuzz
