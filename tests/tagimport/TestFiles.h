// Master CSV files for the tests, written as the real files are: code page
// 932 bytes with CR LF line ends. Text given in UTF-8 is converted with
// iconv; raw bytes (vendor rows, bytes that don't decode) go in unchanged.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pendra::tagimport::testing {

// UTF-8 text to code page 932 bytes; fails the test on a character that
// code page 932 cannot hold.
std::string ToCp932(std::string_view utf8);

// A line of 26 fields joined by commas (no line end); missing fields are
// empty.
std::string Fields(std::vector<std::string> fields);

// A data line for tag with every other field empty.
std::string EmptyRecord(std::string_view tag);

// The header line as the master files carry it.
std::string HeaderLine();

// A folder of its own for one test, removed at its end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Writes bytes as they are; returns the file's path.
  std::string WriteBytes(std::string_view name, std::string_view bytes) const;
  // Each line converted to code page 932 and ended with CR LF.
  std::string WriteLines(std::string_view name, const std::vector<std::string>& utf8Lines) const;

 private:
  std::filesystem::path path_;
};

}  // namespace pendra::tagimport::testing
