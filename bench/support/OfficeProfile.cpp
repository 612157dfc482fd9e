#include "OfficeProfile.h"

#include <cstdio>
#include <regex>
#include <string>

#include "excel/ProfileVersion.h"

namespace pendra::bench {

namespace {

// "7.4" of "LibreOffice 7.4.7.2 40(Build:2)".
std::string OfficeVersion() {
  FILE* pipe = popen("soffice --version 2>/dev/null", "r");
  if (!pipe) return "";
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  std::smatch match;
  const std::string text = read ? line : "";
  return std::regex_search(text, match, std::regex(R"((\d+)\.(\d+)\.)")) ? match[1].str() + "." + match[2].str() : "";
}

}  // namespace

void RecordOfficeVersion(const std::filesystem::path& dir) { excel::RecordVersionSeen(dir.string(), OfficeVersion()); }

}  // namespace pendra::bench
