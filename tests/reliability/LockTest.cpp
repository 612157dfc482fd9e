// Locked database: while another process holds a write lock on the schedule
// or the tag master database, each job must give up within a few seconds
// with a numbered error, change nothing and leave nothing running. A writer
// in the middle of its transaction does not keep the output (a reader) from
// working.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "ReliabilitySupport.h"
#include "ScheduleTestSupport.h"
#include "TestFiles.h"

namespace pendra::reliability {
namespace {

namespace fs = std::filesystem;
using cli::test::Launch;
using cli::test::Outcome;
using cli::test::PendraProcess;

// The longest a job may take to give up on a locked database: its office
// start and workbook load (about 2 s) plus the layer's lock wait (2 s),
// with room for a slow machine.
constexpr double kBoundSeconds = 15.0;

enum class Lock { Exclusive, Reserved };

// Another program's write lock, held by this test process (pendra runs in a
// process of its own): EXCLUSIVE keeps out readers and writers, RESERVED is
// a writer with an uncommitted change, which readers may pass.
class LockHolder {
 public:
  LockHolder(const std::string& db, Lock lock, const std::string& pendingChange) {
    if (sqlite3_open_v2(db.c_str(), &handle_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + db);
    const std::string sql = lock == Lock::Exclusive ? "BEGIN EXCLUSIVE; " + pendingChange
                                                    : "BEGIN IMMEDIATE; " + pendingChange;
    if (sqlite3_exec(handle_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("cannot lock: ") + sqlite3_errmsg(handle_));
  }
  ~LockHolder() {
    sqlite3_exec(handle_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(handle_);
  }

 private:
  sqlite3* handle_ = nullptr;
};

std::string Seconds(double s) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(2) << s;
  return text.str();
}

// The error number in the text after `prefix` ("3260" from "...番号  3260:...").
std::string NumberAfter(const std::string& text, const std::string& prefix) {
  const auto at = text.find(prefix);
  if (at == std::string::npos) return "";
  std::string number;
  for (size_t i = at + prefix.size(); i < text.size() && (isdigit(static_cast<unsigned char>(text[i])) || text[i] == ' '); ++i)
    if (text[i] != ' ') number += text[i];
  return number;
}

class LockedDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    workbook = base.File("往復.xls");
    Launch launch;
    launch.args = {"output", workbook, "--base", base.Path()};
    ASSERT_EQ(cli::test::RunLaunched(launch).exitCode, 0);
  }

  // Runs the command while the lock is held; checks the bound and that no
  // office is left; returns the outcome.
  Outcome RunLocked(const std::vector<std::string>& args) {
    Launch launch;
    launch.args = args;
    launch.args.push_back("--base");
    launch.args.push_back(base.Path());
    PendraProcess run(launch);
    const Outcome outcome = run.Wait(std::chrono::seconds(60));
    EXPECT_LT(outcome.seconds, kBoundSeconds) << "the job hung on the lock";
    EXPECT_TRUE(OfficesGone(run.Pid(), 3000)) << "an office is left";
    return outcome;
  }

  std::string TagDb() const { return base.Path() + "/VL_Database/Velmora.mdb"; }

