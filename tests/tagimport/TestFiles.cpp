#include "TestFiles.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <stdlib.h>

#include <fstream>

namespace pendra::tagimport::testing {

std::string ToCp932(std::string_view utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(utf8.size() + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* to = out.data();
  size_t toLeft = out.size();
  size_t rc = iconv(cd, &in, &inLeft, &to, &toLeft);
  iconv_close(cd);
  EXPECT_NE(rc, static_cast<size_t>(-1)) << "not in code page 932: " << utf8;
  out.resize(out.size() - toLeft);
  return out;
}

std::string Fields(std::vector<std::string> fields) {
  fields.resize(26);
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += fields[i];
  }
  return line;
}

std::string EmptyRecord(std::string_view tag) { return Fields({"1", std::string(tag)}); }

std::string HeaderLine() {
  return Fields({"TAG_ID", "TAG", "TAG_NAME", "DIGIT", "MAX", "MIN", "L_NO", "M_NO", "S_NO",
                 "UNIT_NO", "COLLECT", "TOTAL_FLG", "AVE_FLG", "MAX_FLG", "MIN_FLG", "TYPE",
                 "P_TYPE", "P_MAX", "FACTOR", "A", "B", "C", "D", "E", "F", "CALC"});
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pendra-tag-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  EXPECT_NE(made, nullptr);
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::WriteBytes(std::string_view name, std::string_view bytes) const {
  const auto file = path_ / std::string(name);
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good());
  return file.string();
}

std::string TempFolder::WriteLines(std::string_view name,
                                   const std::vector<std::string>& utf8Lines) const {
  std::string bytes;
  for (const auto& line : utf8Lines) bytes += ToCp932(line) + "\r\n";
  return WriteBytes(name, bytes);
}

}  // namespace pendra::tagimport::testing
