// The jobs' user interface on a terminal: message boxes become lines on
// standard output (completion) or standard error (refusal, failure), told
// apart by the job's outcome, the
// confirmation is answered by --yes or asked on the terminal, and long work
// shows its progress when standard error is a terminal.
#pragma once

#include <string>

#include <vector>

#include "core/JobOutcome.h"
#include "core/UserInterface.h"

namespace pendra::cli {

struct ConsoleOptions {
  std::string pathBox;      // what the window's path box would hold
  std::string baseFolder;   // where the databases and the template lie
  bool assumeYes = false;   // --yes
};

class ConsoleUi : public UserInterface {
 public:
  explicit ConsoleUi(ConsoleOptions options);

  MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                      std::string_view title) override;
  void SetWaitPointer(bool) override {}
  void DoEvents() override {}
  void SetTopmost(bool) override {}
  void EndProgram() override {}
  std::string PathBoxText() override { return options_.pathBox; }
  std::string BaseFolder() override { return options_.baseFolder; }
  void ReportProgress(std::string_view table, long done, long total) override;

  // The job has returned: its messages go to standard output when it
  // completed, to standard error otherwise.
  void Finish(const JobOutcome& outcome);

 private:
  void EndProgressLine();
  void ShowProgress();

  ConsoleOptions options_;
  std::vector<std::string> messages_;   // shown by the job, told at Finish
  bool progressShown_ = false;
  bool progressToTerminal_ = false;
  std::string progressTable_;
  long lastShown_ = -1;
  long lastDone_ = -1;
  long lastTotal_ = -1;
};

}  // namespace pendra::cli
