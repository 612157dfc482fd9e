// Both schedule handlers as a person starts them: the real window on the
// offscreen platform, the real jobs, databases and LibreOffice; only the
// person's answers to the dialog and the message boxes are scripted.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <filesystem>

#include "Form1.h"
#include "Messages.h"
#include "ScheduleJobs.h"
#include "ScheduleTestSupport.h"
#include "WindowPos.h"

namespace pendra::schedule::test {
namespace {

namespace fs = std::filesystem;

class ThroughTheWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    form.SetBaseFolder(QString::fromStdString(base.Path()));
    form.SetQuitFunction([this] { ++quits; });
    form.SetMessageBox([this](QWidget*, const QString& prompt, MsgBoxButtons buttons, const QString&) {
      prompts.push_back(prompt.toStdString());
      if (onMessage) onMessage(prompt.toStdString());
      if (buttons == MsgBoxButtons::OkOnly) return MsgBoxResult::Ok;
      return MsgBoxResult::Yes;
    });
    form.cdlDb.SetDialog([this](QWidget*, const app::OpenDialogRequest& request) -> std::optional<QString> {
      ++dialogs;
      initDirs.push_back(request.initDir.toStdString());
      if (dialogAnswers.empty()) return std::nullopt;  // Cancel
      const QString answer = dialogAnswers.front();
      dialogAnswers.pop_front();
      return answer;
    });
    form.show();
    form.Form_Load();
  }
  void TearDown() override {
    while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
  }

  std::vector<std::string> Tables() {
    auto rows = Rows(base.ScheduleDb(), "SELECT GPno, GP名称, 有効 FROM GroupMaster ORDER BY GPno");
    for (auto& row : Rows(base.ScheduleDb(), "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY タグ名"))
      rows.push_back(row);
    return rows;
  }

  BaseFolder base;
  ProbeScope probe;
  app::Form1 form;
  std::vector<std::string> prompts;
  std::function<void(const std::string&)> onMessage;
  std::deque<QString> dialogAnswers;  // chosen paths; none left: Cancel
  std::vector<std::string> initDirs;
  int dialogs = 0;
  int quits = 0;
};

TEST_F(ThroughTheWindow, OutputThenExpansionOfTheSameWorkbook) {
  const std::string workbook = base.File("Pendra情報.xls");
  dialogAnswers.push_back(QString::fromStdString(workbook));
  form.Command4->click();

  EXPECT_EQ(prompts, std::vector<std::string>{msg::kOutputDone});
  EXPECT_EQ(initDirs, std::vector<std::string>{base.Path()});
  EXPECT_TRUE(fs::exists(workbook));
  EXPECT_TRUE(app::IsTopmost(&form));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(quits, 0);

  const auto before = Tables();
  Exec(base.ScheduleDb(), "DELETE FROM GroupMaster; DELETE FROM KikiMaster;");
  prompts.clear();
  form.txtBackDbPath->setText(QString::fromStdString(workbook));
  form.Command3->click();

  EXPECT_EQ(prompts, (std::vector<std::string>{msg::kExpansionConfirm, msg::kExpansionDone}));
  EXPECT_EQ(Tables(), before);
  EXPECT_FALSE(app::IsTopmost(&form));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(quits, 1);
}

TEST_F(ThroughTheWindow, EndingDuringTheExpansionLeavesTheTablesAsTheyWere) {
  const std::string workbook = base.File("Pendra情報.xls");
  dialogAnswers.push_back(QString::fromStdString(workbook));
  form.Command4->click();
  ASSERT_EQ(prompts, std::vector<std::string>{msg::kOutputDone});
  Exec(base.ScheduleDb(), "DELETE FROM KikiMaster WHERE rowid > 3");
  const auto before = Tables();

  prompts.clear();
  // Once the expansion is confirmed, the person clicks the other buttons and
  // then "終了" while the job processes the window's messages.
  onMessage = [this](const std::string& prompt) {
    if (prompt != msg::kExpansionConfirm) return;
    QTimer::singleShot(0, form.Command4, &QPushButton::click);
    QTimer::singleShot(0, form.cmdSansyo, &QPushButton::click);
    QTimer::singleShot(0, form.Command3, &QPushButton::click);
    QTimer::singleShot(0, form.Command2, &QPushButton::click);
  };
  form.txtBackDbPath->setText(QString::fromStdString(workbook));
  form.Command3->click();

  // No second job ran inside the first: one dialog (the output's), one
  // confirmation; the expansion stopped with nothing changed.
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(prompts, std::vector<std::string>{msg::kExpansionConfirm});
  EXPECT_EQ(Tables(), before);
  EXPECT_EQ(quits, 1);
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

TEST_F(ThroughTheWindow, CancelRunsNoOutput) {
  form.Command4->click();  // the dialog answers Cancel
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(prompts.empty());
  EXPECT_TRUE(app::IsTopmost(&form));
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

}  // namespace
}  // namespace pendra::schedule::test
