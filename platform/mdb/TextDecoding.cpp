#include "TextDecoding.h"

namespace pendra::mdb {

namespace {

void AppendUtf8(uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Expands compressed Unicode into plain UTF-16LE.
std::string Uncompressed(const std::string& stored) {
  std::string utf16;
  utf16.reserve(stored.size() * 2);
  bool compressed = true;
  for (size_t i = 2; i < stored.size();) {
    if (stored[i] == '\0') {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      utf16 += stored[i++];
      utf16 += '\0';
    } else if (i + 1 < stored.size()) {
      utf16 += stored[i++];
      utf16 += stored[i++];
    } else {
      break;
    }
  }
  return utf16;
}

}  // namespace

bool Utf16ToUtf8(const std::string& utf16, std::string& out) {
  out.clear();
  out.reserve(utf16.size() * 3 / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(utf16.data());
  const size_t units = utf16.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    uint32_t c = p[2 * i] | p[2 * i + 1] << 8;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units) return false;
      const uint32_t low = p[2 * i + 2] | p[2 * i + 3] << 8;
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    AppendUtf8(c, out);
  }
  return true;
}

TextDecoding::TextDecoding(bool jet3, int codePage) : jet3_(jet3) {
  if (!jet3) return;
  if (codePage == 932) {
    cp932_.emplace();
  } else {
    // A Jet 3 file that names no code page was written with the Western one.
    codePage_ = iconv_open("UTF-8", ("CP" + std::to_string(codePage == 0 ? 1252 : codePage)).c_str());
  }
}

TextDecoding::~TextDecoding() {
  if (codePage_ != reinterpret_cast<iconv_t>(-1)) iconv_close(codePage_);
}

bool TextDecoding::Decode(const std::string& stored, std::string& out) {
  if (!jet3_) {
    const bool compressed = stored.size() >= 2 && static_cast<unsigned char>(stored[0]) == 0xFF &&
                            static_cast<unsigned char>(stored[1]) == 0xFE;
    return Utf16ToUtf8(compressed ? Uncompressed(stored) : stored, out);
  }
  if (cp932_) {
    std::string problem;
    return cp932_->Decode(stored, out, problem);
  }
  if (codePage_ == reinterpret_cast<iconv_t>(-1)) return false;
  out.resize(stored.size() * 4 + 4);
  char* in = const_cast<char*>(stored.data());
  size_t inLeft = stored.size();
  char* to = out.data();
  size_t toLeft = out.size();
  iconv(codePage_, nullptr, nullptr, nullptr, nullptr);
  if (iconv(codePage_, &in, &inLeft, &to, &toLeft) == static_cast<size_t>(-1)) return false;
  out.resize(out.size() - toLeft);
  return true;
}

}  // namespace pendra::mdb
