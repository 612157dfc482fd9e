// The master CSV reader on real code page 932 files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "MasterCsvReader.h"
#include "Utf8Detection.h"
#include "TestFiles.h"
#include "core/PlatformError.h"

namespace pendra::tagimport {
namespace {

using testing::EmptyRecord;
using testing::Fields;
using testing::HeaderLine;
using testing::TempFolder;
using testing::ToCp932;

std::vector<MasterCsvRecord> ReadAll(const std::string& path) {
  MasterCsvReader reader;
  reader.Open(path);
  std::vector<MasterCsvRecord> records;
  while (!reader.EndOfFile()) records.push_back(reader.NextRecord());
  reader.Close();
  return records;
}

long OpenError(const std::string& path) {
  MasterCsvReader reader;
  try {
    reader.Open(path);
  } catch (const PlatformError& error) {
    return error.Number();
  }
  return 0;
}

// --- the format of a well-formed file -------------------------------------

TEST(MasterCsvFormat, ZeroByteFileYieldsNoRecord) {
  TempFolder dir;
  MasterCsvReader reader;
  reader.Open(dir.WriteBytes("empty.csv", ""));
  EXPECT_TRUE(reader.EndOfFile());
  EXPECT_THROW(reader.NextRecord(), PlatformError);
}

TEST(MasterCsvFormat, HeaderOnlyFileYieldsOneHeader) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("h.csv", {HeaderLine()}));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].IsHeader());
  EXPECT_FALSE(records[0].IsMalformed());
}

TEST(MasterCsvFormat, EndTestIsTrueRightAfterTheLastCrLf) {
  TempFolder dir;
  MasterCsvReader reader;
  reader.Open(dir.WriteLines("t.csv", {EmptyRecord("T1"), EmptyRecord("T2")}));
  ASSERT_FALSE(reader.EndOfFile());
  EXPECT_EQ(reader.NextRecord()[1], "T1");
  ASSERT_FALSE(reader.EndOfFile());
  EXPECT_EQ(reader.NextRecord()[1], "T2");
  EXPECT_TRUE(reader.EndOfFile());
}

TEST(MasterCsvFormat, AllTwentySixPositionsInOrder) {
  TempFolder dir;
  std::vector<std::string> values;
  for (int i = 0; i < 26; ++i) values.push_back("v" + std::to_string(i));
  auto records = ReadAll(dir.WriteLines("p.csv", {Fields(values)}));
  ASSERT_EQ(records.size(), 1u);
  for (int i = 0; i < 26; ++i) EXPECT_EQ(records[0][i], values[i]) << "position " << i;
  EXPECT_EQ(records[0].LineNumber(), 1);
}

TEST(MasterCsvFormat, QuotedFieldKeepsItsCommaAndLosesItsQuotes) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("q.csv", {Fields({"1", "T1", "\"a,b\"", "X.00"})}));
  ASSERT_EQ(records.size(), 1u);
  ASSERT_FALSE(records[0].IsMalformed()) << records[0].Problem();
  EXPECT_EQ(records[0][2], "a,b");
  EXPECT_EQ(records[0][3], "X.00");
  EXPECT_EQ(records[0][4], "");
}

TEST(MasterCsvFormat, DoubledQuoteInsideQuotesIsOneQuote) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("dq.csv", {Fields({"1", "T1", "\"5\"\" pipe, \"\"A\"\"\""})}));
  ASSERT_EQ(records.size(), 1u);
  ASSERT_FALSE(records[0].IsMalformed()) << records[0].Problem();
  EXPECT_EQ(records[0][2], "5\" pipe, \"A\"");
  EXPECT_EQ(records[0][3], "");
}

TEST(MasterCsvFormat, BlanksOfUnquotedValuesAreKept) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("b.csv", {Fields({"1", " T1 ", " "})}));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0][1], " T1 ");
  EXPECT_EQ(records[0][2], " ");
}

TEST(MasterCsvFormat, EmptyTagIsAnEmptyField) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("e.csv", {EmptyRecord("")}));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].IsMalformed());
  EXPECT_EQ(records[0][1], "");
}

// --- header records --------------------------------------------------------

TEST(MasterCsvHeader, QuotedHeaderNameIsAHeader) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("h.csv", {Fields({"\"TAG_ID\"", "\"TAG\""})}));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].IsHeader());
}

