// A real Form1 whose person-facing parts are scripted: message boxes and
// the file dialog answer from a script and record what they were shown;
// quitting is counted instead of ending the test run; the jobs record their
// calls (the real ones need databases and a spreadsheet application).
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Form1.h"

namespace pendra::app::test {

struct ShownMessage {
  QString prompt;
  MsgBoxButtons buttons;
  QString title;
};

struct ShownDialog {
  OpenDialogRequest request;
  bool topmostWhileOpen;
};

class FormFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Scripted answers of the file dialog: a path, or nothing for Cancel.
  void AnswerDialog(std::optional<QString> answer) { dialogAnswers.push_back(std::move(answer)); }

  std::unique_ptr<Form1> form;
  QTemporaryDir baseFolder;
  std::vector<ShownMessage> messages;
  std::deque<MsgBoxResult> messageAnswers;  // Ok / Yes when empty
  std::vector<ShownDialog> dialogs;
  std::deque<std::optional<QString>> dialogAnswers;
  std::function<void()> duringDialog;  // runs while the scripted dialog is "open"
  int quits = 0;

  // The jobs: what they were given, and what they do when called.
  int tagImports = 0;
  int expansions = 0;
  std::vector<std::string> outputs;
  std::vector<bool> topmostDuringOutput;
  std::function<void(UserInterface&)> expansionBody;
  std::function<void(UserInterface&)> tagImportBody;
  std::function<void(UserInterface&)> outputBody;
};

}  // namespace pendra::app::test
