// The one thread the window's jobs run on, so that the window keeps
// repainting and answering while a job works.
//
// One thread for the program's whole life rather than one per job: an
// office instance is started with PR_SET_PDEATHSIG, which fires when the
// *thread* that forked it ends. A thread per job would kill the office the
// moment that thread ended; one long-lived thread keeps the office bound to
// the program's lifetime, as before, and also ends it with the process when
// the program is ended in the middle of a job.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace pendra::app {

class JobThread {
 public:
  JobThread();
  // Waits for a task that runs, then ends the thread.
  ~JobThread();
  JobThread(const JobThread&) = delete;
  JobThread& operator=(const JobThread&) = delete;

  // Runs task on the thread, then done (also on the thread, once Busy() is
  // false again). Only one task at a time: the caller starts the next one
  // after done.
  void Start(std::function<void()> task, std::function<void()> done);

  // True from Start() until the task has returned.
  bool Busy() const { return busy_; }

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::function<void()> task_;
  std::function<void()> done_;
  bool stop_ = false;
  std::atomic<bool> busy_{false};
  std::thread thread_;
};

}  // namespace pendra::app
