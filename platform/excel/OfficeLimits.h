// What one office instance may cost. A workbook is untrusted input: a file
// of a few kilobytes can expand to millions of cells, one formula can
// compute for hours, a template macro can loop for ever. Each instance is
// watched from the moment it is spawned; when it holds more memory than
// allowed, or lives longer than the time allowed (a job's whole use of its
// instance), it is killed. Calls that were waiting on it then fail, and the
// error says which limit ended it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>

#include "core/PlatformError.h"
#include "excel/Excel.h"

namespace pendra::excel {

// Watches one process on a thread of its own. Kill() and Forget() share a
// lock with the watcher, so the watcher never signals a PID that was
// already reaped (and might belong to someone else by then).
class LimitWatch {
 public:
  LimitWatch(pid_t pid, OfficeLimits limits);
  ~LimitWatch();
  LimitWatch(const LimitWatch&) = delete;
  LimitWatch& operator=(const LimitWatch&) = delete;

  // The process was reaped: the watcher stops touching it.
  void Forget();
  // The error of the limit that ended the process, if one did.
  std::optional<PlatformError> Reached() const;
  // The same as one sentence: which limit it was and that it ended the
  // office.
  std::optional<std::string> ReachedReason() const;
  // A spare instance waiting for a job spends none of the job's time: its
  // clock stands still until a job takes it, then counts from then. The
  // memory limit holds throughout.
  void StopClock();
  void RestartClock();

 private:
  void Watch();
  size_t ResidentBytes() const;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  pid_t pid_;
  const OfficeLimits limits_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  bool clockStopped_ = false;
  std::optional<PlatformError> reached_;
  // reached_ is set: looked at without the lock by every call of a job,
  // thousands a millisecond, and set before the office is killed.
  std::atomic<bool> anyReached_{false};
  std::optional<std::string> reason_;
  bool stop_ = false;
  std::thread thread_;
};

// The error of the limit that ended the most recent instance of this
// process, if one did; calls that fail on a killed instance report it
// instead of a bare "connection lost".
std::optional<PlatformError> LastLimitReached();
void ClearLastLimitReached();

}  // namespace pendra::excel
