#include "InstanceProcesses.h"

#include "core/ProcessFile.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string_view>
#include <sys/syscall.h>
#include <unistd.h>

namespace pendra::excel {

int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

bool PidfdKill(int pidfd) { return syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0; }

namespace {

// A process that keeps forking could escape one pass; each pass kills what
// it sees, so the next finds at most what was forked during the previous.
constexpr int kMaxPasses = 8;
// An environment is a few kilobytes; a larger one is read up to here.
constexpr size_t kMaxEnvironment = 1 << 20;


// Whether the process's environment holds `mark` as one whole entry.
bool CarriesMark(pid_t pid, const std::string& mark) {
  const std::string environment = ReadProcessFile("/proc/" + std::to_string(pid) + "/environ", kMaxEnvironment);
  size_t start = 0;
  while (start < environment.size()) {
    size_t end = environment.find('\0', start);
    if (end == std::string::npos) end = environment.size();
    if (std::string_view(environment).substr(start, end - start) == mark) return true;
    start = end + 1;
  }
  return false;
}

// One look at every process of this user; kills the marked ones not
// killed before (a killed process may still show until it has exited).
int KillMarkedOnce(const std::string& mark, std::set<pid_t>& killed) {
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  int count = 0;
  const pid_t self = getpid();
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long value = std::strtol(entry->d_name, &end, 10);
    const pid_t pid = static_cast<pid_t>(value);
    if (*end != '\0' || value <= 0 || pid == self || killed.count(pid)) continue;
    // Held first: while the pidfd is open the PID names this process.
    const int pidfd = PidfdOpen(pid);
    if (pidfd < 0) continue;
    if (CarriesMark(pid, mark) && PidfdKill(pidfd)) {
      killed.insert(pid);
      ++count;
    }
    close(pidfd);
  }
  closedir(proc);
  return count;
}

}  // namespace

std::string InstanceMark(const std::string& profileDir) { return "PENDRA_OFFICE_INSTANCE=" + profileDir; }

int KillInstanceProcesses(const std::string& mark) {
  std::set<pid_t> killed;
  for (int pass = 0; pass < kMaxPasses; ++pass)
    if (KillMarkedOnce(mark, killed) == 0) break;
  return static_cast<int>(killed.size());
}

}  // namespace pendra::excel
