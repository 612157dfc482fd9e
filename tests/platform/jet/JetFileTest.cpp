// The page-level model of genuine Access files: format, header facts and
// refusals, on the project's real files and on copies changed byte by byte.
#include "jet/JetFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/PlatformError.h"
#include "jet/Catalog.h"
#include "jet/TableDefinition.h"

namespace pendra::jet {
namespace {

const std::string kData = PENDRA_ACCESS_TESTDATA;

std::string Bytes(const std::string& file) {
  std::ifstream in(kData + "/" + file, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

long ErrorOf(std::string bytes) {
  try {
    JetFile file(std::move(bytes), "x.mdb");
  } catch (const PlatformError& e) {
    return e.Number();
  }
  return 0;
}

TEST(JetFile, FormatAndHeaderOfEveryTestFile) {
  struct Case {
    const char* file;
    const char* format;
    int codePage;
  };
  const Case cases[] = {
      {"testV1997.mdb", "Jet 3", 1252},           {"jet3_cp932_crafted.mdb", "Jet 3", 932},
      {"test2V2000.mdb", "Jet 4", 1252},       {"ja_V2000.mdb", "Jet 4", 1252},
      {"testUnicodeCompV2003.mdb", "Jet 4", 1252}, {"test2V2007.accdb", "ACE 12", 1252},
      {"ja_V2007.accdb", "ACE 12", 1252},      {"testEmoticonsV2010.accdb", "ACE 14", 1252},
      {"ja_V2016.accdb", "ACE 16", 1252},      {"extDateTestV2019.accdb", "ACE 17", 1252},
  };
  for (const Case& c : cases) {
    const JetFile file(kData + "/" + c.file);
    EXPECT_EQ(FormatName(file.format()), c.format) << c.file;
    EXPECT_EQ(file.PageSize(), file.IsJet3() ? 2048u : 4096u) << c.file;
    EXPECT_FALSE(file.Encrypted()) << c.file;
    EXPECT_FALSE(file.PasswordProtected()) << c.file;
    EXPECT_EQ(file.CodePage(), c.codePage) << c.file;
  }
}

TEST(JetFile, EncodedAndPasswordFilesAreRecognised) {
  for (const char* name : {"ja_V2000.mdb", "ja_V2007.accdb", "testV1997.mdb"}) {
    std::string encoded = Bytes(name);
    encoded[0x3E] = static_cast<char>(encoded[0x3E] ^ 0x5A);  // an encoding key in the masked header
    EXPECT_TRUE(JetFile(encoded, name).Encrypted()) << name;
    std::string password = Bytes(name);
    password[0x42] = static_cast<char>(password[0x42] ^ 'p');  // the password's first byte
    const JetFile withPassword(password, name);
    // ACE keeps no password in the header: a protected ACE file is encoded.
    EXPECT_EQ(withPassword.PasswordProtected(), withPassword.format() != Format::Ace12) << name;
  }
}

TEST(JetFile, WhatIsNoAccessFileIsRefused) {
  const std::string good = Bytes("ja_V2000.mdb");
  std::string version = good;
  version[0x14] = 9;
  std::string ragged = good;
  ragged.resize(good.size() - 100);
  EXPECT_EQ(ErrorOf(""), 3343);
  EXPECT_EQ(ErrorOf(std::string(8192, 'x')), 3343);
  EXPECT_EQ(ErrorOf(version), 3343);
  EXPECT_EQ(ErrorOf(ragged), 3049);
  EXPECT_EQ(ErrorOf(good), 0);
  try {
    JetFile missing(kData + "/no-such-file.mdb");
    FAIL();
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), 3024);
  }
}

TEST(JetFile, CatalogueAndDefinitionsMatchTheReferenceReading) {
  // The designs of ja_V2000.mdb as the reference reader read them.
  const JetFile file(kData + "/ja_V2000.mdb");
  std::vector<std::string> names;
  for (const CatalogEntry& entry : ReadCatalog(file))
    if (!entry.system) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"GroupMaster", "KikiMaster", "M_TAG", "型テスト"}));
  std::ifstream reference(kData + "/reference/ja_V2000.mdb.txt");
  std::string line, table;
  std::map<std::string, std::pair<uint32_t, std::vector<std::string>>> expected;
  while (std::getline(reference, line)) {
    if (line.rfind("TABLE ", 0) == 0) {
      table = line.substr(6, line.find(" rows=") - 6);
      expected[table].first = static_cast<uint32_t>(std::stoul(line.substr(line.find(" rows=") + 6)));
    } else if (line.rfind("COL ", 0) == 0) {
      expected[table].second.push_back(line.substr(4, line.find(" type=") - 4) + "/" +
                                       line.substr(line.find(" type=") + 6, line.find(' ', line.find(" type=") + 1) - line.find(" type=") - 6));
    }
  }
  for (const CatalogEntry& entry : ReadCatalog(file)) {
    if (entry.system) continue;
    const TableDefinition d = ReadTableDefinition(file, entry.definitionPage);
    std::vector<std::string> columns;
    for (const Column& column : d.columns) columns.push_back(column.name + "/" + std::to_string(column.type));
    EXPECT_EQ(d.rowCount, expected[entry.name].first) << entry.name;
    EXPECT_EQ(columns, expected[entry.name].second) << entry.name;
    EXPECT_EQ(LiveRows(file, DataPagesOf(file, entry.definitionPage)).size(), d.rowCount) << entry.name;
  }
}

}  // namespace
}  // namespace pendra::jet