  schedule::test::BaseFolder base;
  std::string workbook;
};

TEST_F(LockedDatabase, ExpansionGivesUpWithANumberedErrorAndChangesNothing) {
  const auto before = ScheduleDump(base.ScheduleDb());
  for (Lock lock : {Lock::Exclusive, Lock::Reserved}) {
    const std::string what = std::string("expand, ") + (lock == Lock::Exclusive ? "exclusive" : "reserved") + " lock";
    Outcome outcome;
    {
      LockHolder holder(base.ScheduleDb(), lock, "UPDATE KikiMaster SET 機器名称 = '他のプログラム';");
      outcome = RunLocked({"expand", workbook, "--yes"});
    }
    EXPECT_EQ(outcome.exitCode, 1) << what;
    const std::string number = NumberAfter(outcome.err, "Pendra情報の展開エラー ｴﾗｰ番号 ");
    EXPECT_EQ(outcome.err.rfind("pendra: Pendra情報の展開エラー ｴﾗｰ番号  3", 0), 0u) << what << ": " << outcome.err;
    EXPECT_EQ(ScheduleDump(base.ScheduleDb()), before) << what;
    EXPECT_EQ(LookAt(base.ScheduleDb()).integrity, "ok");
    Figure("locked database: " + what + ": exit " + std::to_string(outcome.exitCode) + ", error " + number +
           ", lock wait: gave up after " + Seconds(outcome.seconds) + " s (bound " + Seconds(kBoundSeconds) + " s)");
  }
}

TEST_F(LockedDatabase, OutputGivesUpUnderAnExclusiveLockAndReadsPastAWriter) {
  const auto before = ScheduleDump(base.ScheduleDb());
  const std::string target = base.File("ロック中.xls");
  Outcome outcome;
  {
    LockHolder holder(base.ScheduleDb(), Lock::Exclusive, "DELETE FROM KikiMaster;");
    outcome = RunLocked({"output", target});
  }
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.err.rfind("pendra: Pendra情報のXLS出力エラー\npendra: ｴﾗｰ番号 ", 0), 0u) << outcome.err;
  EXPECT_FALSE(fs::exists(target));
  Figure("locked database: output, exclusive lock: exit " + std::to_string(outcome.exitCode) +
         ", lock wait: gave up after " + Seconds(outcome.seconds) + " s");

  {
    // A writer's uncommitted change is not what the output sees.
    LockHolder holder(base.ScheduleDb(), Lock::Reserved, "DELETE FROM KikiMaster;");
    outcome = RunLocked({"output", target});
  }
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(fs::exists(target));
  schedule::test::SavedWorkbook saved(target);
  EXPECT_EQ(saved.Table("KikiMaster", 4).size(), Dump(base.ScheduleDb(), "KikiMaster").size());
  EXPECT_EQ(ScheduleDump(base.ScheduleDb()), before);
  Figure("locked database: output, reserved lock (a writer mid-transaction): exit " +
         std::to_string(outcome.exitCode) + " after " + Seconds(outcome.seconds) + " s");
}

TEST_F(LockedDatabase, ImportGivesUpWithANumberedErrorAndChangesNothing) {
  const std::string csv = base.File("ﾏｽﾀｰ情報.csv");
  std::string bytes;
  for (int i = 0; i < 50; ++i)
    bytes += tagimport::testing::Fields({"1", "L-" + std::to_string(i), "x"}) + "\r\n";
  bytes += tagimport::testing::Fields({"1", "FIC-101", "changed"}) + "\r\n";
  cli::test::WriteFile(csv, bytes);
  const auto before = Dump(TagDb(), "M_TAG");
  for (Lock lock : {Lock::Exclusive, Lock::Reserved}) {
    const std::string what = std::string("import-csv, ") + (lock == Lock::Exclusive ? "exclusive" : "reserved") + " lock";
    Outcome outcome;
    {
      LockHolder holder(TagDb(), lock, "UPDATE M_TAG SET 備考 = '他のプログラム';");
      outcome = RunLocked({"import-csv", csv, "--yes"});
    }
    EXPECT_EQ(outcome.exitCode, 1) << what;
    const std::string number = NumberAfter(outcome.err, "ｴﾗｰ番号 ");
    EXPECT_EQ(number.size(), 4u) << what << ": " << outcome.err;
    EXPECT_EQ(number.substr(0, 1), "3") << what << ": " << outcome.err;
    // Refused at the opening of the database or at the start of the import.
    EXPECT_TRUE(outcome.err.find("データベースを開けません。") != std::string::npos ||
                outcome.err.find("ﾏｽﾀｰ情報はデータベースへ展開されませんでした。") != std::string::npos)
        << what << ": " << outcome.err;
    EXPECT_EQ(Dump(TagDb(), "M_TAG"), before) << what;
    EXPECT_EQ(LookAt(TagDb()).integrity, "ok");
    Figure("locked database: " + what + ": exit " + std::to_string(outcome.exitCode) + ", error " + number +
           ", lock wait: gave up after " + Seconds(outcome.seconds) + " s (bound " + Seconds(kBoundSeconds) + " s)");
  }
}

}  // namespace
}  // namespace pendra::reliability
