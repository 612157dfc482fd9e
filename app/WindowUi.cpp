#include "WindowUi.h"

#include <QMetaObject>

#include <exception>
#include <type_traits>

#include "Form1.h"
#include "core/PlatformError.h"

namespace pendra::app {

namespace {

// The window's messages are let through at most this often by DoEvents: the
// expansion calls it per row, and a round trip to the window's thread per
// row would cost more than the row itself. The window keeps working on its
// own thread meanwhile; the round trip only orders the job after what the
// window has queued.
constexpr auto kRoundTripInterval = std::chrono::milliseconds(50);

// Runs request on the window's thread and waits for it; what it throws is
// thrown here, on the job's thread. A request made after the program began
// to end is not carried at all.
template <typename Request>
auto OnWindow(Form1& form, Request request) -> std::invoke_result_t<Request> {
  using Result = std::invoke_result_t<Request>;
  if (form.Ending()) throw ProgramEndRequested{};
  std::exception_ptr failure;
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(
        &form,
        [&] {
          try {
            if (form.Ending()) throw ProgramEndRequested{};
            request();
          } catch (...) {
            failure = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
  } else {
    Result result{};
    QMetaObject::invokeMethod(
        &form,
        [&] {
          try {
            if (form.Ending()) throw ProgramEndRequested{};
            result = request();
          } catch (...) {
            failure = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
    return result;
  }
}

}  // namespace

WindowUi::WindowUi(Form1& form, std::shared_ptr<JobProgress> progress)
    : form_(form), progress_(std::move(progress)) {}

MsgBoxResult WindowUi::MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                              std::string_view title) {
  return OnWindow(form_, [&] { return form_.JobMsgBox(prompt, buttons, title); });
}

void WindowUi::SetWaitPointer(bool wait) {
  OnWindow(form_, [&] { form_.SetWaitPointer(wait); });
}

void WindowUi::DoEvents() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastRoundTrip_ >= kRoundTripInterval) {
    OnWindow(form_, [] {});
    lastRoundTrip_ = now;
  }
  StopIfAsked();
}

void WindowUi::SetTopmost(bool topmost) {
  OnWindow(form_, [&] { form_.SetTopmost(topmost); });
}

void WindowUi::EndProgram() {
  OnWindow(form_, [&] { form_.EndProgramAfterJob(); });
}

std::string WindowUi::PathBoxText() {
  return OnWindow(form_, [&] { return form_.PathBoxText(); });
}

std::string WindowUi::BaseFolder() {
  return OnWindow(form_, [&] { return form_.BaseFolder(); });
}

void WindowUi::ReportProgress(std::string_view table, long done, long total) {
  progress_->Report(table, done, total);
  StopIfAsked();
}

void WindowUi::StopIfAsked() {
  if (form_.Ending()) throw ProgramEndRequested{};
  if (progress_->CancelRequested()) Raise(err::kUserInterrupt, "キャンセルされました。");
}

}  // namespace pendra::app
