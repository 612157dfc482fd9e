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
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace pendra::app {

class JobThread {
 public:
  // Whatever a task (or its done) lets escape, of any type, is caught on
  // the thread and handed to failed there, and the thread goes on with the
  // next task: an exception ending a thread would end the whole program.
  explicit JobThread(std::function<void(std::exception_ptr)> failed);
  // Waits for a task that runs, then ends the thread.
  ~JobThread();
  JobThread(const JobThread&) = delete;
  JobThread& operator=(const JobThread&) = delete;

  // Runs task on the thread after the tasks started before it, then done
  // (also on the thread).
  void Start(std::function<void()> task, std::function<void()> done = nullptr);

  // True from Start() until every task started has returned.
  bool Busy() const { return pending_ > 0; }

 private:
  void Loop();
  void Report(std::exception_ptr failure);

  std::function<void(std::exception_ptr)> failed_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::function<void()>, std::function<void()>>> tasks_;
  bool stop_ = false;
  std::atomic<int> pending_{0};
  std::thread thread_;
};

}  // namespace pendra::app
