#include "ProfileDisposal.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

namespace pendra::excel {

namespace {

namespace fs = std::filesystem;

class Disposal {
 public:
  void Add(std::string folder) {
    std::unique_lock lock(mutex_);
    if (finished_) {
      // After the last wait at exit: removed here and now.
      lock.unlock();
      std::error_code ec;
      fs::remove_all(folder, ec);
      return;
    }
    pending_.push_back(std::move(folder));
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wake_.notify_all();
  }

  void WaitUntilEmpty() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_.empty() && !busy_; });
  }

  // At exit: what is pending is removed, later folders are removed at once.
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return finished_ || !pending_.empty(); });
      if (pending_.empty()) return;  // finished, nothing left
      const std::string folder = std::move(pending_.front());
      pending_.pop_front();
      busy_ = true;
      lock.unlock();
      std::error_code ec;
      fs::remove_all(folder, ec);
      lock.lock();
      busy_ = false;
      idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<std::string> pending_;
  bool busy_ = false;
  bool finished_ = false;
  std::thread thread_;
};

// Never destroyed: an instance ended by a static destructor at exit (the
// spare) still hands its profile over. The removals pending at exit are
// waited for by an exit handler, registered with the first use, so it runs
// before the destructors of everything that existed before then.
Disposal& TheDisposal() {
  static Disposal* disposal = [] {
    auto* made = new Disposal;
    std::atexit([] { TheDisposal().Finish(); });
    return made;
  }();
  return *disposal;
}

}  // namespace

void DisposeOfProfile(const std::string& profileDir) {
  // The office is gone and nothing else uses the folder: renaming it is
  // enough to take it out of its place. Named after it, so it still begins
  // with the owner's PID.
  const std::string ended = profileDir + "-ended";
  std::error_code ec;
  if (std::rename(profileDir.c_str(), ended.c_str()) != 0) {
    fs::remove_all(profileDir, ec);
    return;
  }
  TheDisposal().Add(ended);
}

void WaitForProfileDisposal() { TheDisposal().WaitUntilEmpty(); }

}  // namespace pendra::excel
