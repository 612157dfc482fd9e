#include "Jet3TextKey.h"

#include <cstdint>

namespace pendra::jet {

namespace {

struct Gen97Code {
  char kind;           // S simple, I international, G significant, X ignored
  const char* inline_;  // the code bytes written in place
  uint8_t extra;       // I: the nibble written after the weights
};

struct Gen97Mapping {
  char16_t from;
  uint8_t to;
};

#include "Jet3TextKeyCodes.inc"

constexpr size_t kMaxKeyedLength = 255;
constexpr uint8_t kBoundsNibble = 0x0;
constexpr uint8_t kPlaceholderNibble = 0x2;

const Gen97Code& CodeOf(char16_t c) {
  if (c <= 0xFF) return kGen97Codes[c];
  for (const Gen97Mapping& m : kGen97Mappings)
    if (m.from == c) return kGen97Codes[m.to];
  return kGen97Codes[0];  // no weight
}

// Nibbles packed high first.
class Nibbles {
 public:
  void Add(uint8_t nibble) {
    if (count_ % 2 == 0) {
      bytes_ += static_cast<char>((nibble & 0x0F) << 4);
    } else {
      bytes_.back() = static_cast<char>(static_cast<uint8_t>(bytes_.back()) | (nibble & 0x0F));
    }
    ++count_;
  }
  bool empty() const { return count_ == 0; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  size_t count_ = 0;
};

}  // namespace

void AppendGeneral97TextKey(std::u16string_view text, std::string& key) {
  text = text.substr(0, kMaxKeyedLength);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  Nibbles extra;
  size_t significant = 0;
  for (char16_t c : text) {
    const Gen97Code& code = CodeOf(c);
    key += code.inline_;
    if (code.kind == 'G') ++significant;
    if (code.kind != 'I') continue;
    if (extra.empty()) extra.Add(kBoundsNibble);
    for (; significant > 0; --significant) extra.Add(kPlaceholderNibble);
    extra.Add(code.extra);
  }
  if (extra.empty()) {
    key += '\0';
  } else {
    extra.Add(kBoundsNibble);
    key += extra.bytes();
  }
}

}  // namespace pendra::jet
