// What an instance leaves behind: the office runs helpers (gpg for a signed
// document) that may turn into daemons, out of its process group and
// session. Each carries the instance's mark, and ending the instance ends
// them wherever they went.
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <thread>

#include "ExcelInternal.h"
#include "ExcelTestSupport.h"
#include "InstanceProcesses.h"

namespace pendra::excel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Gone, or a zombie nobody reaps (init in a container may not).
bool GoneWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    const std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (stat.empty() || (close != std::string::npos && stat.size() > close + 2 && stat[close + 2] == 'Z')) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// A process with the one environment entry given that leaves its session
// and its parent at once, as a daemon does: init (or a subreaper above
// this test) adopts it. Returns once it runs the program with that entry.
pid_t StartDaemon(const std::string& entry) {
  std::string variable = entry;
  char* envp[] = {variable.data(), nullptr};
  char program[] = "/bin/sleep", seconds[] = "300";
  char* argv[] = {program, seconds, nullptr};
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    const pid_t daemon = fork();
    if (daemon == 0) {
      execve(program, argv, envp);
      _exit(127);
    }
    (void)!write(fds[1], &daemon, sizeof daemon);
    _exit(0);
  }
  close(fds[1]);
  pid_t daemon = -1;
  if (read(fds[0], &daemon, sizeof daemon) != sizeof daemon) daemon = -1;
  close(fds[0]);
  waitpid(child, nullptr, 0);
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (daemon > 0 && Slurp("/proc/" + std::to_string(daemon) + "/environ").find(entry) == std::string::npos &&
         std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(5ms);
  return daemon;
}

TEST(InstanceProcesses, TheOfficeRunsInAHomeOfItsOwnAndWhatItLeftBehindEndsWithIt) {
  auto app = CreateObject();
  auto workbook = app->Workbooks().Add();
  OfficeProcess& office = *WorkbookAccess::State(*workbook).App().office;
  const std::string profile = office.ProfileDir();
  const std::string environment = Slurp("/proc/" + std::to_string(office.Pid()) + "/environ");
  for (const std::string& entry : {"HOME=" + profile + "/home", "GNUPGHOME=" + profile + "/home/.gnupg",
                                  "XDG_CONFIG_HOME=" + profile + "/home/.config", InstanceMark(profile)})
    EXPECT_NE(environment.find(std::string(1, '\0') + entry + '\0'), std::string::npos) << entry;
  // As daemons the office's gpg started would be: out of its group. The
  // third carries the mark of another instance whose profile's name starts
  // with this one's.
  const pid_t daemons[] = {StartDaemon(InstanceMark(profile)), StartDaemon(InstanceMark(profile)),
                           StartDaemon(InstanceMark(profile + "x"))};
  for (pid_t daemon : daemons) ASSERT_GT(daemon, 0);

  app->Quit();

  EXPECT_TRUE(GoneWithin(daemons[0], 5s));
  EXPECT_TRUE(GoneWithin(daemons[1], 5s));
  EXPECT_FALSE(GoneWithin(daemons[2], 100ms));
  EXPECT_FALSE(fs::exists(profile));
  EXPECT_EQ(KillInstanceProcesses(InstanceMark(profile + "x")), 1);
  for (pid_t daemon : daemons) EXPECT_TRUE(GoneWithin(daemon, 5s));
}

}  // namespace
}  // namespace pendra::excel::test
