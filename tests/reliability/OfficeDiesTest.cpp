// The spreadsheet application dies mid-job: the office process a pendra run
// started is killed at several moments of an expansion and of an output.
// The job must end with its own error message and exit status 1, leave the
// tables as they were, write no target (and no half-written file beside it)
// and leave no process and no profile folder behind.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iomanip>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "ReliabilitySupport.h"
#include "ScheduleTestSupport.h"

namespace pendra::reliability {
namespace {

namespace fs = std::filesystem;
using cli::test::Launch;
using cli::test::OfficesOf;
using cli::test::Outcome;
using cli::test::PendraProcess;

std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// Waits until the run has an office that has lived 0.25 s; its PID, or -1
// when the run ended first. An office on a fresh profile first exits by
// itself after about 0.1 s and is started again: that first process is not
// the one that does the work, so it is not the one to kill.
pid_t SettledOffice(PendraProcess& run) {
  std::map<pid_t, std::chrono::steady_clock::time_point> seen;
  pid_t office = -1;
  cli::test::WaitFor([&] {
    const auto now = std::chrono::steady_clock::now();
    for (pid_t pid : OfficesOf(run.Pid())) {
      auto [at, fresh] = seen.emplace(pid, now);
      if (!fresh && now - at->second >= std::chrono::milliseconds(250)) office = pid;
    }
    return office > 0 || !run.Running();
  }, std::chrono::seconds(60));
  return office;
}

// Kills every office of the run (the one found and any started since).
void KillOffices(pid_t run, pid_t first) {
  kill(first, SIGKILL);
  for (pid_t office : OfficesOf(run)) kill(office, SIGKILL);
}

std::string Seconds(double s) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(2) << s;
  return text.str();
}

struct Moment {
  std::string name;
  // Waits, from the moment the run's office has settled, until the office
  // is to die; false when the run ended first.
  std::function<bool(PendraProcess&)> wait;
  // An office that dies before it answers is started again by the layer:
  // the job may then end normally, having done all of its work.
  bool mayRecover = false;
};

bool WaitSeconds(PendraProcess& run, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (!run.Running()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Until a file whose name starts with prefix shows in folder.
bool WaitForFile(PendraProcess& run, const std::string& folder, const std::string& prefix) {
  return cli::test::WaitFor([&] {
           std::error_code ec;
           for (const auto& entry : fs::directory_iterator(folder, ec))
             if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
           return !run.Running();
         }, std::chrono::seconds(60)) && run.Running();
}

// Starts the command, kills its office at the moment, and checks what every
// outcome must show: the run ended (with its error, or normally when the
// layer recovered), nothing of it is left running, no profile folder.
Outcome KillOfficeAt(const std::vector<std::string>& args, const Moment& moment, const std::string& what,
                     double* killedAt) {
  Launch launch;
  launch.args = args;
  PendraProcess run(launch);
  const pid_t office = SettledOffice(run);
  EXPECT_GT(office, 0) << what << ": the run started no office";
  const bool inTime = office > 0 && moment.wait(run);
  *killedAt = run.SecondsSinceStart();
  if (office > 0) KillOffices(run.Pid(), office);
  const Outcome outcome = run.Wait(std::chrono::seconds(60));
  EXPECT_TRUE(inTime) << what << ": the run ended before the office was killed";
  if (!(moment.mayRecover && outcome.exitCode == 0)) {
    EXPECT_EQ(outcome.exitCode, 1) << what << ": " << outcome.out << outcome.err;
    EXPECT_EQ(outcome.out, "") << what;
  }
  EXPECT_TRUE(OfficesGone(run.Pid(), 3000)) << what << ": an office is left";
  EXPECT_TRUE(cli::test::ProfileFoldersOf(cli::test::ProfileRoot(), run.Pid()).empty())
      << what << ": the run's profile folder is left";
  return outcome;
}

// How long the office of a whole run lives after it settled, in seconds.
double OfficeLife(const std::vector<std::string>& args) {
  Launch launch;
  launch.args = args;
  PendraProcess run(launch);
  EXPECT_GT(SettledOffice(run), 0);
  const double settled = run.SecondsSinceStart();
  const Outcome outcome = run.Wait();
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  return outcome.seconds - settled;
}

TEST(OfficeDiesMidJob, ExpansionEndsWithItsErrorAndTablesUnchanged) {
  schedule::test::BaseFolder base;
  const std::string workbook = LargeWorkbook(base.Template());
  const std::string db = base.ScheduleDb();
  const std::string pristine = cli::test::ReadFile(db);
  const auto before = ScheduleDump(db);
  const std::vector<std::string> args = {"expand", workbook, "--yes", "--base", base.Path()};
  const double life = OfficeLife(args);
  Restore(db, pristine);
  const std::vector<Moment> moments = {
      {"while it connects", [](PendraProcess&) { return true; }, true},
      {"half-way through its life", [life](PendraProcess& run) { return WaitSeconds(run, life / 2); }, true},
      {"while rows are stored",
       [&](PendraProcess& run) {
         return cli::test::WaitFor([&] { return fs::exists(db + "-journal") || !run.Running(); },
                                   std::chrono::seconds(60)) &&
                run.Running();
       }},
  };
  int failedCleanly = 0;
  for (const auto& moment : moments) {
    const std::string what = "expand, office killed " + moment.name;
    double at = 0;
    const Outcome outcome = KillOfficeAt(args, moment, what, &at);
    const DbLook look = LookAt(db);
    EXPECT_FALSE(look.journalLeft) << what << ": the job did not roll back itself";
    EXPECT_EQ(look.integrity, "ok") << what;
    std::string result;
    if (outcome.exitCode == 0) {
      // Recovered: every row of the workbook is there.
      EXPECT_EQ(Dump(db, "KikiMaster").size(), static_cast<size_t>(kLargeKiki)) << what;
      EXPECT_EQ(Dump(db, "GroupMaster").size(), static_cast<size_t>(kLargeGroups)) << what;
      result = "the job ended normally (a new office was started, or the old one had done its part), all rows stored";
      Restore(db, pristine);
    } else {
      const std::string prefix = "pendra: Pendra情報の展開エラー ｴﾗｰ番号  ";
      EXPECT_EQ(outcome.err.rfind(prefix, 0), 0u) << what << ": " << outcome.err;
      const bool unchanged = ScheduleDump(db) == before;
      EXPECT_TRUE(unchanged) << what << ": tables changed";
      const auto colon = outcome.err.find(':', prefix.size());
      const std::string number = colon != std::string::npos && colon > prefix.size()
                                     ? outcome.err.substr(prefix.size(), colon - prefix.size())
                                     : "?";
      result = "exit 1, error " + number + " after " + Seconds(outcome.seconds - at) + " s, tables " +
               (unchanged ? "unchanged" : "CHANGED");
      ++failedCleanly;
      if (!unchanged) Restore(db, pristine);
    }
    Figure(what + " (at " + Seconds(at) + " s of the run, office life " + Seconds(life) + " s): " + result);
  }
  // The kill during the transfer cannot be recovered from.
  EXPECT_GE(failedCleanly, 1);
}

TEST(OfficeDiesMidJob, OutputEndsWithItsErrorAndWritesNoTarget) {
  schedule::test::BaseFolder base;
  const std::string db = base.ScheduleDb();
  FillLargeTables(db);
  const auto before = ScheduleDump(db);
  const std::string folder = base.Path();
  const auto listing = Listing(folder);
  const std::string target = base.File("出力 \"途中\".xls");
  const std::vector<std::string> args = {"output", target, "--base", folder};
  const double life = OfficeLife(args);
  fs::remove(target);

  const std::vector<Moment> moments = {
      {"while it connects", [](PendraProcess&) { return true; }, true},
      {"half-way through its life", [life](PendraProcess& run) { return WaitSeconds(run, life / 2); }, true},
      {"while it saves", [&](PendraProcess& run) { return WaitForFile(run, folder, ".~pendra-"); }},
  };
  int failedCleanly = 0;
  for (const auto& moment : moments) {
    const std::string what = "output, office killed " + moment.name;
    double at = 0;
    const Outcome outcome = KillOfficeAt(args, moment, what, &at);
    EXPECT_EQ(ScheduleDump(db), before) << what;
    std::string result;
    if (outcome.exitCode == 0) {
      EXPECT_EQ(cli::test::ReadFile(target).substr(0, 4), std::string("\xD0\xCF\x11\xE0", 4)) << what;
      result = "the job ended normally (a new office was started, or the old one had done its part), workbook whole";
      fs::remove(target);
    } else {
      EXPECT_EQ(outcome.err.rfind("pendra: Pendra情報のXLS出力エラー\npendra: ｴﾗｰ番号 ", 0), 0u) << what << outcome.err;
      EXPECT_FALSE(fs::exists(target)) << what << ": a target was written";
      result = std::string("exit 1, ") + (fs::exists(target) ? "TARGET WRITTEN" : "no target");
      ++failedCleanly;
    }
    const auto now = Listing(folder);
    EXPECT_EQ(now, listing) << what << ": files were left beside the target";
    for (const auto& name : now)
      if (!listing.count(name)) result += ", left behind: " + name;
    Figure(what + " (at " + Seconds(at) + " s of the run, office life " + Seconds(life) + " s): " + result);
    for (const auto& name : now)
      if (!listing.count(name)) fs::remove_all(fs::path(folder) / name);
  }
  EXPECT_GE(failedCleanly, 1);
}

}  // namespace
}  // namespace pendra::reliability
