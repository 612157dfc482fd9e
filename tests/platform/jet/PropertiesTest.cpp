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

// Blobs from a damaged or hostile file: each is read in time bounded by its
// size, giving what it holds, never more values than its bytes can carry.
TEST(Properties, MalformedBlobsEndInBoundedTime) {
  const JetFile file(kData + "/ja_V2000.mdb");
  const std::string names = Name(u"Format") + Name(u"ValidationRule");
  const auto block = [](const std::string& body, uint32_t type) { return Le(static_cast<uint32_t>(6 + body.size()), 4) + Le(type, 2) + body; };
  const std::string value = Le(8 + 2, 2) + std::string("\0\x0a", 2) + Le(0, 2) + Le(2, 2) + Utf16(u"@");
  const std::string object = Le(static_cast<uint32_t>(4 + Name(u"単位").size()), 4) + Name(u"単位");
  struct Case {
    const char* what;
    std::string blob;
    size_t values;
  };
  const std::vector<Case> cases = {
      {"a name block with one odd byte left", std::string("MR2\0", 4) + block(names + "\x07", 0x80), 0},
      {"a name block of one byte", std::string("MR2\0", 4) + block("\x01", 0x80), 0},
      {"a name longer than its block", std::string("MR2\0", 4) + block(Le(400, 2) + "ab", 0x80), 0},
      {"a value block with one odd byte left", std::string("MR2\0", 4) + block(names, 0x80) + block(object + value + "\x01", 0), 1},
      {"a value shorter than its header", std::string("MR2\0", 4) + block(names, 0x80) + block(object + Le(3, 2) + value, 0), 0},
      {"a block length of zero", std::string("MR2\0", 4) + Le(0, 4) + Le(0x80, 2) + names, 0},
      {"a block longer than the blob", std::string("MR2\0", 4) + Le(0xFFFFFFF0u, 4) + Le(0x80, 2) + names, 0},
  };
  for (const Case& c : cases) {
    const std::vector<PropertyValue> values = ReadProperties(file, c.blob);
    EXPECT_EQ(values.size(), c.values) << c.what;
    // Every shorter cut of it too.
    for (size_t n = 0; n < c.blob.size(); ++n) EXPECT_LE(ReadProperties(file, c.blob.substr(0, n)).size(), c.blob.size() / 8) << c.what;
  }
}

}  // namespace
}  // namespace pendra::jet
