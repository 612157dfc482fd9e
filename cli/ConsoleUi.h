// The jobs' user interface on a terminal: message boxes become lines on
// standard output (completion) or standard error (refusal, failure), told
// apart by the job's outcome, the confirmation is answered by --yes or
// asked on the terminal, and long work shows its progress when standard
// error is a terminal. The streams are passed in, so that the commands run
// inside a test as well as in the program.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "core/JobOutcome.h"
#include "core/UserInterface.h"

namespace pendra::cli {

struct ConsoleOptions {
  std::string pathBox;      // what the window's path box would hold
  std::string baseFolder;   // where the databases and the template lie
  bool assumeYes = false;   // --yes: the confirmation and replacing a target
  bool allowRowLoss = false;  // --allow-row-loss: the questions asked before rows are lost
  bool dryRun = false;      // --dry-run: do the whole job, then roll back
  // The job runs on copies for --dry-run: its completion message would
  // claim what did not happen and is left out, and a question asked before
  // something is lost is answered Yes and printed, so the user learns of it.
  bool onCopies = false;
};

// Where the batch command reads and writes, and which of them is a
// terminal (a question needs one to be asked; progress is shown on one).
struct ConsoleStreams {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool inIsTerminal = false;
  bool errIsTerminal = false;

  // The process's standard streams.
  static ConsoleStreams Standard();
};

class ConsoleUi : public UserInterface {
 public:
  ConsoleUi(ConsoleOptions options, const ConsoleStreams& streams);

  MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                      std::string_view title) override;
  MsgBoxResult AskBeforeLoss(std::string_view question) override;
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

  // A question before rows are lost was answered No for want of
  // --allow-row-loss (no terminal to ask on).
  bool RowLossRefused() const { return rowLossRefused_; }

 private:
  bool AskOnTerminal(std::string_view prompt);
  void EndProgressLine();
  void ShowProgress();

  ConsoleOptions options_;
  ConsoleStreams streams_;
  std::vector<std::string> messages_;   // shown by the job, told at Finish
  bool rowLossRefused_ = false;
  bool progressShown_ = false;
  std::string progressTable_;
  long lastShown_ = -1;
  long lastDone_ = -1;
  long lastTotal_ = -1;
};

}  // namespace pendra::cli
