// The window as the tests see it: the path box and the base folder are
// set by the test, every message box is recorded, and confirmations are
// answered as scripted. The only stand-in of the tests: it replaces the
// person at the window, not any component.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "core/UserInterface.h"

namespace pendra::tagimport::testing {

struct ShownBox {
  std::string prompt;
  MsgBoxButtons buttons;
  std::string title;
};

class ScriptedUi : public UserInterface {
 public:
  std::string pathBox;
  std::string baseFolder;
  // Answers to Yes/No boxes, in order; a box with no answer left fails the
  // test and gets No.
  std::deque<MsgBoxResult> answers;
  std::vector<ShownBox> boxes;
  long progressCalls = 0;

  MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                      std::string_view title) override;
  void SetWaitPointer(bool) override { ++pointerChanges; }
  void DoEvents() override {}
  void SetTopmost(bool) override { ++topmostChanges; }
  void EndProgram() override { ++endRequests; }
  std::string PathBoxText() override { return pathBox; }
  std::string BaseFolder() override { return baseFolder; }
  void ReportProgress(std::string_view, long, long) override { ++progressCalls; }

  int pointerChanges = 0;
  int topmostChanges = 0;
  int endRequests = 0;
};

}  // namespace pendra::tagimport::testing
