#include "JobThread.h"

#include <tuple>

namespace pendra::app {

JobThread::JobThread() : thread_([this] { Loop(); }) {}

JobThread::~JobThread() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void JobThread::Start(std::function<void()> task, std::function<void()> done) {
  {
    std::lock_guard lock(mutex_);
    ++pending_;
    tasks_.emplace_back(std::move(task), std::move(done));
  }
  wake_.notify_one();
}

void JobThread::Loop() {
  for (;;) {
    std::function<void()> task, done;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !tasks_.empty(); });
      if (tasks_.empty()) return;  // stopping, nothing left to run
      std::tie(task, done) = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();  // the task catches what it throws: see Form1::RunJob
    --pending_;
    if (done) done();
  }
}

}  // namespace pendra::app
