// Workbooks and files: Japanese paths, binding by path, sheets and windows
// by name, SaveAs in the workbook's format and its failures.
#include <fstream>
#include <iterator>
#include <mutex>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "ExcelTestSupport.h"

// Every umask() this test program makes, the layer's own included, goes
// through here and is noted: the mask is one for the whole process, and
// any moment it is something else gives the files other threads create
// then the wrong mode.
namespace {
std::mutex gUmaskMutex;
std::vector<mode_t> gUmaskSet;
}  // namespace

extern "C" mode_t umask(mode_t mask) {
  const auto previous = static_cast<mode_t>(syscall(SYS_umask, mask));
  std::lock_guard lock(gUmaskMutex);
  if (mask != previous) gUmaskSet.push_back(mask);
  return previous;
}

namespace pendra::excel::test {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class WorkbookFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app_ = CreateObject(); }
  static void TearDownTestSuite() {
    app_->Quit();
    app_.reset();
  }
  // Only the files a test made itself: no temporary file left over.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_.Path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::shared_ptr<Application> app_;
  TempFolder folder_;
};
std::shared_ptr<Application> WorkbookFiles::app_;

TEST_F(WorkbookFiles, SaveAsKeepsTheXlsFormatUnderAJapanesePathAndOpensByPath) {
  auto workbook = app_->Workbooks().Add();
  workbook->Sheets("Sheet1").Cells(1, 1) = Variant("原紙");
  const std::string path = folder_.File("Pendra情報 #1%.xls");
  workbook->SaveAs(path);
  // An .xls is an OLE compound file; LibreOffice's own format would be a zip.
  EXPECT_EQ(Bytes(path).substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));
  EXPECT_EQ(Files(), std::vector<std::string>{"Pendra情報 #1%.xls"});

  auto opened = GetObject(path);
  EXPECT_EQ(opened->Application(), app_);  // the instance created last
  EXPECT_EQ(opened->Sheets("Sheet1").Cells(1, 1).Value(), Variant("原紙"));
  opened->Windows("Pendra情報 #1%.xls").SetVisible(true);
  // Saved again under another name: still .xls, the window renamed.
  opened->Sheets("Sheet1").Cells(2, 1) = Variant(2.0);
  const std::string copy = folder_.File("写し.xls");
  opened->SaveAs(copy);
  EXPECT_EQ(Bytes(copy).substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));
  opened->Windows("写し.xls").SetVisible(true);
}

// The saved file gets the mode any new file of this process gets, and the
// process's mask is never changed on the way (it was set to 0 and back).
TEST_F(WorkbookFiles, SaveAsGivesTheFileTheUsersModeWithoutChangingTheProcessMask) {
  auto workbook = app_->Workbooks().Add();
  workbook->Sheets("Sheet1").Cells(1, 1) = Variant(1.0);
  for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}}) {
    const mode_t before = umask(mask);
    {
      std::lock_guard lock(gUmaskMutex);
      gUmaskSet.clear();
    }
    const std::string path = folder_.File("mode-" + std::to_string(mask) + ".xls");
    workbook->SaveAs(path);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << std::oct << mask;
    {
      std::lock_guard lock(gUmaskMutex);
      EXPECT_TRUE(gUmaskSet.empty()) << "the mask was set to " << std::oct << gUmaskSet.front() << " during the save";
    }
    umask(before);
  }
}

TEST_F(WorkbookFiles, MissingSheetAndWindowRaise9) {
  auto workbook = app_->Workbooks().Add();
  EXPECT_EQ(ErrorNumber([&] { workbook->Sheets("KikiMaster"); }), 9);
  EXPECT_EQ(ErrorNumber([&] { workbook->Windows("Pendra_原紙.xls"); }), 9);
}

TEST_F(WorkbookFiles, MissingOrNonWorkbookFilesRaise1004) {
  EXPECT_EQ(ErrorNumber([&] { GetObject(folder_.File("ない.xls")); }), 1004);
  EXPECT_EQ(ErrorNumber([&] { GetObject(folder_.Path().string()); }), 1004);
  EXPECT_EQ(ErrorNumber([&] { GetObject(""); }), 1004);
  // A text file and random bytes named .xls are no workbooks.
  std::ofstream(folder_.File("メモ.txt")) << "ただのテキストです\n";
  EXPECT_EQ(ErrorNumber([&] { GetObject(folder_.File("メモ.txt")); }), 1004);
  {
    std::ofstream junk(folder_.File("壊れた.xls"), std::ios::binary);
    for (int i = 0; i < 4096; ++i) junk.put(static_cast<char>((i * 7919) % 251));
  }
  const long number = ErrorNumber([&] { GetObject(folder_.File("壊れた.xls")); });
  EXPECT_EQ(number, 1004);
}

TEST_F(WorkbookFiles, SaveAsIntoAMissingOrReadOnlyFolderRaises1004AndWritesNothing) {
  auto workbook = app_->Workbooks().Add();
  workbook->Sheets("Sheet1").Cells(1, 1) = Variant(1.0);
  EXPECT_EQ(ErrorNumber([&] { workbook->SaveAs(folder_.File("ない/出力.xls")); }), 1004);
  EXPECT_FALSE(fs::exists(folder_.File("ない")));
  // root writes into any mode-0500 folder: /proc stands in then.
  std::string readOnly = "/proc";
  if (geteuid() != 0) {
    readOnly = folder_.File("読み取り専用");
    fs::create_directory(readOnly);
    chmod(readOnly.c_str(), 0500);
  }
  EXPECT_EQ(ErrorNumber([&] { workbook->SaveAs(readOnly + "/出力.xls"); }), 1004);
  EXPECT_FALSE(fs::exists(readOnly + "/出力.xls"));
  if (geteuid() != 0) chmod(readOnly.c_str(), 0700);
  EXPECT_EQ(ErrorNumber([&] { workbook->SaveAs(""); }), 1004);
}

TEST_F(WorkbookFiles, SaveAsReplacesAnExistingFileOrLeavesItWhenAskedTo) {
  const std::string path = folder_.File("既存.xls");
  std::ofstream(path) << "古い内容";
  auto workbook = app_->Workbooks().Add();
  workbook->Sheets("Sheet1").Cells(1, 1) = Variant("新しい");
  EXPECT_EQ(ErrorNumber([&] { workbook->SaveAs(path, false); }), 1004);
  EXPECT_EQ(Bytes(path), "古い内容");
  workbook->SaveAs(path);
  EXPECT_EQ(Bytes(path).substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4));
  EXPECT_EQ(Files(), std::vector<std::string>{"既存.xls"});
}

}  // namespace
}  // namespace pendra::excel::test
