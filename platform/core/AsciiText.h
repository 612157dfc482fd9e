// Letter case of ASCII letters only. Identifiers, type names, file
// extensions and sheet names are matched this way by the engines we stand
// in for; every other byte (Japanese text in UTF-8) is left as it is, and
// the result never depends on the process's locale.
#pragma once

#include <string>
#include <string_view>

namespace pendra {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string AsciiLowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = AsciiLower(c);
  return lowered;
}

inline std::string AsciiUppered(std::string_view text) {
  std::string uppered(text);
  for (char& c : uppered) c = AsciiUpper(c);
  return uppered;
}

inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace pendra
