// "バックアップと復元": the backups the jobs keep of both databases, newest
// first, each with its time, the job that took it and its tables' rows;
// for the chosen one, what restoring it would change per table (rows now →
// rows then, added, removed and changed by key); and 復元, which asks
// first (default いいえ), keeps the current state as a backup of its own,
// puts the chosen backup back and says what it did. A window of its own,
// opened from the main window's context menu or by "Pendra_Set --backups".
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <string>

#include "MessageBox.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace pendra::app {

class BackupsWindow : public QWidget {
 public:
  // baseFolder: where the databases lie. jobRunning: true while a job of
  // this program may hold a database (restoring then is refused).
  BackupsWindow(QString baseFolder, MessageBoxFunction messageBox, std::function<bool()> jobRunning = {},
                QWidget* parent = nullptr);

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

 private:
  void ShowChanges();
  MsgBoxResult Ask(const std::string& text, MsgBoxButtons buttons);
  std::string ChosenBackup() const;

  QString baseFolder_;
  MessageBoxFunction messageBox_;
  std::function<bool()> jobRunning_;
  QTreeWidget* list_ = nullptr;
  QLabel* changesTitle_ = nullptr;
  QPlainTextEdit* changes_ = nullptr;
  QPushButton* restoreButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
};

// The job's name as the window's user knows it: "展開実行 (expand)".
QString JobLabel(const std::string& job);

}  // namespace pendra::app
