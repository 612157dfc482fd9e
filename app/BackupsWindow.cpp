#include "BackupsWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "BackupCatalog.h"
#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "core/UserInterface.h"
#include "dao/Backup.h"

namespace pendra::app {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDatabaseRole = Qt::UserRole + 1;

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

const backups::DatabaseTables* DatabaseNamed(const std::string& name) {
  for (const auto& database : backups::Databases())
    if (database.Name() == name) return &database;
  return nullptr;
}

}  // namespace

QString JobLabel(const std::string& job) {
  static const std::pair<const char*, const char*> labels[] = {
      {"expand", "展開実行"},
      {"import-csv", "CSV展開実行"},
      {"import-mdb", "Access 取り込み"},
      {"restore", "復元"},
  };
  for (const auto& [name, label] : labels)
    if (job == name) return QString::fromUtf8(label) + QStringLiteral(" (") + FromUtf8(job) + QStringLiteral(")");
  return FromUtf8(job);
}

BackupsWindow::BackupsWindow(QString baseFolder, MessageBoxFunction messageBox, std::function<bool()> jobRunning,
                             QWidget* parent)
    : QWidget(parent, Qt::Window),
      baseFolder_(std::move(baseFolder)),
      messageBox_(std::move(messageBox)),
      jobRunning_(std::move(jobRunning)) {
  setObjectName(QStringLiteral("BackupsWindow"));
  setWindowTitle(QString::fromUtf8("バックアップと復元"));
  resize(720, 520);

  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(QString::fromUtf8(
      "データベースを変更するジョブは、変更する前の状態をバックアップとして残します (新しい順)。"
      "\n選んだバックアップに戻すと何が変わるかを下に示します。"),
      this);
  intro->setWordWrap(true);
  layout->addWidget(intro);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("backupList"));
  list_->setHeaderLabels({QString::fromUtf8("日時"), QString::fromUtf8("ジョブ"), QString::fromUtf8("各テーブルの行数")});
  list_->setRootIsDecorated(true);
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  layout->addWidget(list_, 3);

  changesTitle_ = new QLabel(QString::fromUtf8("復元すると変わる内容 (いま → バックアップの時点):"), this);
  layout->addWidget(changesTitle_);
  changes_ = new QPlainTextEdit(this);
  changes_->setObjectName(QStringLiteral("restoreChanges"));
  changes_->setReadOnly(true);
  layout->addWidget(changes_, 2);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  restoreButton_ = new QPushButton(QString::fromUtf8("復元"), this);
  restoreButton_->setObjectName(QStringLiteral("restoreButton"));
  closeButton_ = new QPushButton(QString::fromUtf8("閉じる"), this);
  closeButton_->setObjectName(QStringLiteral("closeButton"));
  buttons->addWidget(restoreButton_);
  buttons->addWidget(closeButton_);
  layout->addLayout(buttons);

  connect(list_, &QTreeWidget::currentItemChanged, this, [this] { ShowChanges(); });
  connect(restoreButton_, &QPushButton::clicked, this, [this] { RestoreChosen(); });
  connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);
  Reload();
}

void BackupsWindow::Reload() {
  list_->clear();
  const std::string base = baseFolder_.toStdString();
  for (const auto& database : backups::Databases()) {
    const std::string path = UnderBaseFolder(base, database.database);
    auto* top = new QTreeWidgetItem(list_, {FromUtf8(database.Name() + ".mdb"), QString(), FromUtf8(path)});
    top->setFirstColumnSpanned(false);
    auto copies = dao::ListBackups(path);
    std::reverse(copies.begin(), copies.end());  // newest first
    for (const auto& copy : copies) {
      auto* item = new QTreeWidgetItem(
          top, {FromUtf8(copy.time), JobLabel(copy.job),
                FromUtf8(backups::RowCountsText(backups::CountRowsIn(copy.path, *database.tables)))});
      item->setData(0, kPathRole, FromUtf8(copy.path));
      item->setData(0, kDatabaseRole, FromUtf8(database.Name()));
      item->setToolTip(0, FromUtf8(copy.path));
    }
    if (copies.empty()) new QTreeWidgetItem(top, {QString::fromUtf8("(バックアップはありません)")});
    top->setExpanded(true);
  }
  // The newest backup is chosen at first, so the window opens showing what
  // undoing the last job would change.
  for (int i = 0; i < list_->topLevelItemCount() && !list_->currentItem(); ++i) {
    QTreeWidgetItem* newest = list_->topLevelItem(i)->child(0);
    if (newest && newest->data(0, kPathRole).isValid()) list_->setCurrentItem(newest);
  }
  ShowChanges();
}

