#include "Measure.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pendra::bench {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Pairs::Add(double a, double b) {
  a_.push_back(a);
  b_.push_back(b);
  ratios_.push_back(a / b);
}

void Pairs::Take(int count, const std::function<double()>& a, const std::function<double()>& b, Order order) {
  for (int i = 0; i < count; ++i) {
    if (order == Order::Alternating && i % 2 == 0) {
      const double second = b();
      const double first = a();
      Add(first, second);
    } else {
      const double first = a();
      const double second = b();
      Add(first, second);
    }
  }
}

std::string Pairs::RatioText() const {
  char text[64];
  std::snprintf(text, sizeof text, "ratio %.2f (pairs %.2f)", Ratio(), MedianOfRatios());
  return text;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

namespace {

double PeakMiB(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024;  // kilobytes on Linux
}

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

CpuTimes CpuNow() { return {CpuSeconds(RUSAGE_SELF), CpuSeconds(RUSAGE_CHILDREN)}; }

double PeakSelfMiB() { return PeakMiB(RUSAGE_SELF); }
double PeakChildrenMiB() { return PeakMiB(RUSAGE_CHILDREN); }

namespace {

constexpr const char* kRunMeasured = "--run-measured";

// Waits for pid; its status, and its peak (or that of the largest program it
// waited for) in KiB.
int Wait(pid_t pid, long& peakKiB) {
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return -1;
  }
  peakKiB = usage.ru_maxrss;
  return status;
}

}  // namespace

// A forked process starts with its parent's peak, and keeps it through
// exec: a program started straight from a benchmark that has grown would
// show the benchmark's peak as its own. So every measured program is
// started by this same program run afresh (small), which reports the
// program's peak through a pipe and exits with its status.
void ServeMeasuredRun(int argc, char** argv) {
  if (argc < 4 || std::string(argv[1]) != kRunMeasured) return;
  const int report = std::atoi(argv[2]);
  const pid_t pid = fork();
  if (pid < 0) _exit(126);
  if (pid == 0) {
    close(report);
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  long peakKiB = 0;
  const int status = Wait(pid, peakKiB);
  const std::string figure = std::to_string(peakKiB) + "\n";
  if (write(report, figure.data(), figure.size()) < 0) _exit(126);
  _exit(status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 125);
}

ChildRun RunChild(const std::vector<std::string>& argv, bool captureOutput) {
  int output[2] = {-1, -1}, report[2] = {-1, -1};
  if (captureOutput && pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe(report) != 0) throw std::runtime_error("pipe failed");
  fcntl(report[0], F_SETFD, FD_CLOEXEC);
  const std::string self = SelfPath(), reportFd = std::to_string(report[1]);
  std::vector<char*> args = {const_cast<char*>(self.c_str()), const_cast<char*>(kRunMeasured),
                             const_cast<char*>(reportFd.c_str())};
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec: the parent may
    // run threads (an office bridge).
    const int out = captureOutput ? output[1] : open("/dev/null", O_WRONLY);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
    execv(args[0], args.data());
    _exit(127);
  }
  close(report[1]);
  ChildRun run;
  auto drain = [](int fd, std::string& into) {
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      into.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
  };
  if (captureOutput) {
    close(output[1]);
    drain(output[0], run.output);
  }
  std::string figure;
  drain(report[0], figure);
  long ignored = 0;
  const int status = Wait(pid, ignored);
  run.seconds = Seconds(start);
  run.peakMiB = static_cast<double>(std::atol(figure.c_str())) / 1024;
  if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || figure.empty()) {
    std::string command;
    for (const auto& a : argv) command += (command.empty() ? "" : " ") + a;
    throw std::runtime_error("failed (status " + std::to_string(status) + "): " + command);
  }
  return run;
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

double Timed(const std::string& command) {
  return TimeOf([&] { Run(command); });
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string SelfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

}  // namespace pendra::bench
