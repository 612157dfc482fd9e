#include "OfficeProfile.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

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

void RecordOfficeVersion(const std::filesystem::path& dir) {
  const std::filesystem::path path = dir / "user" / "registrymodifications.xcu";
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind("</oor:items>");
  if (end == std::string::npos || text.find("ooSetupLastVersion") != std::string::npos) return;
  const std::string version = OfficeVersion();
  if (version.empty()) return;
  text.insert(end, "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" +
                       version + "</value></prop></item>\n");
  std::ofstream(path, std::ios::trunc) << text;
}

}  // namespace pendra::bench
