// What fences the office in: its limits as a person sets them, a limit
// reached while it starts, and its namespaces where they cannot be entered
// whole.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "ExcelInternal.h"
#include "ExcelTestSupport.h"
#include "NetworkIsolation.h"

namespace pendra::excel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets or removes one variable of the environment until destroyed.
class Variable {
 public:
  Variable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~Variable() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }
  Variable(const Variable&) = delete;
  Variable& operator=(const Variable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Limits in force until destroyed.
class Limits {
 public:
  explicit Limits(OfficeLimits limits) : before_(GetOfficeLimits()) { SetOfficeLimits(limits); }
  ~Limits() { SetOfficeLimits(before_); }
  Limits(const Limits&) = delete;
  Limits& operator=(const Limits&) = delete;

 private:
  OfficeLimits before_;
};

// What this process writes to standard error until Text() is called.
class CapturedStandardError {
 public:
  CapturedStandardError() : path_(folder_.File("stderr")) {
    std::fflush(stderr);
    saved_ = dup(2);
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, 2);
    close(fd);
  }
  ~CapturedStandardError() { Restore(); }
  std::string Text() {
    Restore();
    return Contents(path_);
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  TempFolder folder_;
  std::string path_;
  int saved_ = -1;
};

struct EnvironmentCase {
  std::optional<std::string> memory, seconds;  // PENDRA_OFFICE_MEMORY_MB, PENDRA_OFFICE_SECONDS
  size_t memoryMegabytes;
  long secondsTaken;
  std::vector<std::string> refused;
};

TEST(OfficeLimits, TheEnvironmentGivesOnlyWholeNumbersInRangeAndNamesTheVariablesItRefuses) {
  const OfficeLimits defaults;
  const long defaultSeconds = defaults.time.count();
  const EnvironmentCase cases[] = {
      {std::nullopt, std::nullopt, defaults.memoryMegabytes, defaultSeconds, {}},
      {"4096", "300", 4096, 300, {}},
      {"320", "1", 320, 1, {}},
      {"1048576", "604800", 1048576, 604800, {}},
      {"", "", defaults.memoryMegabytes, defaultSeconds, {}},  // set but empty: not set
      // Values whose bytes or nanoseconds overflowed, ending the office at once.
      {"17592186044416", "10000000000", defaults.memoryMegabytes, defaultSeconds,
       {"PENDRA_OFFICE_MEMORY_MB", "PENDRA_OFFICE_SECONDS"}},
      {"99999999999999999999999", "99999999999999999999999", defaults.memoryMegabytes, defaultSeconds,
       {"PENDRA_OFFICE_MEMORY_MB", "PENDRA_OFFICE_SECONDS"}},
      {"319", "604801", defaults.memoryMegabytes, defaultSeconds, {"PENDRA_OFFICE_MEMORY_MB", "PENDRA_OFFICE_SECONDS"}},
      {"0", "-5", defaults.memoryMegabytes, defaultSeconds, {"PENDRA_OFFICE_MEMORY_MB", "PENDRA_OFFICE_SECONDS"}},
      {"2 GB", "+60", defaults.memoryMegabytes, defaultSeconds, {"PENDRA_OFFICE_MEMORY_MB", "PENDRA_OFFICE_SECONDS"}},
      {"1024", " 60", 1024, defaultSeconds, {"PENDRA_OFFICE_SECONDS"}},
  };
  for (const auto& c : cases) {
    const std::string shown = c.memory.value_or("(unset)") + " / " + c.seconds.value_or("(unset)");
    Variable memory("PENDRA_OFFICE_MEMORY_MB", c.memory);
    Variable seconds("PENDRA_OFFICE_SECONDS", c.seconds);
    std::vector<RefusedLimitVariable> refused;
    const OfficeLimits limits = OfficeLimitsFromEnvironment({}, &refused);
    EXPECT_EQ(limits.memoryMegabytes, c.memoryMegabytes) << shown;
    EXPECT_EQ(limits.time.count(), c.secondsTaken) << shown;
    std::vector<std::string> names;
    for (const auto& r : refused) {
      names.push_back(r.name);
      // What the window's warning says: the variable, its value, the range.
      const std::string said = r.Describe();
      EXPECT_NE(said.find(r.name + "=" + r.value), std::string::npos) << said;
      EXPECT_NE(said.find(r.name == "PENDRA_OFFICE_SECONDS" ? "1 to 604800" : "320 to 1048576"), std::string::npos)
          << said;
    }
    EXPECT_EQ(names, c.refused) << shown;
  }
}

// Limits far beyond anything were counted in bytes and nanoseconds, which
// overflowed: the office was ended at its first look.
TEST(OfficeLimits, HugeLimitsLeaveTheOfficeAtWork) {
  const OfficeLimits huge[] = {
      {17592186044416, std::chrono::seconds(10000000000)},
      {kMostOfficeMemoryMegabytes, std::chrono::seconds(kMostOfficeSeconds)},
  };
  for (const auto& limits : huge) {
    Limits inForce(limits);
    auto app = CreateObject();
    auto workbook = app->Workbooks().Add();
    std::this_thread::sleep_for(300ms);  // several looks of the watch
    auto sheet = workbook->Sheets("Sheet1");
    EXPECT_EQ(ErrorNumber([&] { sheet.Cells(1, 1) = Variant(1.0); }), 0) << limits.memoryMegabytes;
    EXPECT_EQ(ErrorNumber([&] { EXPECT_EQ(sheet.Cells(1, 1).Value(), Variant(1.0)); }), 0) << limits.memoryMegabytes;
    app->Quit();
  }
}

// An office ended by a limit before it was up was reported as one that
// could not start, and nothing said which limit.
TEST(OfficeLimits, ALimitReachedWhileTheOfficeStartsIsNamedInThe429) {
  struct Case {
    OfficeLimits limits;
    const char* said;
  };
  const Case cases[] = {
      {{1, 120s}, "メモリの上限 (1 MB) に達したため終了させました"},
      {{2048, 0s}, "時間の上限 (0 秒) に達したため終了させました"},
  };
  for (const auto& c : cases) {
    Limits inForce(c.limits);
    std::string description;
    try {
      CreateObject();
      ADD_FAILURE() << c.said << ": the office started";
    } catch (const PlatformError& e) {
      EXPECT_EQ(e.Number(), 429);
      description = e.Description();
    }
    EXPECT_NE(description.find("起動できませんでした"), std::string::npos) << description;
    EXPECT_NE(description.find(c.said), std::string::npos) << description;
    // The spare the window keeps ready meets the same limit: none is kept.
    PrepareSpareInstance();
    EXPECT_EQ(SpareInstancePid(), -1);
    EXPECT_TRUE(OwnPids().empty());
  }
}

std::string Namespace(pid_t pid, const char* kind) {
  return fs::read_symlink("/proc/" + std::to_string(pid) + "/ns/" + kind).string();
}

// A user namespace whose ID map cannot be written cannot be left: the
// office must not run in it, but without namespaces, behind its profile's
// settings, and the log says so.
TEST(OfficeNamespaces, AUidMapThatCannotBeWrittenStartsTheOfficeOutsideThemAndSaysSo) {
  CapturedStandardError log;
  NetworkIsolation::SetUidMapForTests("not a map\n");
  auto app = CreateObject();
  auto workbook = app->Workbooks().Add();
  const auto& office = *WorkbookAccess::State(*workbook).App().office;
  EXPECT_EQ(Namespace(office.Pid(), "user"), Namespace(getpid(), "user"));
  EXPECT_EQ(Namespace(office.Pid(), "net"), Namespace(getpid(), "net"));
  // At work, files and all.
  TempFolder folder;
  workbook->Sheets("Sheet1").Cells(1, 1) = Variant("外");
  workbook->SaveAs(folder.File("外.xls"));
  EXPECT_TRUE(fs::is_regular_file(folder.File("外.xls")));
  EXPECT_EQ(workbook->Sheets("Sheet1").Cells(1, 1).Value(), Variant("外"));
  // The profile's own fences stay.
  const std::string settings = Contents(office.ProfileDir() + "/user/registrymodifications.xcu");
  EXPECT_NE(settings.find("BlockUntrustedRefererLinks"), std::string::npos);
  EXPECT_NE(settings.find("/org.openoffice.Office.Calc/Content/Update"), std::string::npos);
  app->Quit();

  // Later starts do not try again.
  auto next = CreateObject();
  auto other = next->Workbooks().Add();
  EXPECT_EQ(Namespace(WorkbookAccess::State(*other).App().office->Pid(), "net"), Namespace(getpid(), "net"));
  next->Quit();
  NetworkIsolation::SetUidMapForTests(std::nullopt);

  const std::string said = log.Text();
  EXPECT_NE(said.find("without a network namespace"), std::string::npos) << said;
  EXPECT_NE(said.find("user ID map"), std::string::npos) << said;
  EXPECT_EQ(said.find("without a network namespace"), said.rfind("without a network namespace")) << "said once";

  // Namespaces work again once the map is the user's own.
  auto isolated = CreateObject();
  auto third = isolated->Workbooks().Add();
  EXPECT_NE(Namespace(WorkbookAccess::State(*third).App().office->Pid(), "net"), Namespace(getpid(), "net"));
  isolated->Quit();
}

}  // namespace
}  // namespace pendra::excel::test
