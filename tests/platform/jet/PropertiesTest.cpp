// The property blob of a table: the properties Access-made and tool-made
// files hold, and a validation rule found where a blob carries one.
#include "jet/Properties.h"

#include <gtest/gtest.h>

namespace pendra::jet {
namespace {

const std::string kData = PENDRA_ACCESS_TESTDATA;

std::string Utf16(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  return out;
}
std::string Le(uint32_t v, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}
std::string Name(const std::u16string& name) { return Le(static_cast<uint32_t>(name.size() * 2), 2) + Utf16(name); }

TEST(Properties, ReadFromTheCatalogue) {
  const JetFile file(kData + "/ja_V2000.mdb");
  bool found = false;
  for (const PropertyValue& p : TableProperties(file, "KikiMaster"))
    if (p.object == "更新日時" && p.name == "DefaultValue") found = p.text == "Now()";
  EXPECT_TRUE(found);
  EXPECT_EQ(ValidationRuleOf(TableProperties(file, "KikiMaster")), "");
}

TEST(Properties, AValidationRuleIsFound) {
  const JetFile file(kData + "/ja_V2000.mdb");
  // A name block, then the values of column 単位: Format and ValidationRule.
  const std::string names = Name(u"Format") + Name(u"ValidationRule");
  const std::string object = Name(u"単位");
  const std::string rule = Utf16(u">=0");
  const std::string value1 = Le(8 + 2, 2) + std::string("\0\x0a", 2) + Le(0, 2) + Le(2, 2) + Utf16(u"@");
  const std::string value2 = Le(static_cast<uint32_t>(8 + rule.size()), 2) + std::string("\0\x0a", 2) + Le(1, 2) +
                             Le(static_cast<uint32_t>(rule.size()), 2) + rule;
  const std::string objectBlock = Le(static_cast<uint32_t>(4 + object.size()), 4) + object;
  const std::string blob = std::string("MR2\0", 4) + Le(static_cast<uint32_t>(6 + names.size()), 4) + Le(0x80, 2) + names +
                           Le(static_cast<uint32_t>(6 + objectBlock.size() + value1.size() + value2.size()), 4) + Le(0, 2) +
                           objectBlock + value1 + value2;
  const std::vector<PropertyValue> properties = ReadProperties(file, blob);
  ASSERT_EQ(properties.size(), 2u);
  EXPECT_EQ(properties[1].object, "単位");
  EXPECT_EQ(ValidationRuleOf(properties), "列 '単位' の入力規則 '>=0'");
  // A blob cut short gives what it holds so far, never reads beyond it.
  EXPECT_LE(ReadProperties(file, blob.substr(0, blob.size() - 3)).size(), 1u);
}

}  // namespace
}  // namespace pendra::jet