std::string BackupsWindow::ChosenBackup() const {
  const QTreeWidgetItem* item = list_->currentItem();
  return item ? item->data(0, kPathRole).toString().toStdString() : std::string();
}

bool BackupsWindow::Choose(const std::string& backupPath) {
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = list_->topLevelItem(i);
    for (int j = 0; j < top->childCount(); ++j) {
      if (top->child(j)->data(0, kPathRole).toString().toStdString() == backupPath) {
        list_->setCurrentItem(top->child(j));
        return true;
      }
    }
  }
  return false;
}

void BackupsWindow::ShowChanges() {
  const std::string backup = ChosenBackup();
  restoreButton_->setEnabled(!backup.empty());
  if (backup.empty()) {
    changes_->setPlainText(QString::fromUtf8("バックアップを選んで下さい。"));
    return;
  }
  const auto* database = DatabaseNamed(list_->currentItem()->data(0, kDatabaseRole).toString().toStdString());
  QString text;
  try {
    const std::string live = UnderBaseFolder(baseFolder_.toStdString(), database->database);
    for (const auto& table : backups::RestoreChanges(live, backup, *database->tables))
      text += FromUtf8(backups::ChangeText(table.table.c_str(), table.change)) + QLatin1Char('\n');
  } catch (const PlatformError& error) {
    text = QString::fromUtf8("比べられません: ") + FromUtf8(error.Description());
  }
  changes_->setPlainText(text);
}

MsgBoxResult BackupsWindow::Ask(const std::string& text, MsgBoxButtons buttons) {
  return messageBox_(this, FromUtf8(text), buttons, QString::fromUtf8(kMessageBoxTitle));
}

void BackupsWindow::RestoreChosen() {
  const std::string backup = ChosenBackup();
  if (backup.empty()) return;
  const QTreeWidgetItem* item = list_->currentItem();
  const auto* database = DatabaseNamed(item->data(0, kDatabaseRole).toString().toStdString());
  const std::string live = UnderBaseFolder(baseFolder_.toStdString(), database->database);
  const std::string when = item->text(0).toStdString();
  const std::string changes = changes_->toPlainText().toStdString();
  // A job of this program holds the database through the same engine: it is
  // refused here, before and after the question (the job may start meanwhile).
  const auto refusedWhileAJobRuns = [this] {
    if (!jobRunning_ || !jobRunning_()) return false;
    Ask("ジョブの実行中は復元できません。ジョブが終わってから復元して下さい。\nデータベースは変更していません。",
        MsgBoxButtons::OkOnly);
    return true;
  };
  if (refusedWhileAJobRuns()) return;
  if (Ask(database->Name() + ".mdb を " + when + " のバックアップの内容に戻します。 よろしいですか？\n\n" + changes,
          MsgBoxButtons::YesNoDefaultNo) != MsgBoxResult::Yes)
    return;
  if (refusedWhileAJobRuns()) return;
  try {
    const std::string saved = dao::Restore(live, backup);
    Ask(database->Name() + ".mdb を " + when + " のバックアップの内容に戻しました。\n" + changes +
            "\n戻す前の状態もバックアップに残しました:\n" + saved,
        MsgBoxButtons::OkOnly);
  } catch (const PlatformError& error) {
    Ask("復元できません。データベースは変更していません。\nｴﾗｰ番号 " + std::to_string(error.Number()) + ":" +
            error.Description(),
        MsgBoxButtons::OkOnly);
  }
  Reload();
}

}  // namespace pendra::app
