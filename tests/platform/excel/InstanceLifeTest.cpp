// The life of an instance: Quit, a dropped last reference, a killed
// office, and the probe for the user's own office.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <thread>

#include "ExcelInternal.h"
#include "ExcelTestSupport.h"
#include "ProfileDisposal.h"
#include "UsersOffice.h"

namespace pendra::excel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

pid_t PidOf(Workbook& workbook) { return WorkbookAccess::State(workbook).App().office->Pid(); }
std::string ProfileOf(Workbook& workbook) { return WorkbookAccess::State(workbook).App().office->ProfileDir(); }

// Dead: gone, or a zombie that waits to be reaped by the layer. The leader
// of a multi-threaded process shows Z before its other threads are gone and
// it can be reaped: wait until it is the last task.
bool DeadWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  auto zombie = [pid] {
    const std::string dir = "/proc/" + std::to_string(pid);
    std::ifstream in(dir + "/stat");
    std::string line;
    std::getline(in, line);
    if (line.empty()) return true;
    const auto close = line.rfind(')');
    if (close == std::string::npos || line.size() <= close + 2 || line[close + 2] != 'Z') return false;
    std::error_code ec;
    const auto tasks = std::distance(fs::directory_iterator(dir + "/task", ec), fs::directory_iterator());
    return tasks <= 1;
  };
  while (!zombie()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

TEST(InstanceLife, QuitEndsTheOfficeAndLaterCallsRaise440) {
  auto app = CreateObject();
  auto workbook = app->Workbooks().Add();
  const pid_t pid = PidOf(*workbook);
  const std::string profile = ProfileOf(*workbook);
  ASSERT_TRUE(ProcessExists(pid));
  ASSERT_TRUE(fs::is_directory(profile));
  EXPECT_EQ(fs::status(profile).permissions() & fs::perms::all, fs::perms::owner_all);
  // The office has a network of its own: nothing a workbook links to can be
  // reached from it.
  EXPECT_NE(fs::read_symlink("/proc/" + std::to_string(pid) + "/ns/net"), fs::read_symlink("/proc/self/ns/net"));
  workbook->Application()->Quit();
  EXPECT_FALSE(ProcessExists(pid));
  EXPECT_FALSE(fs::exists(profile));
  // Removed on a thread of its own: nothing of it is left once that is done.
  WaitForProfileDisposal();
  for (const auto& entry : fs::directory_iterator(ProfileRoot()))
    EXPECT_NE(entry.path().string().rfind(profile, 0), 0u) << entry.path();
  EXPECT_EQ(ErrorNumber([&] { workbook->Sheets("Sheet1"); }), 440);
  EXPECT_EQ(ErrorNumber([&] { app->Run("subResult"); }), 440);
  EXPECT_EQ(ErrorNumber([&] { app->Workbooks(); }), 440);
}

// The office runs its graphics self-tests (and writes their log) on the
// first start of a profile that has not seen its version: an instance
// started from the seed profile, made by the first, does not.
TEST(InstanceLife, AnInstanceStartedFromTheSeedSkipsTheOfficesFirstStartSelfTests) {
  for (int instance = 0; instance < 2; ++instance) {
    auto app = CreateObject();
    auto workbook = app->Workbooks().Add();
    if (instance == 1) {
      EXPECT_FALSE(fs::exists(ProfileOf(*workbook) + "/user/GraphicsRenderTests.log"));
    }
    app->Quit();
  }
}

TEST(InstanceLife, DroppingTheLastReferenceWithoutQuitEndsTheOffice) {
  pid_t pid;
  std::string profile;
  {
    auto app = CreateObject();
    auto workbook = app->Workbooks().Add();
    workbook->Sheets("Sheet1").Cells(1, 1) = Variant("保存されない");
    pid = PidOf(*workbook);
    profile = ProfileOf(*workbook);
    app.reset();  // the workbook still holds the instance
    EXPECT_TRUE(ProcessExists(pid));
  }
  EXPECT_FALSE(ProcessExists(pid));
  EXPECT_FALSE(fs::exists(profile));
}

TEST(InstanceLife, AKilledOfficeTurnsEveryCallInto440AndLeavesNoProcess) {
  TempFolder folder;
  pid_t pid;
  {
    auto app = CreateObject();
    auto workbook = app->Workbooks().Add();
    auto sheet = workbook->Sheets("Sheet1");
    sheet.Cells(1, 1) = Variant(1.0);
    EXPECT_EQ(sheet.Cells(1, 1).Value(), Variant(1.0));
    sheet.Cells(2, 1) = Variant(2.0);  // still buffered when the office dies
    pid = PidOf(*workbook);
    kill(pid, SIGKILL);
    ASSERT_TRUE(DeadWithin(pid, 5s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorNumber([&] { sheet.Cells(3, 1) = Variant(3.0); }), 440);
    EXPECT_EQ(ErrorNumber([&] { sheet.Cells(1, 1).Value(); }), 440);
    EXPECT_EQ(ErrorNumber([&] { workbook->SaveAs(folder.File("死んだ.xls")); }), 440);
    EXPECT_EQ(ErrorNumber([&] { workbook->Windows("Book1").SetVisible(true); }), 440);
    EXPECT_EQ(ErrorNumber([&] { app->Run("subResult"); }), 440);
    EXPECT_EQ(ErrorNumber([&] { GetObject(folder.File("死んだ.xls")); }), 1004);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(fs::exists(folder.File("死んだ.xls")));
  }
  EXPECT_FALSE(ProcessExists(pid));
  EXPECT_TRUE(OwnPids().empty());
}

TEST(InstanceLife, AKillDuringAFlushSurfacesAs440AtTheObservingCall) {
  auto app = CreateObject();
  auto workbook = app->Workbooks().Add();
  auto sheet = workbook->Sheets("Sheet1");
  for (int16_t r = 1; r <= 2000; ++r) sheet.Cells(r, 1) = Variant(1.0 * r);
  const pid_t pid = PidOf(*workbook);
  kill(pid, SIGKILL);
  ASSERT_TRUE(DeadWithin(pid, 5s));
  // The buffered rows cannot go over: the macro call reports it.
  EXPECT_EQ(ErrorNumber([&] { app->Run("subResultClr"); }), 440);
}

TEST(InstanceLife, TheProbeSeesTheUsersOfficeAndIgnoresOurOwn) {
  TempFolder folder;
  auto app = CreateObject();
  auto workbook = app->Workbooks().Add();
  const pid_t own = PidOf(*workbook);
  std::set<pid_t> scope = {own, getpid()};
  SetProbeScope([&scope](pid_t pid) { return scope.count(pid) > 0; });
  EXPECT_EQ(ErrorNumber([] { GetRunningObject(); }), 429);

  {
    // An office on a profile under our profile root belongs to a run of ours.
    UsersOffice ours(folder.Path().string(), "-env:UserInstallation=file://" + ProfileRoot() + "/other-run");
    scope.insert(ours.Pid());
    EXPECT_EQ(ErrorNumber([] { GetRunningObject(); }), 429);
  }
  {
    UsersOffice users(folder.Path().string());
    scope.insert(users.Pid());
    EXPECT_EQ(ErrorNumber([] { GetRunningObject(); }), 0);
  }
  EXPECT_EQ(ErrorNumber([] { GetRunningObject(); }), 429);
  SetProbeScope(nullptr);
  app->Quit();
}

TEST(InstanceLife, TheProbeCountsOnlyAnOfficeThatCanHoldTheUsersDocument) {
  TempFolder folder;
  struct Case {
    std::vector<std::string> arguments;
    bool counts;
  };
  const Case cases[] = {
      {{}, true},
      {{"--calc", "/home/user/予定.xls"}, true},
      {{"--headless"}, false},
      {{"-headless", "--accept=socket,host=localhost,port=2002;urp;"}, false},
      {{"--invisible"}, false},
      {{"--convert-to", "pdf", "/tmp/a.odt"}, false},
      {{"--cat", "/tmp/a.odt"}, false},
      {{"/home/user/headless.ods"}, true},  // a file name is not an option
      // Dashes with no option name: neither headless nor a reason to fail.
      {{"-"}, true},
      {{"--"}, true},
      {{"---"}, true},
      {{"-="}, true},
      {{"--", "/home/user/予定.xls"}, true},
      {{"--", "--headless"}, false},
  };
  std::set<pid_t> scope;
  SetProbeScope([&scope](pid_t pid) { return scope.count(pid) > 0; });
  for (const Case& c : cases) {
    UsersOffice office(folder.Path().string(), kUsersProfile, c.arguments);
    scope = {office.Pid()};
    std::string shown;
    for (const auto& a : c.arguments) shown += " " + a;
    EXPECT_EQ(ErrorNumber([] { GetRunningObject(); }), c.counts ? 0 : 429) << shown;
  }
  SetProbeScope(nullptr);
}

// The spare waits longer than the time limit without being ended; the job
// that takes it gets the whole limit, counted from then.
TEST(InstanceLife, TheSpareInstanceWaitsOutsideTheTimeLimitAndTheJobThatTakesItIsHeldToIt) {
  const OfficeLimits before = GetOfficeLimits();
  // The limit must hold an office's start (the spare's clock stops only
  // once it is up) and the job's few calls on this machine as loaded as it
  // is now: three times what a start and a workbook take, at least 2 s.
  const auto calibration = std::chrono::steady_clock::now();
  CreateObject()->Workbooks().Add()->Application()->Quit();
  const auto once = std::chrono::steady_clock::now() - calibration;
  OfficeLimits limits = before;
  limits.time = std::max<std::chrono::seconds>(2s, std::chrono::ceil<std::chrono::seconds>(3 * once));
  SetOfficeLimits(limits);
  PrepareSpareInstance();
  const pid_t spare = SpareInstancePid();
  ASSERT_GT(spare, 0);
  std::this_thread::sleep_for(limits.time + 1s);
  EXPECT_EQ(kill(spare, 0), 0) << "the waiting spare was ended";

  auto app = CreateObject();
  auto workbook = app->Workbooks().Add();
  EXPECT_EQ(PidOf(*workbook), spare);
  EXPECT_EQ(SpareInstancePid(), -1);
  workbook->Sheets("Sheet1").Cells(1, 1) = Variant(1.0);  // at work within the limit
  EXPECT_EQ(workbook->Sheets("Sheet1").Cells(1, 1).Value(), Variant(1.0));
  EXPECT_TRUE(DeadWithin(spare, limits.time + 10s));  // past the limit counted from the take
  EXPECT_EQ(ErrorNumber([&] { app->Run("subResult"); }), 440);
  SetOfficeLimits(before);
}

TEST(InstanceLife, BindingToAFileWithoutAnInstanceStartsOneOwnedByTheWorkbook) {
  TempFolder folder;
  const std::string path = folder.File("単独.xls");
  {
    auto app = CreateObject();
    auto workbook = app->Workbooks().Add();
    workbook->Sheets("Sheet1").Cells(1, 1) = Variant("単独");
    workbook->SaveAs(path);
    app->Quit();
  }
  pid_t pid;
  {
    auto workbook = GetObject(path);
    pid = PidOf(*workbook);
    EXPECT_EQ(workbook->Sheets("Sheet1").Cells(1, 1).Value(), Variant("単独"));
  }
  EXPECT_FALSE(ProcessExists(pid));
}

}  // namespace
}  // namespace pendra::excel::test
