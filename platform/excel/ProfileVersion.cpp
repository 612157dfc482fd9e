#include "ProfileVersion.h"

#include <fstream>
#include <iterator>

namespace pendra::excel {

void RecordVersionSeen(const std::string& profile, const std::string& version) {
  if (version.empty()) return;
  const std::string path = profile + "/user/registrymodifications.xcu";
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind("</oor:items>");
  if (end == std::string::npos || text.find("ooSetupLastVersion") != std::string::npos) return;
  text.insert(end, "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" +
                       version + "</value></prop></item>\n");
  std::ofstream(path, std::ios::trunc) << text;
}

}  // namespace pendra::excel
