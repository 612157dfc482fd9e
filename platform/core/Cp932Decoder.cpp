#include "Cp932Decoder.h"

#include <cerrno>
#include <cstdio>

#include "PlatformError.h"

namespace pendra {

Cp932Decoder::Cp932Decoder() : cd_(iconv_open("UTF-8", "CP932")) {
  if (cd_ == reinterpret_cast<iconv_t>(-1)) {
    Raise(err::kInvalidProcedureCall, "コードページ 932 の変換表がありません (iconv CP932)。");
  }
}

Cp932Decoder::~Cp932Decoder() { iconv_close(cd_); }

bool Cp932Decoder::Decode(std::string_view bytes, std::string& out, std::string& problem) {
  // Every input byte becomes at most three bytes of UTF-8 (a half-width
  // katakana is one byte in code page 932 and three in UTF-8).
  out.resize(bytes.size() * 3 + 4);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* to = out.data();
  size_t toLeft = out.size();
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  size_t rc = iconv(cd_, &in, &inLeft, &to, &toLeft);
  if (rc == static_cast<size_t>(-1)) {
    const size_t at = bytes.size() - inLeft;
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(bytes[at]));
    if (errno == EINVAL) {
      problem = std::string("文字が途中で切れています（") + hex + "、" +
                std::to_string(at + 1) + " バイト目）";
    } else {
      problem = std::string("コードページ 932 で読めないバイト ") + hex + " があります（" +
                std::to_string(at + 1) + " バイト目）";
    }
    out.clear();
    return false;
  }
  out.resize(out.size() - toLeft);
  return true;
}

}  // namespace pendra
