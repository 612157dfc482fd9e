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

}  // namespace

double PeakSelfMiB() { return PeakMiB(RUSAGE_SELF); }
double PeakChildrenMiB() { return PeakMiB(RUSAGE_CHILDREN); }

ChildRun RunChild(const std::vector<std::string>& argv, bool captureOutput) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  if (captureOutput && pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec: the parent may
    // run threads (an office bridge).
    const int out = captureOutput ? pipeFds[1] : open("/dev/null", O_WRONLY);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
    execvp(args[0], args.data());
    _exit(127);
  }
  ChildRun run;
  if (captureOutput) {
    close(pipeFds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) != 0) {
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      run.output.append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  }
  run.seconds = Seconds(start);
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
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
  const auto start = Clock::now();
  Run(command);
  return Seconds(start);
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

std::string SelfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

}  // namespace pendra::bench
