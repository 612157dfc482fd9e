#include "jet/TextKey.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace pendra::jet {
namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char buffer[4];
  for (const char c : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(c));
    out += buffer;
  }
  return out;
}

std::string Key(std::u16string_view text, SortOrder order) {
  std::string key;
  AppendTextKey(text, order, key);
  return key;
}

TEST(TextKey, KnownEntry) {
  EXPECT_EQ(Hex(Key(u"漢字仮名交じり文", SortOrder::GeneralLegacy)),
            "c0b6acaca00da5479fbe7f137f43b6f60102020202020301" "01ff0280ff8000");
}

}  // namespace
}  // namespace pendra::jet
