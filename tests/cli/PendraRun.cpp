#include "PendraRun.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

#include "BatchCommand.h"
#include "core/Fnv1a.h"
#include "excel/Excel.h"

extern char** environ;

namespace fs = std::filesystem;

namespace pendra::cli::test {

std::string PendraPath() { return PENDRA_BINARY; }

Outcome RunInProcess(const std::vector<std::string>& args, const std::vector<pid_t>& probeScope) {
  auto scope = std::make_shared<std::set<pid_t>>(probeScope.begin(), probeScope.end());
  excel::SetProbeScope([scope](pid_t pid) { return scope->count(pid) > 0; });
  std::ostringstream out, err;
  std::istringstream in;
  Outcome outcome;
  try {
    outcome.exitCode = RunBatchCommand(args, {out, err, in, false, false}, ".");
  } catch (...) {
    excel::SetProbeScope(nullptr);
    throw;
  }
  excel::SetProbeScope(nullptr);
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

namespace {

std::vector<std::string> ChildEnvironment(const Launch& launch) {
  std::vector<std::pair<std::string, std::optional<std::string>>> changes = launch.env;
  bool probeGiven = false;
  for (const auto& [name, value] : changes) probeGiven = probeGiven || name == "PENDRA_PROBE_ONLY_PIDS";
  if (!probeGiven) changes.emplace_back("PENDRA_PROBE_ONLY_PIDS", std::string());

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    bool changed = false;
    for (const auto& change : changes) changed = changed || change.first == name;
    if (!changed) env.push_back(entry);
  }
  for (const auto& [name, value] : changes)
    if (value) env.push_back(name + "=" + *value);
  return env;
}

}  // namespace

PendraProcess::PendraProcess(const Launch& launch) {
  // Everything the child needs is made before fork: the test process may
  // run other threads (an office connection), so the child only redirects
  // and executes.
  std::vector<std::string> args = {launch.program.empty() ? PendraPath() : launch.program};
  args.insert(args.end(), launch.args.begin(), launch.args.end());
  std::vector<std::string> env = ChildEnvironment(launch);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  int err[2] = {-1, -1};
  int terminal = -1;  // the child's side of the pseudo terminal
  if (launch.terminal) {
    int master = -1;
    if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
    errFd_ = master;
  } else {
    if (pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    errFd_ = err[0];
  }
  const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);

  start_ = std::chrono::steady_clock::now();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    if (terminal >= 0) {
      setsid();
      ioctl(terminal, TIOCSCTTY, 0);
      dup2(terminal, 0);
      dup2(terminal, 2);
    } else {
      dup2(devNull, 0);
      dup2(err[1], 2);
    }
    dup2(out[1], 1);
    if (launch.user && (setgroups(0, nullptr) != 0 || setgid(launch.user->second) != 0 ||
                        setuid(launch.user->first) != 0))
      _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  outFd_ = out[0];
  if (err[1] >= 0) close(err[1]);
  close(devNull);
  if (terminal >= 0) {
    if (!launch.typed.empty() && write(errFd_, launch.typed.data(), launch.typed.size()) < 0) {
      ADD_FAILURE() << "could not type into the terminal";
    }
    close(terminal);
  }
}

PendraProcess::~PendraProcess() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

bool PendraProcess::Running() {
  if (reaped_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  end_ = std::chrono::steady_clock::now();
  reaped_ = true;
  status_ = status;
  return false;
}

void PendraProcess::Kill(int signal) {
  if (!reaped_) kill(pid_, signal);
}

double PendraProcess::SecondsSinceStart() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void PendraProcess::Collect(std::chrono::steady_clock::time_point deadline) {
  // Reads both outputs to their end (a pseudo terminal reports EIO once the
  // child and its descendants have closed it).
  while (outFd_ >= 0 || errFd_ >= 0) {
    pollfd fds[2];
    nfds_t n = 0;
    if (outFd_ >= 0) fds[n++] = {outFd_, POLLIN, 0};
    if (errFd_ >= 0) fds[n++] = {errFd_, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    if (poll(fds, n, static_cast<int>(std::min<long>(left.count(), 200))) < 0 && errno != EINTR) return;
    for (nfds_t i = 0; i < n; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[65536];
      const ssize_t got = read(fds[i].fd, buf, sizeof buf);
      std::string& into = fds[i].fd == outFd_ ? outcome_.out : outcome_.err;
      if (got > 0) {
        into.append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        int& fd = fds[i].fd == outFd_ ? outFd_ : errFd_;
        close(fd);
        fd = -1;
      }
    }
    // Offices started by the run keep no copy of our pipes (they write to
    // /dev/null), but a dead run's terminal may stay open in one until it
    // dies too: stop reading once the run itself is gone.
    if (!Running() && outFd_ < 0) {
      if (errFd_ >= 0) {
        char buf[65536];
        pollfd rest{errFd_, POLLIN, 0};
        while (poll(&rest, 1, 50) > 0) {
          const ssize_t got = read(errFd_, buf, sizeof buf);
          if (got <= 0) break;
          outcome_.err.append(buf, static_cast<size_t>(got));
        }
        close(errFd_);
        errFd_ = -1;
      }
    }
  }
}

Outcome PendraProcess::Wait(std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  Collect(deadline);
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ADD_FAILURE() << "pendra did not end within " << limit.count() << " s";
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
      reaped_ = true;
      end_ = std::chrono::steady_clock::now();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status_)) outcome_.exitCode = WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) outcome_.signal = WTERMSIG(status_);
  outcome_.seconds = std::chrono::duration<double>(end_ - start_).count();
  // A terminal shows CR LF for each line end.
  for (size_t at; (at = outcome_.err.find("\r\n")) != std::string::npos;) outcome_.err.erase(at, 1);
  return outcome_;
}

