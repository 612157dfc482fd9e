#include "ConsoleUi.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <string>

namespace pendra::cli {

ConsoleStreams ConsoleStreams::Standard() {
  return {std::cout, std::cerr, std::cin, isatty(STDIN_FILENO) != 0, isatty(STDERR_FILENO) != 0};
}

namespace {

// Every line the program writes to standard error as an error begins with
// its name, so that a script's log says who wrote it.
void WriteErrorLines(std::ostream& err, std::string_view text) {
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    err << "pendra: " << text.substr(start, end - start) << "\n";
    start = end + 1;
  }
}

}  // namespace

ConsoleUi::ConsoleUi(ConsoleOptions options, const ConsoleStreams& streams)
    : options_(std::move(options)), streams_(streams) {}

bool ConsoleUi::AskOnTerminal(std::string_view prompt) {
  streams_.err << prompt << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(streams_.in, answer)) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "はい";
}

MsgBoxResult ConsoleUi::MsgBox(std::string_view prompt, MsgBoxButtons buttons, std::string_view) {
  EndProgressLine();
  if (buttons == MsgBoxButtons::OkOnly) {
    // A job's message is its last word: where it goes is known once the
    // job has returned its outcome.
    messages_.emplace_back(prompt);
    return MsgBoxResult::Ok;
  }

  if (options_.onCopies && buttons == MsgBoxButtons::YesNoDefaultNo) {
    streams_.out << "試行のみ: 実行すると次を尋ねます: " << prompt << std::endl;
    return MsgBoxResult::Yes;
  }
  if (options_.assumeYes) return MsgBoxResult::Yes;
  if (streams_.inIsTerminal && AskOnTerminal(prompt)) return MsgBoxResult::Yes;
  if (!streams_.inIsTerminal)
    WriteErrorLines(streams_.err, std::string(prompt) +
                                      "\n(--yes で確認を省略できます / answer with --yes when not on a terminal)");
  return MsgBoxResult::No;
}

MsgBoxResult ConsoleUi::AskBeforeLoss(std::string_view question) {
  EndProgressLine();
  if (options_.onCopies) {
    streams_.out << "試行のみ: 実行すると次を尋ねます: " << question << std::endl;
    return MsgBoxResult::Yes;
  }
  if (options_.allowRowLoss) return MsgBoxResult::Yes;
  if (streams_.inIsTerminal) return AskOnTerminal(question) ? MsgBoxResult::Yes : MsgBoxResult::No;
  // A script's --yes answered the confirmation, not this: losing rows is
  // never what a script agreed to without saying so.
  WriteErrorLines(streams_.err, std::string(question) +
                                    "\n行が失われるため中止しました (何も変更していません)。失ってよい場合は "
                                    "--allow-row-loss を付けて実行して下さい。"
                                    "\n(rows would be lost: nothing was changed; run with --allow-row-loss to accept that)");
  rowLossRefused_ = true;
  return MsgBoxResult::No;
}

void ConsoleUi::Finish(const JobOutcome& outcome) {
  EndProgressLine();
  for (const std::string& message : messages_) {
    if (outcome.IsCompleted() && options_.onCopies) continue;
    if (outcome.IsCompleted()) streams_.out << message << std::endl;
    else WriteErrorLines(streams_.err, message);
  }
  messages_.clear();
}

void ConsoleUi::ReportProgress(std::string_view table, long done, long total) {
  if (!streams_.errIsTerminal) return;
  if (table != progressTable_) {
    EndProgressLine();
    progressTable_ = table;
  }
  lastDone_ = done;
  lastTotal_ = total;
  // A line per 1% or per 500 rows is enough for a person to see it move.
  const long step = total > 0 ? std::max(1L, total / 100) : 500;
  if (lastShown_ >= 0 && done - lastShown_ < step && done != total) return;
  ShowProgress();
}

void ConsoleUi::ShowProgress() {
  lastShown_ = lastDone_;
  streams_.err << '\r' << progressTable_ << ": " << lastDone_;
  if (lastTotal_ >= 0) streams_.err << " / " << lastTotal_;
  streams_.err << std::flush;
  progressShown_ = true;
}

void ConsoleUi::EndProgressLine() {
  // A table whose size is known only at its end (the expansion counts rows
  // until the first empty cell) ends on its last count, not on the last
  // step shown.
  if (progressShown_ && lastDone_ != lastShown_) ShowProgress();
  if (progressShown_) streams_.err << '\n' << std::flush;
  progressShown_ = false;
  progressTable_.clear();
  lastShown_ = -1;
  lastDone_ = -1;
}

}  // namespace pendra::cli
