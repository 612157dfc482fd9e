#include "SchemaText.h"

#include "Sqlite.h"

namespace pendra::dao::detail {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool StartsWithWord(std::string_view text, size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  if (!SameName(text.substr(at, word.size()), word)) return false;
  const size_t end = at + word.size();
  return end == text.size() || IsBlank(text[end]) || text[end] == '*' || text[end] == '(';
}

size_t SkipBlanks(std::string_view text, size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

}  // namespace

bool SplitSelectStar(std::string_view sql, SingleTableSelect& out) {
  size_t at = SkipBlanks(sql, 0);
  if (!StartsWithWord(sql, at, "SELECT")) return false;
  at = SkipBlanks(sql, at + 6);
  if (at >= sql.size() || sql[at] != '*') return false;
  at = SkipBlanks(sql, at + 1);
  if (!StartsWithWord(sql, at, "FROM")) return false;
  at = SkipBlanks(sql, at + 4);
  if (at >= sql.size()) return false;
  const size_t start = at;
  const char open = sql[at];
  if (open == '"' || open == '[' || open == '`') {
    const char close = open == '[' ? ']' : open;
    for (++at; at < sql.size(); ++at) {
      if (sql[at] == close) {
        if (close == '"' && at + 1 < sql.size() && sql[at + 1] == '"') {
          out.table += '"';
          ++at;
          continue;
        }
        break;
      }
      out.table += sql[at];
    }
    if (at >= sql.size()) return false;
    ++at;
  } else {
    while (at < sql.size() && !IsBlank(sql[at]) && sql[at] != ';' && sql[at] != ',' && sql[at] != '(' &&
           sql[at] != ')')
      ++at;
    out.table = std::string(sql.substr(start, at - start));
  }
  out.spelled = std::string(sql.substr(start, at - start));
  out.rest = std::string(sql.substr(at));
  // Joins and table lists make rows that belong to no single table.
  const size_t next = SkipBlanks(sql, at);
  if (next < sql.size() &&
      (sql[next] == ',' || StartsWithWord(sql, next, "JOIN") || StartsWithWord(sql, next, "NATURAL") ||
       StartsWithWord(sql, next, "LEFT") || StartsWithWord(sql, next, "INNER") ||
       StartsWithWord(sql, next, "CROSS") || StartsWithWord(sql, next, "AS")))
    return false;
  return !out.table.empty();
}

bool ChangesSchema(std::string_view statement) {
  const size_t start = SkipBlanks(statement, 0);
  return StartsWithWord(statement, start, "CREATE") || StartsWithWord(statement, start, "ALTER") ||
         StartsWithWord(statement, start, "DROP");
}

bool IsLiteral(std::string_view sql) {
  auto trim = [](std::string_view t) {
    while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
    return t;
  };
  sql = trim(sql);
  while (sql.size() >= 2 && sql.front() == '(' && sql.back() == ')') sql = trim(sql.substr(1, sql.size() - 2));
  if (sql.empty()) return false;
  if (SameName(sql, "NULL") || SameName(sql, "TRUE") || SameName(sql, "FALSE")) return true;
  if (sql.front() == '\'' || ((sql.front() == 'x' || sql.front() == 'X') && sql.size() > 1 && sql[1] == '\'')) {
    size_t at = sql.front() == '\'' ? 1 : 2;
    for (; at < sql.size(); ++at) {
      if (sql[at] != '\'') continue;
      if (at + 1 < sql.size() && sql[at + 1] == '\'') {
        ++at;
        continue;
      }
      return at + 1 == sql.size();   // the closing quote ends the text
    }
    return false;
  }
  size_t at = 0;
  if (sql[at] == '+' || sql[at] == '-') ++at;
  bool digits = false;
  for (; at < sql.size(); ++at) {
    const char c = sql[at];
    if (c >= '0' && c <= '9') digits = true;
    else if (c != '.' && c != 'e' && c != 'E' && c != '+' && c != '-') return false;
  }
  return digits;
}

std::string NormalizeDdl(std::string_view sql) {
  std::string out;
  for (char c : sql) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '`' || c == '[' || c == ']')
      continue;
    out += c;
  }
  return FoldName(out);
}

bool RefusesZeroLength(const std::string& normalizedSql, std::string_view column) {
  const std::string name = FoldName(column);
  return normalizedSql.find("check(" + name + "<>'')") != std::string::npos ||
         normalizedSql.find("check(" + name + "!='')") != std::string::npos ||
         normalizedSql.find("check(length(" + name + ")>0)") != std::string::npos;
}

}  // namespace pendra::dao::detail
