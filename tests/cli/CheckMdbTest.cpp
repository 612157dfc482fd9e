// pendra check-mdb on the real Access files: clean ones exit 0, the crafted
// Jet 3 file whose indexes disagree with its rows exits 1 naming the index,
// and what is no database is an error, not a clean result.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "PendraRun.h"

namespace pendra::cli::test {
namespace {

const std::string kData = PENDRA_ACCESS_TESTDATA;

TEST(CheckMdb, ExitStatusSaysWhetherTheFileIsClean) {
  struct Case {
    const char* file;
    int exitCode;
    const char* seen;  // a line of the report
  };
  const Case cases[] = {
      {"ja_V2000.mdb", 0, "KikiMaster: OK"},
      {"ja_V2007.accdb", 0, "M_TAG: OK"},
      {"ja_V2016.accdb", 0, "GroupMaster: OK"},
      {"testUnicodeCompV2003.mdb", 0, "索引 Unicode: 8 エントリー"},
      {"testEmoticonsV2010.accdb", 0, "data: OK"},
      {"testV1997.mdb", 0, "(Jet 3)"},
      {"public_domain_sample.accdb", 0, "order: OK"},  // rows of only fixed-length columns
      {"public_domain_sample.mdb", 0, "order: OK"},
      {"jet3_cp932_crafted.mdb", 1, "問題: 索引 B: "},
      // Japanese sort order: a system table's name that begins with U+0003
      // has no key we know; its entry is counted, not called a problem.
      {"public_domain_sample.mdb", 0, "キーを照合していないエントリー: 1 件"},
  };
  for (const Case& c : cases) {
    const Outcome run = RunInProcess({"check-mdb", kData + "/" + c.file});
    EXPECT_EQ(run.exitCode, c.exitCode) << c.file << "\n" << run.out << run.err;
    EXPECT_NE(run.out.find(c.seen), std::string::npos) << c.file << "\n" << run.out;
    EXPECT_EQ(run.out.find("問題は見つかりませんでした") != std::string::npos, c.exitCode == 0) << c.file;
  }
}

TEST(CheckMdb, WhatIsNoAccessDatabaseIsAnErrorNotACleanFile) {
  const auto folder = std::filesystem::temp_directory_path() / ("pendra-check-mdb-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "notes.mdb") << "not a database at all\n";
  // A FIFO (read, it would wait for a writer for ever), a device without
  // end, and a real file grown to 1 GB of holes: refused at once, unread.
  ASSERT_EQ(mkfifo((folder / "fifo.mdb").c_str(), 0600), 0);
  std::filesystem::copy_file(kData + "/ja_V2000.mdb", folder / "sparse.mdb");
  std::filesystem::resize_file(folder / "sparse.mdb", 1ull << 30);
  for (const std::string& path : {(folder / "notes.mdb").string(), (folder / "missing.mdb").string(), folder.string(),
                                  (folder / "fifo.mdb").string(), std::string("/dev/zero"), (folder / "sparse.mdb").string()}) {
    const Outcome run = RunInProcess({"check-mdb", path});
    EXPECT_EQ(run.exitCode, 1) << path;
    EXPECT_NE(run.err.find("ｴﾗｰ番号 3"), std::string::npos) << path << ": " << run.err;
  }
  EXPECT_EQ(RunInProcess({"check-mdb"}).exitCode, 2);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace pendra::cli::test
