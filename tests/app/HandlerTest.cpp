// The buttons' dispatch, the top-level handler, the end of the program and
// what the jobs get from the window: message box, wait pointer, DoEvents.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "FormFixture.h"
#include "WindowPos.h"
#include "core/PlatformError.h"

namespace pendra::app::test {
namespace {

using Handlers = FormFixture;

void QueueClick(QPushButton* button) {
  QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
}

TEST_F(Handlers, EachButtonStartsItsOwnJob) {
  form->Form_Load();
  form->Command1->click();
  form->Command3->click();
  EXPECT_EQ(tagImports, 1);
  EXPECT_EQ(expansions, 1);
  EXPECT_TRUE(outputs.empty());
  EXPECT_EQ(quits, 0);
}

TEST_F(Handlers, EndEndsTheProgramAtOnce) {
  form->Form_Load();
  form->Command2->click();
  EXPECT_EQ(quits, 1);
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(messages.empty());
  // Nothing starts any more while the program ends.
  form->Command3->click();
  EXPECT_EQ(expansions, 0);
}

TEST_F(Handlers, ClosingTheWindowEndsTheProgram) {
  form->Form_Load();
  EXPECT_TRUE(form->close());
  EXPECT_EQ(quits, 1);
  EXPECT_TRUE(messages.empty());
}

TEST_F(Handlers, AnUnhandledErrorIsShownWithNumberAndDescriptionAndTheProgramGoesOn) {
  form->Form_Load();
  tagImportBody = [](UserInterface&) { Raise(err::kFileNotFound, "ファイルが見つかりません。"); };
  form->Command1->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "Pendra_Set");
  EXPECT_EQ(messages[0].buttons, MsgBoxButtons::OkOnly);
  EXPECT_TRUE(messages[0].prompt.contains("53"));
  EXPECT_TRUE(messages[0].prompt.contains(QString::fromUtf8("ファイルが見つかりません。")));
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->Busy());
  form->Command3->click();  // the window still answers
  EXPECT_EQ(expansions, 1);
}

TEST_F(Handlers, OtherExceptionsReachTheTopLevelHandlerToo) {
  form->Form_Load();
  expansionBody = [](UserInterface&) { throw std::runtime_error("boom"); };
  form->Command3->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "Pendra_Set");
  EXPECT_TRUE(messages[0].prompt.contains("boom"));
  EXPECT_EQ(quits, 0);
}

// Waits, answering the window's events, until condition holds; false when
// it still does not after a generous bound.
template <typename Condition>
bool ProcessEventsUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Not every task on the job thread is a job that reports its own failures:
// the spare office's start may throw something other than a PlatformError
// (its profile folder cannot be made). That is shown like any unhandled
// error, and the window and the job thread go on.
TEST_F(Handlers, AnExceptionOnTheJobThreadOutsideAJobIsShownAndTheWindowGoesOn) {
  form->Form_Load();
  int starts = 0;
  form->SetSpareOffice(
      [&starts] {
        ++starts;
        throw std::filesystem::filesystem_error("cannot create directories", std::filesystem::path("/profile/user"),
                                                std::make_error_code(std::errc::no_space_on_device));
      },
      [] {});
  form->SetKeepOfficeReady(true);
  ASSERT_TRUE(ProcessEventsUntil([&] { return messages.size() == 1 && !form->JobRunning(); }));
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(messages[0].title, "Pendra_Set");
  EXPECT_EQ(messages[0].buttons, MsgBoxButtons::OkOnly);
  EXPECT_TRUE(messages[0].prompt.startsWith(QString::fromUtf8("実行時エラー '1004':"))) << messages[0].prompt.toStdString();
  EXPECT_TRUE(messages[0].prompt.contains("cannot create directories")) << messages[0].prompt.toStdString();
  EXPECT_TRUE(messages[0].prompt.contains("/profile/user")) << messages[0].prompt.toStdString();
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(form->isVisible());

  // The next job runs on the same thread; the spare's start after it fails
  // again and is told again.
  form->Command3->click();
  EXPECT_EQ(expansions, 1);
  ASSERT_TRUE(ProcessEventsUntil([&] { return messages.size() == 2 && !form->JobRunning(); }));
  EXPECT_EQ(starts, 2);
  EXPECT_TRUE(messages[1].prompt.contains("cannot create directories"));
}

TEST_F(Handlers, AnUnhandledErrorDoesNotLeaveTheWaitPointer) {
  form->Form_Load();
  expansionBody = [](UserInterface& ui) {
    ui.SetWaitPointer(true);
    Raise(err::kOverflow);
  };
  form->Command3->click();
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(form->WaitPointerShown());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].prompt.contains("6"));
}

