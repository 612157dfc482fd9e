#include "ProgressWindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "Startup.h"

namespace pendra::app {

ProgressWindow::ProgressWindow(QWidget* parent, std::shared_ptr<JobProgress> progress,
                               std::function<void()> cancel)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      progress_(std::move(progress)),
      cancel_(std::move(cancel)) {
  setObjectName(QStringLiteral("ProgressWindow"));
  setWindowTitle(QString::fromLatin1(kProgramName));
  setModal(false);

  step_ = new QLabel(this);
  step_->setObjectName(QStringLiteral("ProgressStep"));
  step_->setMinimumWidth(300);
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  cancelButton_ = new QPushButton(QString::fromUtf8("キャンセル"), this);
  cancelButton_->setObjectName(QStringLiteral("ProgressCancel"));
  connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });
  // Work that cannot stop half way (a restore) offers no キャンセル.
  cancelButton_->setVisible(static_cast<bool>(cancel_));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(step_);
  layout->addWidget(bar_);
  layout->addLayout(buttons);
  setFixedSize(sizeHint());

  timer_ = new QTimer(this);
  timer_->setInterval(100);
  connect(timer_, &QTimer::timeout, this, &ProgressWindow::Refresh);
  timer_->start();
  Refresh();
}

void ProgressWindow::Refresh() {
  const JobProgress::Snapshot now = progress_->Read();
  if (progress_->CancelRequested()) {
    step_->setText(QString::fromUtf8("キャンセルしています…"));
    cancelButton_->setEnabled(false);
    return;
  }
  if (now.table.empty()) {
    // The office starts and opens the workbook: no rows to count yet.
    step_->setText(QString::fromUtf8("準備しています…"));
    bar_->setRange(0, 0);
    return;
  }
  const QString table = QString::fromStdString(now.table);
  if (now.done < 0) {  // a step told in words, with no rows to count
    step_->setText(table);
    bar_->setRange(0, 0);
    return;
  }
  if (now.total >= 0) {
    step_->setText(QString::fromUtf8("%1: %2 / %3 行").arg(table).arg(now.done).arg(now.total));
    bar_->setRange(0, static_cast<int>(std::max(1L, now.total)));
    bar_->setValue(static_cast<int>(std::min(now.done, now.total)));
  } else {
    step_->setText(QString::fromUtf8("%1: %2 行").arg(table).arg(now.done));
    bar_->setRange(0, 0);
  }
}

void ProgressWindow::reject() {
  if (cancel_) cancel_();
  Refresh();
}

}  // namespace pendra::app