Outcome RunLaunched(const Launch& launch) {
  PendraProcess process(launch);
  return process.Wait();
}

Outcome RunPendra(std::vector<std::string> args) {
  Launch launch;
  launch.args = std::move(args);
  return RunLaunched(launch);
}

namespace {

std::string CommandLine(const fs::path& proc) {
  std::ifstream in(proc / "cmdline", std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Zombie(const fs::path& proc) {
  std::ifstream stat(proc / "stat");
  std::string line;
  std::getline(stat, line);
  const auto close = line.rfind(')');
  return close == std::string::npos || (line.size() > close + 2 && line[close + 2] == 'Z');
}

}  // namespace

std::vector<pid_t> OfficesOf(pid_t pid) {
  const std::string marker = "/pendra-office-" + std::to_string(getuid()) + "/" + std::to_string(pid) + "-";
  std::vector<pid_t> pids;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string cmdline = CommandLine(entry.path());
    if (cmdline.find("soffice.bin") == std::string::npos || cmdline.find(marker) == std::string::npos) continue;
    if (!Zombie(entry.path())) pids.push_back(std::stoi(name));
  }
  return pids;
}

std::vector<std::string> ProfileFoldersOf(const std::string& root, pid_t pid) {
  std::vector<std::string> folders;
  std::error_code ec;
  const std::string prefix = std::to_string(pid) + "-";
  for (const auto& entry : fs::directory_iterator(root, ec))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) folders.push_back(entry.path().string());
  return folders;
}

std::string ProfileRoot() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string base = (runtime && *runtime && access(runtime, W_OK) == 0) ? runtime : "/tmp";
  return base + "/pendra-office-" + std::to_string(getuid());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string Digest(const std::vector<std::string>& rows) {
  uint64_t hash = kFnv1aOffset;
  for (const auto& row : rows) {
    for (unsigned char c : row) hash = Fnv1aStep(hash, c);
    hash = Fnv1aStep(hash, '\n');
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace pendra::cli::test
