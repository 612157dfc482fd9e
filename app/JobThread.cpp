#include "JobThread.h"

#include <tuple>
#include <utility>

namespace pendra::app {

namespace {

std::exception_ptr Caught(const std::function<void()>& step) {
  try {
    step();
    return nullptr;
  } catch (...) {
    return std::current_exception();
  }
}

}  // namespace

JobThread::JobThread(std::function<void(std::exception_ptr)> failed)
    : failed_(std::move(failed)), thread_([this] { Loop(); }) {}

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
    // The jobs catch what they throw (see Form1::RunJob); the office's
    // spare instance and anything else started here may not.
    const std::exception_ptr failure = Caught(task);
    --pending_;
    Report(failure);
    if (done) Report(Caught(done));
  }
}

void JobThread::Report(std::exception_ptr failure) {
  if (!failure || !failed_) return;
  // A report that fails itself cannot be told anywhere; the thread goes on.
  Caught([&] { failed_(failure); });
}

}  // namespace pendra::app