TEST(MasterCsvHeader, OtherCaseOrBlankIsNotAHeader) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines(
      "h.csv", {Fields({"tag_id", "T1"}), Fields({"\"TAG_ID \"", "T2"}), Fields({" TAG_ID", "T3"})}));
  ASSERT_EQ(records.size(), 3u);
  for (const auto& record : records) {
    EXPECT_FALSE(record.IsHeader()) << record[0];
    EXPECT_FALSE(record.IsMalformed());
  }
}

TEST(MasterCsvHeader, HeaderWithOtherFieldCountIsStillAHeader) {
  // Only position 0 marks a header; the rest of a header line is never
  // looked at, so it is not reported as a malformed line either.
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("h.csv", {"TAG_ID,TAG,NAME", EmptyRecord("T1")}));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_TRUE(records[0].IsHeader());
  EXPECT_FALSE(records[0].IsMalformed());
  EXPECT_EQ(records[1][1], "T1");
}

// --- code page 932 ---------------------------------------------------------

TEST(MasterCsvCodePage, JapaneseAndVendorCharactersDecodeAsWindowsDoes) {
  TempFolder dir;
  // ﾏｽﾀｰ (half-width katakana), ① (NEC row 13, 0x8740), ⅰ (IBM extension,
  // 0xFA40), 0x5C (the backslash, not the yen sign), ～ (0x8160, U+FF5E).
  std::string bytes = ToCp932("1,T1,") + "\xCF\xBD\xC0\xB0" + ToCp932("流量") + "\x87\x40" +
                      "," + "\xFA\x40" + ",C:\\data," + "\x81\x60" + ",,,,,,,,,,,,,,,,,,,,\r\n";
  auto records = ReadAll(dir.WriteBytes("k.csv", bytes));
  ASSERT_EQ(records.size(), 1u);
  ASSERT_FALSE(records[0].IsMalformed()) << records[0].Problem();
  EXPECT_EQ(records[0][2], "ﾏｽﾀｰ流量①");
  EXPECT_EQ(records[0][3], "ⅰ");
  EXPECT_EQ(records[0][4], "C:\\data");
  EXPECT_EQ(records[0][5], "～");
}

TEST(MasterCsvCodePage, TrailByteThatLooksLikeBackslashStaysInItsCharacter) {
  // 表 (0x95 0x5C) and ソ (0x83 0x5C): their second byte is the
  // backslash's code.
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("t.csv", {Fields({"1", "T1", "表示", "ソ"})}));
  ASSERT_EQ(records.size(), 1u);
  ASSERT_FALSE(records[0].IsMalformed()) << records[0].Problem();
  EXPECT_EQ(records[0][2], "表示");
  EXPECT_EQ(records[0][3], "ソ");
  EXPECT_EQ(records[0][4], "");
}

TEST(MasterCsvCodePage, UndecodableByteRefusesOnlyItsLine) {
  TempFolder dir;
  std::string bytes = ToCp932(EmptyRecord("T1")) + "\r\n" + "1,T\x80" "2" +
                      ToCp932(Fields({}).substr(3)) + "\r\n" + ToCp932(EmptyRecord("T3")) + "\r\n";
  auto records = ReadAll(dir.WriteBytes("bad.csv", bytes));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_FALSE(records[0].IsMalformed());
  EXPECT_TRUE(records[1].IsMalformed());
  EXPECT_EQ(records[1].LineNumber(), 2);
  EXPECT_NE(records[1].Problem().find("0x80"), std::string::npos) << records[1].Problem();
  EXPECT_EQ(records[1][1], "");
  EXPECT_EQ(records[2][1], "T3");
  EXPECT_EQ(records[2].LineNumber(), 3);
}

TEST(MasterCsvCodePage, LeadByteCutOffByTheLineEndRefusesTheLine) {
  TempFolder dir;
  std::string bytes = ToCp932(Fields({"1", "T1"})) + "\x88\r\n";
  auto records = ReadAll(dir.WriteBytes("cut.csv", bytes));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].IsMalformed());
}

TEST(MasterCsvCodePage, NulByteRefusesTheLine) {
  TempFolder dir;
  std::string bytes = std::string("1,T") + '\0' + "1" + Fields({}).substr(3) + "\r\n";
  auto records = ReadAll(dir.WriteBytes("nul.csv", bytes));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].IsMalformed());
  EXPECT_NE(records[0].Problem().find("NUL"), std::string::npos);
}

// --- lines that are not records ----------------------------------------------

TEST(MasterCsvMalformed, FewerFieldsRefuseTheLineWithItsNumber) {
  TempFolder dir;
  std::string shortLine = EmptyRecord("T2");
  shortLine.pop_back();  // 25 fields
  auto records = ReadAll(dir.WriteLines("s.csv", {EmptyRecord("T1"), shortLine, EmptyRecord("T3")}));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(records[1].IsMalformed());
  EXPECT_EQ(records[1].LineNumber(), 2);
  EXPECT_NE(records[1].Problem().find("25"), std::string::npos) << records[1].Problem();
  EXPECT_FALSE(records[2].IsMalformed());
}

