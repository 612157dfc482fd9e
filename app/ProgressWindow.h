// The small window a job shows when it takes longer than half a second: the
// table it works on, the rows done of the rows expected where known, and a
// button "キャンセル" (none without a cancel function). It reads the job's
// JobProgress on a timer; a report with done < 0 is a step told in words.
//
// It stays above the main window but does not block it: "終了" and the
// main window's close box must end the program at once in every step,
// which a blocking (modal) window would prevent. The job buttons need no
// blocking; they do nothing while a job runs.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>

#include "JobProgress.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace pendra::app {

class ProgressWindow : public QDialog {
 public:
  ProgressWindow(QWidget* parent, std::shared_ptr<JobProgress> progress,
                 std::function<void()> cancel);

  QLabel* Step() const { return step_; }
  QProgressBar* Bar() const { return bar_; }
  QPushButton* CancelButton() const { return cancelButton_; }

  // Reads the job's progress into the window now (the timer does it every
  // tenth of a second).
  void Refresh();

 protected:
  // Escape, like the button, cancels.
  void reject() override;

 private:
  std::shared_ptr<JobProgress> progress_;
  std::function<void()> cancel_;
  QLabel* step_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QTimer* timer_ = nullptr;
};

}  // namespace pendra::app
