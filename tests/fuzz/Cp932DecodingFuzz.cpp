// Fuzz target: code page 932 to UTF-8.
//
// For any bytes, Decode either
// - succeeds with well-formed UTF-8, one code point per code page 932
//   character, that encodes back to code page 932 and decodes again to the
//   same text; byte for byte the same, unless the input holds one of the
//   characters that code page 932 has twice (NEC row 13 and the NEC-selected
//   and IBM extension rows, lead bytes 0x87, 0xED, 0xEE, 0xFA: their text
//   encodes back to the preferred code);
// - or fails with no output and a description that names the first
//   undecodable byte and its place, every byte before which decodes.
// The same decoder object serves every run: nothing of one text may reach
// the next, so decoding twice must give the same result.
#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/Cp932Decoder.h"
#include "FuzzCheck.h"

namespace {

using pendra::Cp932Decoder;

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool HasTwin(unsigned char lead) { return lead == 0x87 || lead == 0xED || lead == 0xEE || lead == 0xFA; }

// UTF-8 to code page 932 with iconv, without transliteration.
bool Encode(iconv_t cd, std::string_view text, std::string& out) {
  out.assign(text.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* to = out.data();
  size_t toLeft = out.size();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in, &inLeft, &to, &toLeft) == static_cast<size_t>(-1)) return false;
  if (iconv(cd, nullptr, nullptr, &to, &toLeft) == static_cast<size_t>(-1)) return false;
  out.resize(out.size() - toLeft);
  return true;
}

// The place ("N バイト目") and byte ("0xHH") a failure description names.
bool ParseProblem(const std::string& problem, size_t& place, unsigned& byte) {
  const size_t hex = problem.find("0x");
  const size_t unit = problem.find(" バイト目");
  if (hex == std::string::npos || unit == std::string::npos) return false;
  if (std::sscanf(problem.c_str() + hex, "0x%2X", &byte) != 1) return false;
  size_t begin = unit;
  while (begin > 0 && problem[begin - 1] >= '0' && problem[begin - 1] <= '9') --begin;
  if (begin == unit) return false;
  place = std::stoul(problem.substr(begin, unit - begin));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Cp932Decoder decoder;
  static const iconv_t encoder = iconv_open("CP932", "UTF-8");
  FUZZ_CHECK(encoder != reinterpret_cast<iconv_t>(-1), "iconv UTF-8 to CP932");

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string text, problem;
  const bool decoded = decoder.Decode(bytes, text, problem);

  std::string again, againProblem;
  const bool decodedAgain = decoder.Decode(bytes, again, againProblem);
  FUZZ_CHECK(decodedAgain == decoded && again == text && againProblem == problem,
             "the same bytes decode the same way twice");

  if (decoded) {
    FUZZ_CHECK(problem.empty(), "no problem on success");
    FUZZ_CHECK(pendra::fuzz::IsValidUtf8(text), "output is UTF-8");
    FUZZ_CHECK(text.size() <= size * 3, "at most three UTF-8 bytes per input byte");
    size_t characters = 0;
    bool twins = false;
    for (size_t i = 0; i < size; ++characters) {
      const auto c = static_cast<unsigned char>(bytes[i]);
      if (IsLeadByte(c)) {
        twins = twins || HasTwin(c);
        i += 2;
      } else {
        i += 1;
      }
    }
    FUZZ_CHECK(pendra::fuzz::CodePointCount(text) == characters, "one code point per character");
    std::string encoded;
    FUZZ_CHECK(Encode(encoder, text, encoded), "decoded text encodes back");
    if (!twins) FUZZ_CHECK(encoded == bytes, "byte-exact round trip");
    std::string redecoded, redecodeProblem;
    FUZZ_CHECK(decoder.Decode(encoded, redecoded, redecodeProblem) && redecoded == text,
               "re-encoded text decodes to the same text");
  } else {
    FUZZ_CHECK(text.empty(), "nothing decoded on failure");
    size_t place = 0;
    unsigned byte = 0;
    FUZZ_CHECK(ParseProblem(problem, place, byte), "description names byte and place");
    FUZZ_CHECK(place >= 1 && place <= size, "place within the input");
    FUZZ_CHECK(byte == static_cast<unsigned char>(bytes[place - 1]), "named byte is at the place");
    std::string prefix, prefixProblem;
    FUZZ_CHECK(decoder.Decode(bytes.substr(0, place - 1), prefix, prefixProblem),
               "everything before the first bad byte decodes");
  }
  return 0;
}