TEST(MasterCsvMalformed, UnquotedCommaInANameRefusesTheLineInsteadOfShifting) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("c.csv", {Fields({"1", "T1", "a,b", "X.0", "100"})}));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].IsMalformed());
  EXPECT_NE(records[0].Problem().find("27"), std::string::npos);
}

TEST(MasterCsvMalformed, AnyFieldBeyondPosition25RefusesTheLine) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines("w.csv", {Fields({"1", "T1"}) + ",", Fields({"1", "T2"}) + ",x"}));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_TRUE(records[0].IsMalformed());
  EXPECT_TRUE(records[1].IsMalformed());
}

TEST(MasterCsvMalformed, UnclosedQuoteAndTextAfterQuoteRefuseTheLine) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteLines(
      "q.csv", {Fields({"1", "T1", "\"open"}), Fields({"1", "T2", "\"a\"b"}), Fields({"1", "T3", "\"a\" "})}));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(records[0].IsMalformed());
  EXPECT_TRUE(records[1].IsMalformed());
  EXPECT_FALSE(records[2].IsMalformed());
  EXPECT_EQ(records[2][2], "a");
}

TEST(MasterCsvMalformed, EmptyLinesArePassedOverAndStillCounted) {
  TempFolder dir;
  auto path = dir.WriteLines("e.csv", {EmptyRecord("T1"), "", "", EmptyRecord("T4"), "", ""});
  auto records = ReadAll(path);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].LineNumber(), 1);
  EXPECT_EQ(records[1].LineNumber(), 4);
  EXPECT_EQ(records[1][1], "T4");
}

TEST(MasterCsvMalformed, VeryLongLineIsRefusedAndTheNextOneRead) {
  TempFolder dir;
  std::string longName(MasterCsvReader::kMaxLineBytes + 10, 'a');
  auto records =
      ReadAll(dir.WriteLines("l.csv", {EmptyRecord("T1"), Fields({"1", "T2", longName}), EmptyRecord("T3")}));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_TRUE(records[1].IsMalformed());
  EXPECT_EQ(records[1].LineNumber(), 2);
  EXPECT_EQ(records[2][1], "T3");
  EXPECT_EQ(records[2].LineNumber(), 3);
}

// --- line ends ----------------------------------------------------------------

TEST(MasterCsvLineEnds, LastLineWithoutLineEndIsRead) {
  TempFolder dir;
  auto records = ReadAll(dir.WriteBytes("n.csv", EmptyRecord("T1") + "\r\n" + EmptyRecord("T2")));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1][1], "T2");
  EXPECT_EQ(records[1][25], "");
}

TEST(MasterCsvLineEnds, LfOnlyAndCrOnlyFilesAreReadLineByLine) {
  TempFolder dir;
  auto lf = ReadAll(dir.WriteBytes("lf.csv", EmptyRecord("T1") + "\n" + EmptyRecord("T2") + "\n"));
  ASSERT_EQ(lf.size(), 2u);
  EXPECT_EQ(lf[1][1], "T2");
  EXPECT_EQ(lf[1][25], "");
  auto cr = ReadAll(dir.WriteBytes("cr.csv", EmptyRecord("T1") + "\r" + EmptyRecord("T2") + "\r"));
  ASSERT_EQ(cr.size(), 2u);
  EXPECT_EQ(cr[1][1], "T2");
  EXPECT_EQ(cr[1].LineNumber(), 2);
}