TEST_F(Handlers, WaitPointerIsOneStateNotAStack) {
  form->SetWaitPointer(true);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  form->SetWaitPointer(true);
  form->SetWaitPointer(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  form->SetWaitPointer(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(Handlers, DoEventsLetsTheWindowWorkOnce) {
  form->Form_Load();
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  form->DoEvents();
  EXPECT_TRUE(ran);
}

TEST_F(Handlers, ClicksDuringAPausedJobStartNoOtherWork) {
  form->Form_Load();
  AnswerDialog(QStringLiteral("/x.xls"));
  expansionBody = [this](UserInterface& ui) {
    if (expansions > 1) return;  // a second run is the fault looked for
    QueueClick(form->Command3);
    QueueClick(form->Command4);
    QueueClick(form->cmdSansyo);
    QueueClick(form->Command1);
    ui.DoEvents();
    ui.DoEvents();
  };
  form->Command3->click();
  EXPECT_EQ(expansions, 1);
  EXPECT_EQ(tagImports, 0);
  EXPECT_TRUE(dialogs.empty());
  EXPECT_TRUE(outputs.empty());
  EXPECT_TRUE(form->txtBackDbPath->text().isEmpty());
  // Once the job is over the buttons work again.
  form->Command4->click();
  EXPECT_EQ(outputs.size(), 1u);
}

TEST_F(Handlers, EndDuringAPausedJobUnwindsTheJobAndEndsTheProgram) {
  form->Form_Load();
  bool unwound = false;
  bool afterPause = false;
  expansionBody = [&](UserInterface& ui) {
    QueueClick(form->Command2);
    try {
      ui.DoEvents();
      afterPause = true;
    } catch (const ProgramEndRequested&) {
      unwound = true;  // where a job rolls back what it holds
      throw;
    }
  };
  form->Command3->click();
  EXPECT_TRUE(unwound);
  EXPECT_FALSE(afterPause);
  EXPECT_EQ(quits, 1);
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(messages.empty());
}

TEST_F(Handlers, ClosingTheWindowDuringAPausedJobEndsItToo) {
  form->Form_Load();
  bool unwound = false;
  expansionBody = [&](UserInterface& ui) {
    QMetaObject::invokeMethod(form.get(), &QWidget::close, Qt::QueuedConnection);
    try {
      ui.DoEvents();
    } catch (const ProgramEndRequested&) {
      unwound = true;
      throw;
    }
  };
  form->Command3->click();
  EXPECT_TRUE(unwound);
  EXPECT_EQ(quits, 1);
}

TEST_F(Handlers, AJobThatEndsTheProgramIsNotShownAgain) {
  form->Form_Load();
  expansionBody = [](UserInterface& ui) {
    ui.SetTopmost(false);
    ui.EndProgram();
  };
  form->Command3->click();
  EXPECT_EQ(quits, 1);
  form->SetTopmost(true);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(Handlers, JobsSeeThePathBoxAndTheBaseFolder) {
  std::string path, base;
  expansionBody = [&](UserInterface& ui) {
    path = ui.PathBoxText();
    base = ui.BaseFolder();
  };
  form->txtBackDbPath->setText(QString::fromUtf8(" /データ/Pendra情報.xls "));
  form->Command3->click();
  EXPECT_EQ(path, " /データ/Pendra情報.xls ");  // unchanged, not trimmed
  EXPECT_EQ(base, baseFolder.path().toStdString());
}

TEST(BaseFolder, IsTheExecutablesFolderUnlessReplaced) {
  Form1 form;
  EXPECT_EQ(form.BaseFolder(), QCoreApplication::applicationDirPath().toStdString());
}

TEST_F(Handlers, MessageBoxesOfTheJobsGoThroughTheWindow) {
  messageAnswers.push_back(MsgBoxResult::No);
  const MsgBoxResult answer =
      form->MsgBox("よろしいですか？", MsgBoxButtons::YesNo, "確認");
  EXPECT_EQ(answer, MsgBoxResult::No);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].prompt, QString::fromUtf8("よろしいですか？"));
  EXPECT_EQ(messages[0].title, QString::fromUtf8("確認"));
  EXPECT_EQ(messages[0].buttons, MsgBoxButtons::YesNo);
}

// ---- Qt's own message box, answered like a person would ----------------------

struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::Information;
  QStringList buttons;
  QString defaultButton;
  bool modal = false;
};

void AnswerBox(SeenBox& seen, int key) {
  QTimer::singleShot(50, [&seen, key] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
    if (box->defaultButton() != nullptr) seen.defaultButton = box->defaultButton()->text();
    seen.modal = box->isModal();
    QTest::keyClick(box, static_cast<Qt::Key>(key));
  });
}

TEST(RealMessageBox, YesNoHasNoIconAndYesAsDefault) {
  SeenBox seen;
  AnswerBox(seen, Qt::Key_Return);
  const MsgBoxResult answer = ShowQtMessageBox(
      nullptr, QString::fromUtf8("展開します。 よろしいですか？"), MsgBoxButtons::YesNo,
      QString::fromUtf8("確認"));
  EXPECT_EQ(answer, MsgBoxResult::Yes);
  EXPECT_EQ(seen.title, QString::fromUtf8("確認"));
  EXPECT_EQ(seen.text, QString::fromUtf8("展開します。 よろしいですか？"));
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons.size(), 2);
  EXPECT_TRUE(seen.defaultButton.contains(QString::fromUtf8("はい")));
  EXPECT_TRUE(seen.modal);
}

TEST(RealMessageBox, AQuestionThatDestroysSomethingHasNoAsDefault) {
  SeenBox seen;
  AnswerBox(seen, Qt::Key_Return);
  EXPECT_EQ(ShowQtMessageBox(nullptr, QString::fromUtf8("上書きしますか？"),
                             MsgBoxButtons::YesNoDefaultNo, QString::fromUtf8("確認")),
            MsgBoxResult::No);
  EXPECT_TRUE(seen.defaultButton.contains(QString::fromUtf8("いいえ")));
  EXPECT_EQ(seen.buttons.size(), 2);
}

TEST(RealMessageBox, EscapeAnswersNo) {
  SeenBox seen;
  AnswerBox(seen, Qt::Key_Escape);
  EXPECT_EQ(ShowQtMessageBox(nullptr, "?", MsgBoxButtons::YesNo, "t"), MsgBoxResult::No);
}

}  // namespace
}  // namespace pendra::app::test
