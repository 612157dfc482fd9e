// Runs the real batch command `pendra` as a child process, the way a script
// or a person at a terminal does: arguments, environment, standard input
// from /dev/null (no terminal) or from a pseudo terminal, its output
// captured. Also finds the office processes a run started, and builds the
// base folders and files the runs work on.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pendra::cli::test {

// The pendra program of this build tree.
std::string PendraPath();

struct Launch {
  std::string program;  // empty: PendraPath()
  std::vector<std::string> args;
  // Changes to the inherited environment; nullopt removes the variable.
  // PENDRA_PROBE_ONLY_PIDS is set to "" (no process counts as the user's
  // office) unless given here.
  std::vector<std::pair<std::string, std::optional<std::string>>> env;
  // Standard input and standard error on a pseudo terminal (standard output
  // stays a pipe); `typed` is what the person types into it.
  bool terminal = false;
  std::string typed;
  // Run as this user and group instead of the test's own (root), with no
  // supplementary groups: a user the file permissions apply to.
  std::optional<std::pair<uid_t, gid_t>> user;
};

struct Outcome {
  int exitCode = -1;   // -1 when ended by a signal
  int signal = 0;      // the signal that ended it, or 0
  std::string out;     // standard output
  std::string err;     // standard error (on a terminal: what the terminal showed)
  double seconds = 0;  // from start to exit
};

// One running pendra.
class PendraProcess {
 public:
  explicit PendraProcess(const Launch& launch);
  ~PendraProcess();
  PendraProcess(const PendraProcess&) = delete;
  PendraProcess& operator=(const PendraProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // Still running (not yet exited); reaps it when it has.
  bool Running();
  void Kill(int signal);
  // Waits for the exit, collecting the output; a run that outlives the
  // limit is killed and reported as failing the test.
  Outcome Wait(std::chrono::seconds limit = std::chrono::seconds(300));
  double SecondsSinceStart() const;

 private:
  void Collect(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  Outcome outcome_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point end_;
};

Outcome RunLaunched(const Launch& launch);
Outcome RunPendra(std::vector<std::string> args);

// The same command line run inside the test process, on streams of the
// test's own (standard input empty, no terminal). The probe for a running
// office sees only the processes in probeScope meanwhile (none by default),
// as PENDRA_PROBE_ONLY_PIDS does for a child. signal and seconds stay 0.
Outcome RunInProcess(const std::vector<std::string>& args, const std::vector<pid_t>& probeScope = {});

// Office processes (soffice.bin) started by the pendra process `pid`, alive
// and not zombies: our instances run on a profile folder named after the
// process that made it.
std::vector<pid_t> OfficesOf(pid_t pid);
// The private profile folders the pendra process `pid` made under root.
std::vector<std::string> ProfileFoldersOf(const std::string& root, pid_t pid);
// Where pendra's private office profiles lie for this environment.
std::string ProfileRoot();

// Waits until pred() holds or the limit passes; returns pred()'s last value.
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit);

// Files as bytes.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// SHA-256-free digest for comparing dumps: FNV-1a 64 over the rows.
std::string Digest(const std::vector<std::string>& rows);

}  // namespace pendra::cli::test

#include <thread>

template <typename Pred>
bool pendra::cli::test::WaitFor(Pred pred, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}
