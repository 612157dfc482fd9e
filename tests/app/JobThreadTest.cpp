// The jobs run on the job thread: the window goes on working while they
// do, what they ask of the window is done on the window's thread, a job of
// more than half a second shows the progress window, and its キャンセル
// stops the output (an error the job handles) or ends the program in the
// expansion. The jobs are the fixture's stand-ins; the real ones run in
// tests/schedule/ThroughTheWindowTest.cpp.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "FormFixture.h"
#include "ProgressWindow.h"
#include "core/PlatformError.h"

namespace pendra::app::test {
namespace {

using namespace std::chrono_literals;
using JobThread = FormFixture;

// Waits on the job's thread until the condition holds (or 10 s pass).
template <typename Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST_F(JobThread, TheWindowWorksWhileTheJobDoesAndAnswersItsRequestsOnItsOwnThread) {
  form->Form_Load();
  std::atomic<int> ticks{0};
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(10);
  bool onJobThread = false;
  bool ticked = false;
  outputBody = [&](UserInterface& ui) {
    onJobThread = QThread::currentThread() != form->thread();
    // The job neither returns nor lets the window work (no DoEvents):
    // the window's timer ticks all the same.
    ticked = WaitFor([&] { return ticks >= 5; });
    ui.SetWaitPointer(true);
    ui.MsgBox("途中", MsgBoxButtons::OkOnly, "確認");
    ui.SetWaitPointer(false);
  };
  AnswerDialog(QStringLiteral("/d/x.xls"));
  form->Command4->click();
  EXPECT_TRUE(onJobThread);
  EXPECT_TRUE(ticked);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].prompt, QString::fromUtf8("途中"));
  EXPECT_FALSE(form->WaitPointerShown());
  EXPECT_FALSE(form->Busy());
}

TEST_F(JobThread, AShortJobShowsNoProgressWindowALongOneDoesWithItsRows) {
  form->Form_Load();
  bool seenInShortJob = true;
  outputBody = [&](UserInterface& ui) {
    ui.ReportProgress("GroupMaster", 1, 2);
    seenInShortJob = form->Progress() != nullptr;
  };
  AnswerDialog(QStringLiteral("/d/a.xls"));
  form->Command4->click();
  EXPECT_FALSE(seenInShortJob);

  // The person looks at the window once it shows.
  QString title, step;
  bool cancelShown = false, blocksTheMainWindow = true;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    ProgressWindow* progress = form->Progress();
    if (progress == nullptr || !progress->isVisible()) return;
    progress->Refresh();
    title = progress->windowTitle();
    step = progress->Step()->text();
    cancelShown = progress->CancelButton()->text() == QString::fromUtf8("キャンセル");
    blocksTheMainWindow = progress->isModal();
  });
  look.start(20);
  outputBody = [&](UserInterface& ui) {
    ui.ReportProgress("KikiMaster", 120, 32765);
    WaitFor([&] { return !step.isEmpty(); });
  };
  AnswerDialog(QStringLiteral("/d/b.xls"));
  form->Command4->click();
  EXPECT_EQ(title, "Pendra_Set");
  EXPECT_EQ(step, QString::fromUtf8("KikiMaster: 120 / 32765 行"));
  EXPECT_TRUE(cancelShown);
  EXPECT_FALSE(blocksTheMainWindow);  // "終了" stays within reach
  EXPECT_EQ(form->Progress(), nullptr);  // gone with the job
}

TEST_F(JobThread, CancelStopsTheOutputAtItsNextReportAndTheWindowStays) {
  form->Form_Load();
  QTimer person;
  QObject::connect(&person, &QTimer::timeout, [&] {
    if (form->Progress() != nullptr && form->Progress()->isVisible())
      QTest::mouseClick(form->Progress()->CancelButton(), Qt::LeftButton);
  });
  person.start(20);
  long stoppedWith = 0;
  long reports = 0;
  outputBody = [&](UserInterface& ui) {
    try {
      for (;;) {
        ui.ReportProgress("GroupMaster", ++reports, -1);
        std::this_thread::sleep_for(1ms);
      }
    } catch (const PlatformError& e) {
      stoppedWith = e.Number();  // the job's own error path
    }
  };
  AnswerDialog(QStringLiteral("/d/c.xls"));
  form->Command4->click();
  EXPECT_EQ(stoppedWith, err::kUserInterrupt);
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(form->isVisible());
  // The next job is not cancelled by the last one's button.
  bool cancelledAtOnce = true;
  outputBody = [&](UserInterface& ui) {
    ui.ReportProgress("GroupMaster", 1, 1);
    cancelledAtOnce = false;
  };
  person.stop();
  AnswerDialog(QStringLiteral("/d/d.xls"));
  form->Command4->click();
  EXPECT_FALSE(cancelledAtOnce);
}

TEST_F(JobThread, CancelInTheExpansionEndsTheProgramAndUnwindsTheJob) {
  form->Form_Load();
  QTimer person;
  QObject::connect(&person, &QTimer::timeout, [&] {
    if (form->Progress() != nullptr && form->Progress()->isVisible())
      QTest::mouseClick(form->Progress()->CancelButton(), Qt::LeftButton);
  });
  person.start(20);
  bool unwound = false;
  expansionBody = [&](UserInterface& ui) {
    try {
      for (long row = 1;; ++row) {
        ui.DoEvents();
        ui.ReportProgress("KikiMaster", row, -1);
        std::this_thread::sleep_for(1ms);
      }
    } catch (const ProgramEndRequested&) {
      unwound = true;
      throw;
    }
  };
  form->Command3->click();
  EXPECT_TRUE(unwound);
  EXPECT_EQ(quits, 1);
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(messages.empty());
}

TEST_F(JobThread, EndWhileTheJobIsBusyEndsTheProgramAtOnce) {
  form->Form_Load();
  // The person clicks "終了" while the job works without asking anything
  // of the window (as while the office opens a large file).
  QTimer::singleShot(50, form->Command2, &QPushButton::click);
  int quitsWhileBusy = -1;
  bool unwound = false;
  outputBody = [&](UserInterface& ui) {
    WaitFor([&] { return quits > 0; });
    quitsWhileBusy = quits;
    try {
      ui.ReportProgress("GroupMaster", 1, 1);
    } catch (const ProgramEndRequested&) {
      unwound = true;
      throw;
    }
  };
  AnswerDialog(QStringLiteral("/d/e.xls"));
  form->Command4->click();
  EXPECT_EQ(quitsWhileBusy, 1);  // the end came while the job still worked
  EXPECT_TRUE(unwound);
  EXPECT_FALSE(form->isVisible());
}

}  // namespace
}  // namespace pendra::app::test
