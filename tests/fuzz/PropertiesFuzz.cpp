// Fuzz target: a table's property blob (the LvProp value of its catalogue
// row) as any file may hold it, read in both name widths (Jet 3 and Jet 4).
//
// Checked: the reading ends (the runner's time limit), never yields more
// values than the blob's bytes can carry (each takes at least eight), and a
// validation rule found is one of the values read.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "FuzzCheck.h"
#include "jet/JetFile.h"
#include "jet/Properties.h"

namespace {

const pendra::jet::JetFile& File(bool jet3) {
  static const auto read = [](const char* name) {
    std::ifstream in(std::string(PENDRA_ACCESS_TESTDATA) + "/" + name, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return pendra::jet::JetFile(std::move(all).str(), name);
  };
  static const pendra::jet::JetFile jet4 = read("ja_V2000.mdb");
  static const pendra::jet::JetFile jet3file = read("testV1997.mdb");
  return jet3 ? jet3file : jet4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string blob(reinterpret_cast<const char*>(data), size);
  for (bool jet3 : {false, true}) {
    const auto values = pendra::jet::ReadProperties(File(jet3), blob);
    FUZZ_CHECK(values.size() <= size / 8, "no more values than the blob can carry");
    const std::string rule = pendra::jet::ValidationRuleOf(values);
    if (!rule.empty()) {
      bool found = false;
      for (const auto& v : values) found = found || (v.name == "ValidationRule" && rule.find(v.text) != std::string::npos);
      FUZZ_CHECK(found, "a rule found is one of the values");
    }
  }
  return 0;
}