TEST(MasterCsvLineEnds, CrLfAcrossTheReadBufferAndManyLines) {
  // Many lines over several buffers of the reader, one of them ending with
  // its CR as the last byte of the first buffer (256 KiB) and its LF as the
  // first byte of the next.
  TempFolder dir;
  const size_t kFirstBuffer = 256 * 1024;
  std::string bytes;
  std::vector<std::string> tags;
  auto add = [&](const std::string& tag, const std::string& name) {
    tags.push_back(tag);
    bytes += ToCp932(Fields({"1", tag, name, "X.0"})) + "\r\n";
  };
  const std::string name = "ﾏｽﾀｰ名称";
  for (int i = 0; bytes.size() + 400 < kFirstBuffer; ++i) add("T" + std::to_string(i), name);
  // One line padded so that its CR is byte kFirstBuffer - 1.
  const std::string probe = ToCp932(Fields({"1", "EDGE", "", "X.0"}));
  add("EDGE", std::string(kFirstBuffer - 1 - bytes.size() - probe.size(), 'p'));
  ASSERT_EQ(bytes[kFirstBuffer - 1], '\r');
  ASSERT_EQ(bytes[kFirstBuffer], '\n');
  for (int i = 0; i < 20000; ++i) add("U" + std::to_string(i), name);

  auto records = ReadAll(dir.WriteBytes("many.csv", bytes));
  ASSERT_EQ(records.size(), tags.size());
  for (size_t i = 0; i < tags.size(); ++i) {
    ASSERT_FALSE(records[i].IsMalformed()) << i << records[i].Problem();
    ASSERT_EQ(records[i][1], tags[i]);
    ASSERT_EQ(records[i][3], "X.0");
    ASSERT_EQ(records[i].LineNumber(), static_cast<long>(i + 1));
  }
}

// --- opening --------------------------------------------------------------------

TEST(MasterCsvOpen, MissingFileIsError53InJapanese) {
  TempFolder dir;
  MasterCsvReader reader;
  try {
    reader.Open((dir.Path() / "ﾏｽﾀｰ情報.csv").string());
    FAIL() << "opened a missing file";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.Number(), 53);
    EXPECT_EQ(error.Description(), "ファイルが見つかりません。");
  }
}

TEST(MasterCsvOpen, MissingFolderFolderAndPathThroughAFile) {
  TempFolder dir;
  EXPECT_EQ(OpenError((dir.Path() / "no" / "m.csv").string()), 76);
  EXPECT_EQ(OpenError(dir.Path().string()), 75);
  const auto file = dir.WriteBytes("f.csv", "");
  EXPECT_EQ(OpenError(file + "/m.csv"), 76);
  EXPECT_EQ(OpenError(""), 75);
}

TEST(MasterCsvOpen, FileWithoutReadPermissionIsError70) {
  TempFolder dir;
  ::chmod(dir.Path().c_str(), 0755);
  const auto file = dir.WriteBytes("locked.csv", EmptyRecord("T1"));
  ::chmod(file.c_str(), 0);
  // Root reads every file: try as an ordinary user in a child process.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && ::setuid(65534) != 0) _exit(1);
    _exit(static_cast<int>(OpenError(file)));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 70);
}

TEST(MasterCsvOpen, AReaderCanBeReopenedAfterClose) {
  TempFolder dir;
  MasterCsvReader reader;
  reader.Open(dir.WriteLines("a.csv", {EmptyRecord("A")}));
  EXPECT_THROW(reader.Open(dir.WriteLines("b.csv", {EmptyRecord("B")})), PlatformError);
  reader.Close();
  reader.Open((dir.Path() / "b.csv").string());
  ASSERT_FALSE(reader.EndOfFile());
  EXPECT_EQ(reader.NextRecord()[1], "B");
}

// A master file's start: UTF-8 is told by its byte order mark or by
// Japanese in valid UTF-8; code page 932 Japanese (kanji, kana, half-width
// kana, the vendor rows) and plain ASCII are not taken for it.
TEST(MasterCsvEncoding, Utf8IsToldApartFromCodePage932) {
  const std::string names = "原水流量,着水井水位,ﾎﾟﾝﾌﾟ運転,①～⑳,浄水ｐＨ,配水池（東）,ｱｲｳｴｵ,薬品注入率";
  const struct {
    const char* what;
    std::string bytes;
    bool utf8;
  } cases[] = {
      {"UTF-8 Japanese", names, true},
      {"UTF-8 with a byte order mark, ASCII after it", "\xEF\xBB\xBFTAG_ID,TAG", true},
      {"UTF-8 cut in the middle of a character at the end", names + "\xE5\x8E", true},
      {"code page 932 Japanese", ToCp932(names), false},
      {"code page 932, one kanji", ToCp932("原"), false},
      {"code page 932, half-width kana", ToCp932("ﾃｽﾄ"), false},
      {"ASCII only", "TAG_ID,TAG,FIC-101", false},
      {"UTF-8 Latin only (no Japanese)", "caf\xC3\xA9", false},
      {"an overlong form", "\xE0\x80\xAF\xE5\x8E\x9F", false},
      {"a surrogate", "\xED\xA0\x80\xE5\x8E\x9F", false},
  };
  for (const auto& c : cases) EXPECT_EQ(LooksLikeUtf8(c.bytes), c.utf8) << c.what;
}

}  // namespace
}  // namespace pendra::tagimport
