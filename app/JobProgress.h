// What a running job last reported of its progress, and whether the person
// asked to cancel it. Written by the job's thread, read by the window's:
// the window polls it instead of being called per row, so reporting costs a
// job almost nothing.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

namespace pendra::app {

class JobProgress {
 public:
  struct Snapshot {
    std::string table;  // empty until the job reports its first row
    long done = 0;
    long total = -1;    // < 0: not known
  };

  void Report(std::string_view table, long done, long total) {
    std::lock_guard lock(mutex_);
    if (table != last_.table) last_.table = table;
    last_.done = done;
    last_.total = total;
  }

  Snapshot Read() const {
    std::lock_guard lock(mutex_);
    return last_;
  }

  void RequestCancel() { cancel_ = true; }
  bool CancelRequested() const { return cancel_; }

 private:
  mutable std::mutex mutex_;
  Snapshot last_;
  std::atomic<bool> cancel_{false};
};

}  // namespace pendra::app
