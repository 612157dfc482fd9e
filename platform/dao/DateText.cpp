#include "DateText.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "core/CivilDate.h"

namespace pendra::dao::detail {

namespace {

bool LeapYear(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(long long y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

// Splits into numbers and the separators between them.
struct Token {
  bool number;
  long value;
  std::string text;
};

std::vector<Token> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      long value = 0;
      size_t digits = 0;
      while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (++digits > 6) return {};
        value = value * 10 + (text[i++] - '0');
      }
      tokens.push_back({true, value, {}});
    } else if (c == ' ' || c == '\t') {
      ++i;
      if (!tokens.empty() && tokens.back().text != " ") tokens.push_back({false, 0, " "});
    } else {
      // One separator: an ASCII character or one UTF-8 sequence.
      size_t length = 1;
      const auto byte = static_cast<unsigned char>(c);
      if (byte >= 0xF0) length = 4;
      else if (byte >= 0xE0) length = 3;
      else if (byte >= 0xC0) length = 2;
      tokens.push_back({false, 0, std::string(text.substr(i, length))});
      i += length;
    }
  }
  while (!tokens.empty() && tokens.back().text == " ") tokens.pop_back();
  return tokens;
}

bool ParseTime(const std::vector<Token>& t, size_t at, long& secondOfDay) {
  // h:m or h:m:s from index at to the end.
  const size_t n = t.size() - at;
  if (n != 3 && n != 5) return false;
  if (!t[at].number || t[at + 1].text != ":" || !t[at + 2].number) return false;
  long h = t[at].value, mi = t[at + 2].value, s = 0;
  if (n == 5) {
    if (t[at + 3].text != ":" || !t[at + 4].number) return false;
    s = t[at + 4].value;
  }
  if (h > 23 || mi > 59 || s > 59) return false;
  secondOfDay = h * 3600 + mi * 60 + s;
  return true;
}

}  // namespace

bool DateInRange(double date) { return date >= -657434.0 && date < 2958466.0; }

std::string StoredDateText(double date) {
  const DateTimeParts parts = SplitAutomationDate(date);
  const long seconds = parts.secondOfDay;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02ld:%02ld:%02ld", parts.date.year, parts.date.month,
                parts.date.day, seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buffer;
}

std::optional<double> ParseDateText(std::string_view text) {
  // The stored form "YYYY-MM-DD HH:MM:SS" is read for every DATETIME value:
  // parsed directly, without the general tokenizer.
  if (text.size() == 19 && text[4] == '-' && text[7] == '-' && text[10] == ' ' && text[13] == ':' &&
      text[16] == ':') {
    auto number = [&](size_t at, size_t length) {
      long value = 0;
      for (size_t i = at; i < at + length; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1L;
        value = value * 10 + (text[i] - '0');
      }
      return value;
    };
    const long y = number(0, 4), m = number(5, 2), d = number(8, 2);
    const long h = number(11, 2), mi = number(14, 2), s = number(17, 2);
    if (y >= 100 && m >= 1 && m <= 12 && d >= 1 && d <= static_cast<long>(DaysInMonth(y, static_cast<unsigned>(m))) &&
        h >= 0 && h <= 23 && mi >= 0 && mi <= 59 && s >= 0 && s <= 59) {
      return AutomationDate({y, static_cast<unsigned>(m), static_cast<unsigned>(d)}, h * 3600 + mi * 60 + s);
    }
    return std::nullopt;
  }
  auto tokens = Tokenize(text);
  if (tokens.empty()) return std::nullopt;
  // The stored form may carry a "T" between date and time.
  for (auto& token : tokens)
    if (token.text == "T") token.text = " ";

  long secondOfDay = 0;
  if (ParseTime(tokens, 0, secondOfDay)) return secondOfDay / 86400.0;   // a time alone: day 0

  // y sep m sep d [年月日 form ends with 日]
  if (tokens.size() < 5 || !tokens[0].number || !tokens[2].number || !tokens[4].number) return std::nullopt;
  const std::string& s1 = tokens[1].text;
  const std::string& s2 = tokens[3].text;
  size_t next = 5;
  if (s1 == "年" && s2 == "月") {
    if (tokens.size() < 6 || tokens[5].text != "日") return std::nullopt;
    next = 6;
  } else if (!((s1 == "/" && s2 == "/") || (s1 == "-" && s2 == "-"))) {
    return std::nullopt;
  }
  const long long y = tokens[0].value;
  const long m = tokens[2].value, d = tokens[4].value;
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > static_cast<long>(DaysInMonth(y, m)))
    return std::nullopt;
  if (next < tokens.size()) {
    if (tokens[next].text != " ") return std::nullopt;
    if (!ParseTime(tokens, next + 1, secondOfDay)) return std::nullopt;
  }
  return AutomationDate({y, static_cast<unsigned>(m), static_cast<unsigned>(d)}, secondOfDay);
}

}  // namespace pendra::dao::detail
