// "バックアップと復元": the backups the jobs keep of both databases, newest
// first, each with its time, the job that took it and its tables' rows;
// for the chosen one, what restoring it would change per table (rows now →
// rows then, added, removed and changed by key); and 復元, which asks
// first (default いいえ), keeps the current state as a backup of its own,
// puts the chosen backup back and says what it did. A window of its own,
// opened from the main window's context menu or by "Pendra_Set --backups".
// A backup that cannot be put back (a copy of the other engine) is listed
// with the reason and offers no 復元. Reading the files and restoring run on
// a thread of the window's own, with the jobs' progress window, so the
// window keeps painting on large databases.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "JobProgress.h"
#include "JobThread.h"
#include "MessageBox.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace pendra::app {

class ProgressWindow;

class BackupsWindow : public QWidget {
 public:
  // baseFolder: where the databases lie. jobRunning: true while a job of
  // this program may hold a database (restoring then is refused). With a
  // parent (the main window) it is that window's dialog and stays above
  // it; alone ("--backups") it keeps to the topmost band, where the main
  // window of a running instance lies.
  BackupsWindow(QString baseFolder, MessageBoxFunction messageBox, std::function<bool()> jobRunning = {},
                QWidget* parent = nullptr);
  ~BackupsWindow() override;

  QTreeWidget* List() const { return list_; }
  QPlainTextEdit* Changes() const { return changes_; }
  QPushButton* RestoreButton() const { return restoreButton_; }
  QPushButton* CloseButton() const { return closeButton_; }

  // Reads the backups anew (after a restore, or when a job has taken one).
  void Reload();
  // Chooses the backup at that path in the list; false when it is not listed.
  bool Choose(const std::string& backupPath);
  // 復元 for the chosen backup, as the button does.
  void RestoreChosen();

  // True while the window reads or restores on its thread (the main
  // window starts no job meanwhile).
  bool Working() const { return working_; }
  // The progress window while the work shows it (the tests look at it).
  ProgressWindow* Progress() const { return progressWindow_; }

 private:
  void ShowChanges();
  MsgBoxResult Ask(const std::string& text, MsgBoxButtons buttons);
  std::string ChosenBackup() const;
  // Runs work on the window's thread while this one goes on painting; the
  // progress window shows after half a second, its キャンセル (when
  // cancellable) asks the work to stop at its next step. Rethrows here what
  // the work threw.
  void RunWork(const std::function<void(JobProgress&)>& work, bool cancellable);

  QString baseFolder_;
  MessageBoxFunction messageBox_;
  std::function<bool()> jobRunning_;
  bool working_ = false;
  ProgressWindow* progressWindow_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QLabel* changesTitle_ = nullptr;
  QPlainTextEdit* changes_ = nullptr;
  QPushButton* restoreButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  // Last: it ends (after the work it runs) before the rest goes.
  JobThread worker_{nullptr};
};

// The job's name as the window's user knows it: "展開実行 (expand)".
QString JobLabel(const std::string& job);

}  // namespace pendra::app
