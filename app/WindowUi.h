// What a job on the job thread sees of the window. Every request that
// touches the window (a message box, the wait pointer, the topmost band,
// the path box, ending the program) is carried to the window's thread and
// waited for, so the job code runs unchanged, as if it ran on that thread.
//
// Progress goes into a JobProgress the window polls. Once the program is
// ending every request throws ProgramEndRequested, and once the person
// cancelled, DoEvents and ReportProgress throw PlatformError 18: both unwind
// the job through its own error path (its transaction rolls back, its
// office instance ends).
#pragma once

#include <chrono>
#include <memory>

#include "JobProgress.h"
#include "core/UserInterface.h"

namespace pendra::app {

class Form1;

class WindowUi : public UserInterface {
 public:
  WindowUi(Form1& form, std::shared_ptr<JobProgress> progress);

  MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                      std::string_view title) override;
  void SetWaitPointer(bool wait) override;
  void DoEvents() override;
  void SetTopmost(bool topmost) override;
  void EndProgram() override;
  std::string PathBoxText() override;
  std::string BaseFolder() override;
  void ReportProgress(std::string_view table, long done, long total) override;

 private:
  // Throws when the program ends or the job was cancelled.
  void StopIfAsked();

  Form1& form_;
  std::shared_ptr<JobProgress> progress_;
  std::chrono::steady_clock::time_point lastRoundTrip_{};
};

}  // namespace pendra::app
