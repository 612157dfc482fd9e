#include "BackupsWindow.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <vector>

#include "BackupCatalog.h"
#include "ProgressWindow.h"
#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "core/UserInterface.h"
#include "dao/Backup.h"

namespace pendra::app {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDatabaseRole = Qt::UserRole + 1;
constexpr int kNotRestorableRole = Qt::UserRole + 2;  // why the backup cannot be put back

constexpr const char* kUnchanged = "データベースは変更していません。";

// Thrown on the window's thread of work when the person asked it to stop.
struct WorkCancelled {};

// One backup as listed: read on the thread of work, shown on the window's.
struct ListedBackup {
  dao::BackupFile file;
  std::string rows;
  std::string notRestorable;
};

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
    // A dialog of the main window is kept above it by the window manager,
    // like the message boxes of both (they are dialogs of their windows).
    : QWidget(parent, parent ? Qt::Dialog | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint
                             : Qt::Window | Qt::WindowStaysOnTopHint),
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

BackupsWindow::~BackupsWindow() = default;

void BackupsWindow::RunWork(const std::function<void(JobProgress&)>& work, bool cancellable) {
  auto progress = std::make_shared<JobProgress>();
  std::exception_ptr failure;
  bool done = false;
  working_ = true;
  list_->setEnabled(false);
  restoreButton_->setEnabled(false);
  worker_.Start(
      [&] {
        try {
          work(*progress);
        } catch (...) {
          failure = std::current_exception();
        }
      },
      [this, &done] { QMetaObject::invokeMethod(this, [&done] { done = true; }, Qt::QueuedConnection); });
  QTimer delay;
  delay.setSingleShot(true);
  connect(&delay, &QTimer::timeout, this, [&] {
    progressWindow_ = new ProgressWindow(this, progress, cancellable ? std::function<void()>([progress] {
      progress->RequestCancel();
    }) : std::function<void()>());
    progressWindow_->show();
  });
  delay.start(500);
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  delay.stop();
  delete progressWindow_;
  progressWindow_ = nullptr;
  list_->setEnabled(true);
  working_ = false;
  if (failure) std::rethrow_exception(failure);
}

void BackupsWindow::Reload() {
  if (working_) return;  // the list is being read or a restore runs: it is read again after
  const std::string base = baseFolder_.toStdString();
  std::vector<std::vector<ListedBackup>> listed(backups::Databases().size());
  try {
    RunWork(
        [&](JobProgress& progress) {
          for (size_t d = 0; d < backups::Databases().size(); ++d) {
            const auto& database = backups::Databases()[d];
            const std::string path = UnderBaseFolder(base, database.database);
            auto copies = dao::ListBackups(path);
            std::reverse(copies.begin(), copies.end());  // newest first
            for (size_t i = 0; i < copies.size(); ++i) {
              if (progress.CancelRequested()) throw WorkCancelled{};
              progress.Report(database.Name() + ".mdb のバックアップを読んでいます (" + std::to_string(i + 1) + " / " +
                                  std::to_string(copies.size()) + ")",
                              -1, -1);
              ListedBackup copy{copies[i], {}, dao::WhyNotRestorable(path, copies[i].path)};
              copy.rows = backups::RowCountsText(backups::CountRowsIn(copies[i].path, *database.tables));
              listed[d].push_back(std::move(copy));
            }
          }
        },
        true);
  } catch (const WorkCancelled&) {
    // What was read so far is listed; the rest shows as not read.
  }
  const QSignalBlocker quiet(list_);  // the changes are read once, below
  list_->clear();
  for (size_t d = 0; d < backups::Databases().size(); ++d) {
    const auto& database = backups::Databases()[d];
    const std::string path = UnderBaseFolder(base, database.database);
    auto* top = new QTreeWidgetItem(list_, {FromUtf8(database.Name() + ".mdb"), QString(), FromUtf8(path)});
    top->setFirstColumnSpanned(false);
    for (const auto& copy : listed[d]) {
      const std::string rows =
          copy.notRestorable.empty() ? copy.rows : "復元できません: " + copy.notRestorable + " (" + copy.rows + ")";
      auto* item = new QTreeWidgetItem(top, {FromUtf8(copy.file.time), JobLabel(copy.file.job), FromUtf8(rows)});
      item->setData(0, kPathRole, FromUtf8(copy.file.path));
      item->setData(0, kDatabaseRole, FromUtf8(database.Name()));
      item->setData(0, kNotRestorableRole, FromUtf8(copy.notRestorable));
      item->setToolTip(0, FromUtf8(copy.file.path));
      if (!copy.notRestorable.empty()) {
        for (int column = 0; column < 3; ++column) item->setForeground(column, palette().brush(QPalette::Disabled, QPalette::Text));
        item->setToolTip(2, FromUtf8("復元できません: " + copy.notRestorable));
      }
    }
    if (dao::ListBackups(path).empty()) new QTreeWidgetItem(top, {QString::fromUtf8("(バックアップはありません)")});
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
  if (working_) return;
  const std::string backup = ChosenBackup();
  restoreButton_->setEnabled(false);
  if (backup.empty()) {
    changes_->setPlainText(QString::fromUtf8("バックアップを選んで下さい。"));
    return;
  }
  const QString notRestorable = list_->currentItem()->data(0, kNotRestorableRole).toString();
  if (!notRestorable.isEmpty()) {
    changes_->setPlainText(QString::fromUtf8("このバックアップは復元できません: ") + notRestorable);
    return;
  }
  const auto* database = DatabaseNamed(list_->currentItem()->data(0, kDatabaseRole).toString().toStdString());
  const std::string live = UnderBaseFolder(baseFolder_.toStdString(), database->database);
  std::string text;
  bool compared = false;
  try {
    RunWork(
        [&](JobProgress& progress) {
          for (const auto& table : *database->tables) {
            if (progress.CancelRequested()) throw WorkCancelled{};
            progress.Report(std::string(table.table) + " を比べています", -1, -1);
            const auto change = backups::Compare(backups::ReadRows(live, table), backups::ReadRows(backup, table));
            text += backups::ChangeText(table.table, change) + "\n";
          }
        },
        true);
    compared = true;
  } catch (const WorkCancelled&) {
    text = "比べるのを中止しました。バックアップを選び直すと、もう一度比べます。";
  } catch (const PlatformError& error) {
    text = "比べられません: " + error.Description();
  }
  changes_->setPlainText(FromUtf8(text));
  // Restoring asks with what it would change: only once that is known.
  restoreButton_->setEnabled(compared);
}

MsgBoxResult BackupsWindow::Ask(const std::string& text, MsgBoxButtons buttons) {
  return messageBox_(this, FromUtf8(text), buttons, QString::fromUtf8(kMessageBoxTitle));
}

void BackupsWindow::RestoreChosen() {
  if (working_) return;
  const std::string backup = ChosenBackup();
  if (backup.empty()) return;
  const QTreeWidgetItem* item = list_->currentItem();
  const auto* database = DatabaseNamed(item->data(0, kDatabaseRole).toString().toStdString());
  const std::string live = UnderBaseFolder(baseFolder_.toStdString(), database->database);
  const std::string when = item->text(0).toStdString();
  const std::string changes = changes_->toPlainText().toStdString();
  const std::string notRestorable = item->data(0, kNotRestorableRole).toString().toStdString();
  if (!notRestorable.empty()) {
    Ask("このバックアップは復元できません: " + notRestorable + "。\n" + kUnchanged, MsgBoxButtons::OkOnly);
    return;
  }
  // A job of this program holds the database through the same engine: it is
  // refused here, before and after the question (the job may start meanwhile).
  const auto refusedWhileAJobRuns = [this] {
    if (!jobRunning_ || !jobRunning_()) return false;
    Ask(std::string("ジョブの実行中は復元できません。ジョブが終わってから復元して下さい。\n") + kUnchanged,
        MsgBoxButtons::OkOnly);
    return true;
  };
  if (refusedWhileAJobRuns()) return;
  if (Ask(database->Name() + ".mdb を " + when + " のバックアップの内容に戻します。 よろしいですか？\n\n" + changes,
          MsgBoxButtons::YesNoDefaultNo) != MsgBoxResult::Yes)
    return;
  if (refusedWhileAJobRuns()) return;
  try {
    std::string saved;
    RunWork(
        [&](JobProgress& progress) {
          progress.Report(database->Name() + ".mdb を戻しています", -1, -1);
          saved = dao::Restore(live, backup);
        },
        false);
    Ask(database->Name() + ".mdb を " + when + " のバックアップの内容に戻しました。\n" + changes +
            "\n戻す前の状態もバックアップに残しました:\n" + saved,
        MsgBoxButtons::OkOnly);
  } catch (const PlatformError& error) {
    // The refusals of the engine say themselves that nothing changed.
    const std::string& why = error.Description();
    Ask(std::string("復元できません。") + (why.find(kUnchanged) == std::string::npos ? kUnchanged : "") +
            "\nｴﾗｰ番号 " + std::to_string(error.Number()) + ":" + why,
        MsgBoxButtons::OkOnly);
  }
  Reload();
}

}  // namespace pendra::app
