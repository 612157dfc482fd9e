#include "JobThread.h"

#include <stdexcept>

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
    if (busy_ || task_) throw std::logic_error("a job is already running");
    busy_ = true;
    task_ = std::move(task);
    done_ = std::move(done);
  }
  wake_.notify_one();
}

void JobThread::Loop() {
  for (;;) {
    std::function<void()> task, done;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || task_; });
      if (!task_) return;  // stopping, nothing left to run
      task = std::move(task_);
      done = std::move(done_);
      task_ = nullptr;
      done_ = nullptr;
    }
    task();  // the task catches what it throws: see Form1::RunJob
    busy_ = false;
    if (done) done();
  }
}

}  // namespace pendra::app
