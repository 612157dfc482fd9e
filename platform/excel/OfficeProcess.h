// One private headless soffice.bin: spawned by us on its own profile folder
// and pipe, connected over the URL resolver, ended by us. Nothing of it
// outlives the owner: the child dies with this process (PR_SET_PDEATHSIG),
// and End() kills it with its process group when it does not leave in time,
// then every process it started that is still alive (InstanceProcesses.h).
// It runs with a home of its own inside its profile (OfficeHome.h).
//
// Every workbook it opens may come from someone else, so the process is
// fenced in: it runs in a network namespace of its own (no route anywhere,
// not even to this machine's loopback: a linked image or an external
// reference cannot fetch anything), and under the memory and time limits
// of OfficeLimits.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>

#include "OfficeLimits.h"
#include "UnoSupport.h"

namespace pendra::excel {

class OfficeProcess {
 public:
  // Starts and connects a new instance; 429 when that fails.
  static std::unique_ptr<OfficeProcess> Start();
  ~OfficeProcess();

  // Asks the instance to terminate; kills it by PID after `grace`, then
  // removes the private profile folder. Idempotent.
  void End(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

  // The process still runs (reaps it when it has exited).
  bool Running();
  // Running(), for the check before every call of a job: the process is
  // looked at again once 100 µs have passed since it was last seen running.
  // A job reads cells from its blocks far faster than one a microsecond,
  // and a system call per cell cost a tenth of a large expansion; an office
  // that died is still noticed by the first call 100 µs after.
  bool RunningLately();
  // The error of the limit that ended the process, if one did.
  std::optional<PlatformError> LimitReached() const { return watch_ ? watch_->Reached() : std::nullopt; }
  // That limit in one sentence, for a failure of its own (the start).
  std::optional<std::string> LimitReason() const { return watch_ ? watch_->ReachedReason() : std::nullopt; }
  // A spare instance's time limit stands still while it waits and counts
  // from the moment a job takes it.
  void StopClock() {
    if (watch_) watch_->StopClock();
  }
  void RestartClock() {
    if (watch_) watch_->RestartClock();
  }
  pid_t Pid() const { return pid_; }
  const std::string& ProfileDir() const { return profileDir_; }

  css::uno::Reference<css::uno::XComponentContext> Context() const { return context_; }
  css::uno::Reference<css::frame::XDesktop2> Desktop() const { return desktop_; }
  css::uno::Reference<css::uno::XInterface> Create(const char* service) const;

 private:
  OfficeProcess() = default;
  void Spawn();
  bool WaitExit(std::chrono::milliseconds limit);
  // Kills the office and every process still in its group; pid_ > 0.
  void KillGroup();

  pid_t pid_ = -1;
  int exitStatus_ = -1;
  std::chrono::steady_clock::time_point seenRunning_{};
  OfficeLimits limits_ = GetOfficeLimits();
  std::unique_ptr<LimitWatch> watch_;
  std::string profileDir_;
  std::string pipeName_;
  css::uno::Reference<css::uno::XComponentContext> context_;
  css::uno::Reference<css::frame::XDesktop2> desktop_;
};

// Where every private profile of this user's instances lies (0700); the
// probe ignores offices whose profile is under it.
const std::string& ProfileRoot();
// PIDs this process has spawned and not yet reaped.
std::set<pid_t> OwnPids();
// Kills every instance this process spawned, with its group, and waits
// (briefly) until each has died; for a program about to end at once, so
// that nothing of an instance writes after that.
void KillOwnInstancesNow();

}  // namespace pendra::excel
