#include "MdbReaderRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace pendra::jet::test {

std::vector<std::string> MdbReaderLines(const std::string& path, const std::string& table) {
  const std::string command = "node '" PENDRA_SOURCE_DIR "/tools/mdb-reader/read-table.js' '" + path + "' '" + table + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[65536];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  EXPECT_EQ(pipe ? pclose(pipe) : -1, 0) << command << "\n" << out.substr(0, 2000);
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace pendra::jet::test
