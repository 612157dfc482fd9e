// Code page 932 to UTF-8 with glibc iconv "CP932": the Windows table, with
// the NEC and IBM extension rows, 0x5C as the backslash and 0x7E as the
// tilde. (iconv's "SHIFT_JIS" is the JIS table, which maps 0x5C to the yen
// sign and rejects the vendor rows, so it would change or refuse text that
// Windows programs write.)
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace pendra {

class Cp932Decoder {
 public:
  Cp932Decoder();
  ~Cp932Decoder();
  Cp932Decoder(const Cp932Decoder&) = delete;
  Cp932Decoder& operator=(const Cp932Decoder&) = delete;

  // Decodes the whole text into out. On bytes that code page 932 cannot
  // decode, returns false with a description of the first such place in
  // problem; nothing is replaced or dropped silently.
  bool Decode(std::string_view bytes, std::string& out, std::string& problem);

 private:
  iconv_t cd_;
};

}  // namespace pendra
