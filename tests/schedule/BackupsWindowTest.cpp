// The backups window as a person uses it, on the offscreen platform: opened
// from the main window's context menu over a base folder in which two real
// expansions took their backups; it lists them newest first with their
// tables' rows, shows what restoring the older one would change, restores
// it only after はい (default いいえ), and refuses, changing nothing, a file
// that is not a backup and a database that a job holds.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "BackupsWindow.h"
#include "Form1.h"
#include "Messages.h"
#include "ScheduleJobs.h"
#include "ScheduleTestSupport.h"
#include "ProgressWindow.h"
#include "dao/Backup.h"
#include "dao/Dao.h"
#include "dao/Transaction.h"

namespace pendra::schedule::test {
namespace {

namespace fs = std::filesystem;

class BackupsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form.SetBaseFolder(QString::fromStdString(base.Path()));
    form.SetQuitFunction([] {});
    form.SetMessageBox([this](QWidget*, const QString& prompt, MsgBoxButtons buttons, const QString& title) {
      shown.push_back({prompt.toStdString(), buttons, title.toStdString(), false});
      if (onMessage) onMessage(prompt.toStdString());
      if (buttons == MsgBoxButtons::OkOnly) return MsgBoxResult::Ok;
      EXPECT_FALSE(answers.empty()) << "unexpected question: " << prompt.toStdString();
      if (answers.empty()) return MsgBoxResult::No;
      const MsgBoxResult answer = answers.front();
      answers.pop_front();
      return answer;
    });
  }

  std::vector<std::string> Tables() {
    auto rows = Rows(base.ScheduleDb(), "SELECT GPno, GP名称, 有効 FROM GroupMaster ORDER BY GPno, rowid");
    for (auto& row : Rows(base.ScheduleDb(), "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY タグ名, rowid"))
      rows.push_back(row);
    return rows;
  }

  // An expansion of workbook as the window runs it, answered Yes.
  void Expand(const std::string& workbook) {
    ScriptedUi ui(base.Path());
    ui.pathBox = workbook;
    ui.answers = {MsgBoxResult::Yes};
    ASSERT_TRUE(Command3_Click(ui).IsCompleted());
  }

  // The window as the person opens it: right click, "バックアップと復元...".
  app::BackupsWindow& Open() {
    const auto actions = form.actions();
    EXPECT_EQ(form.contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0]->text(), QString::fromUtf8("バックアップと復元..."));
    actions[0]->trigger();
    app::BackupsWindow* window = form.Backups();
    EXPECT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("バックアップと復元"));
    return *window;
  }

  static QTreeWidgetItem* Schedule(app::BackupsWindow& window) { return window.List()->topLevelItem(0); }

  BaseFolder base;
  ProbeScope probe;
  app::Form1 form;
  std::vector<ShownBox> shown;
  std::deque<MsgBoxResult> answers;
  std::function<void(const std::string&)> onMessage;  // runs as a box shows
};

TEST_F(BackupsWindowTest, ListsTwoExpansionsShowsTheChangesAndRestoresOnlyAfterYes) {
  const std::string workbook = base.File("Pendra情報.xls");
  {
    ScriptedUi ui(base.Path());
    ASSERT_TRUE(subDbToXls(ui, workbook).IsCompleted());
  }
  const auto demo = Tables();
  const long groups = std::stol(Rows(base.ScheduleDb(), "SELECT count(*) FROM GroupMaster")[0]);
  const long kiki = std::stol(Rows(base.ScheduleDb(), "SELECT count(*) FROM KikiMaster")[0]);
  ASSERT_GE(kiki, 3);
  const std::string firstTag = Rows(base.ScheduleDb(), "SELECT タグ名 FROM KikiMaster ORDER BY タグ名 LIMIT 1")[0];
  const std::string lastTag = Rows(base.ScheduleDb(), "SELECT タグ名 FROM KikiMaster ORDER BY タグ名 DESC LIMIT 1")[0];

  // Before the first expansion: one device less and one renamed.
  Exec(base.ScheduleDb(), "DELETE FROM KikiMaster WHERE タグ名 = '" + lastTag + "';"
                          " UPDATE KikiMaster SET 機器名称 = '改名' WHERE タグ名 = '" + firstTag + "'");
  const auto older = Tables();
  Expand(workbook);
  // Before the second: a group renamed.
  Exec(base.ScheduleDb(), "UPDATE GroupMaster SET GP名称 = '別名' WHERE rowid = 1");
  Expand(workbook);
  ASSERT_EQ(Tables(), demo);

  app::BackupsWindow& window = Open();
  QTreeWidgetItem* schedule = Schedule(window);
  ASSERT_EQ(schedule->text(0).toStdString(), "Orvik.mdb");
  ASSERT_EQ(schedule->childCount(), 2);
  const auto copies = dao::ListBackups(base.ScheduleDb());  // oldest first
  ASSERT_EQ(copies.size(), 2u);
  // Newest first, with the job and the rows of each table then.
  EXPECT_EQ(schedule->child(0)->text(0).toStdString(), copies[1].time);
  EXPECT_EQ(schedule->child(1)->text(0).toStdString(), copies[0].time);
  EXPECT_EQ(schedule->child(1)->text(1), QString::fromUtf8("展開実行 (expand)"));
  EXPECT_EQ(schedule->child(1)->text(2).toStdString(),
            "GroupMaster " + std::to_string(groups) + ", KikiMaster " + std::to_string(kiki - 1));
  EXPECT_EQ(schedule->child(0)->text(2).toStdString(),
            "GroupMaster " + std::to_string(groups) + ", KikiMaster " + std::to_string(kiki));
  EXPECT_EQ(window.List()->topLevelItem(1)->text(0).toStdString(), "Velmora.mdb");

  // The older one: rows now → rows then, by key.
  ASSERT_TRUE(window.Choose(copies[0].path));
  EXPECT_TRUE(window.RestoreButton()->isEnabled());
  const std::string changes = "GroupMaster: " + std::to_string(groups) + " 行 → " + std::to_string(groups) +
                              " 行 (追加 0、削除 0、変更 0)\nKikiMaster: " + std::to_string(kiki) + " 行 → " +
                              std::to_string(kiki - 1) + " 行 (追加 0、削除 1、変更 1: " + firstTag + ", " + lastTag +
                              ")\n";
  EXPECT_EQ(window.Changes()->toPlainText().toStdString(), changes);

  // いいえ: nothing changes, no backup is taken.
  answers = {MsgBoxResult::No};
  QTest::mouseClick(window.RestoreButton(), Qt::LeftButton);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].buttons, MsgBoxButtons::YesNoDefaultNo);
  EXPECT_EQ(shown[0].title, "確認");
  EXPECT_EQ(shown[0].prompt, "Orvik.mdb を " + copies[0].time + " のバックアップの内容に戻します。 よろしいですか？\n\n" + changes);
  EXPECT_EQ(Tables(), demo);
  EXPECT_EQ(dao::ListBackups(base.ScheduleDb()).size(), 2u);

  // はい: the older state is back, and the state it replaced is a backup.
  shown.clear();
  answers = {MsgBoxResult::Yes};
  QTest::mouseClick(window.RestoreButton(), Qt::LeftButton);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].buttons, MsgBoxButtons::OkOnly);
  EXPECT_EQ(shown[1].prompt.rfind("Orvik.mdb を " + copies[0].time + " のバックアップの内容に戻しました。\n" + changes, 0), 0u)
      << shown[1].prompt;
  EXPECT_EQ(Tables(), older);
  const auto after = dao::ListBackups(base.ScheduleDb());
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after.back().job, "restore");
  EXPECT_NE(shown[1].prompt.find(after.back().path), std::string::npos);
  // The list shows it, newest first.
  ASSERT_EQ(Schedule(window)->childCount(), 3);
  EXPECT_EQ(Schedule(window)->child(0)->text(1), QString::fromUtf8("復元 (restore)"));
}

TEST_F(BackupsWindowTest, RefusalsSayWhyAndChangeNothing) {
  // A file named like a backup that is no database.
  const fs::path folder = fs::path(base.ScheduleDb()).parent_path() / "backup";
  fs::create_directories(folder);
  const std::string fake = (folder / "Orvik-20260101-000000-000-expand.mdb").string();
  std::ofstream(fake) << "no database";
  const auto before = Tables();

  // Told in the list, and no question is asked for it.
  app::BackupsWindow& window = Open();
  ASSERT_TRUE(window.Choose(fake));
  EXPECT_EQ(Schedule(window)->child(0)->text(2).toStdString(),
            "復元できません: データベースのファイルではありません (GroupMaster ?, KikiMaster ?)");
  EXPECT_FALSE(window.RestoreButton()->isEnabled());
  window.RestoreChosen();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].prompt, "このバックアップは復元できません: データベースのファイルではありません。\nデータベースは変更していません。");
  EXPECT_EQ(Tables(), before);

  // A real backup while another program's job holds the database.
  {
    ScriptedUi ui(base.Path());
    ui.pathBox = base.File("Pendra情報.xls");
    ASSERT_TRUE(subDbToXls(ui, ui.pathBox).IsCompleted());
    Exec(base.ScheduleDb(), "UPDATE GroupMaster SET GP名称 = '前' WHERE rowid = 1");  // a change to keep
    ui.boxes.clear();
    ui.answers = {MsgBoxResult::Yes};
    ASSERT_TRUE(Command3_Click(ui).IsCompleted());
  }
  const auto copies = dao::ListBackups(base.ScheduleDb());
  ASSERT_EQ(copies.size(), 2u);
  window.Reload();
  ASSERT_TRUE(window.Choose(copies.back().path));
  const auto held = Tables();
  sqlite3* job = nullptr;
  ASSERT_EQ(sqlite3_open(base.ScheduleDb().c_str(), &job), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(job, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  shown.clear();
  answers = {MsgBoxResult::Yes};
  window.RestoreChosen();
  sqlite3_exec(job, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(job);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].prompt.rfind("復元できません。データベースは変更していません。\nｴﾗｰ番号 3260:", 0), 0u) << shown[1].prompt;
  EXPECT_EQ(Tables(), held);

  // A job of this window at work (its last message is open): refused at
  // once, without a question.
  form.cdlDb.SetDialog([this](QWidget*, const app::OpenDialogRequest&) -> std::optional<QString> {
    return QString::fromStdString(base.File("もう一度.xls"));
  });
  std::vector<ShownBox> duringJob;
  onMessage = [&](const std::string& prompt) {
    if (prompt.rfind(msg::kOutputDone, 0) != 0 || !duringJob.empty()) return;
    const size_t before = shown.size();
    window.RestoreChosen();
    duringJob.assign(shown.begin() + static_cast<long>(before), shown.end());
  };
  shown.clear();
  form.Command4->click();
  ASSERT_EQ(duringJob.size(), 1u);
  EXPECT_EQ(duringJob[0].prompt,
            "ジョブの実行中は復元できません。ジョブが終わってから復元して下さい。\nデータベースは変更していません。");
  EXPECT_EQ(duringJob[0].buttons, MsgBoxButtons::OkOnly);
  EXPECT_EQ(Tables(), held);
  EXPECT_EQ(dao::ListBackups(base.ScheduleDb()).size(), 2u);
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

const fs::path kAccessData = PENDRA_ACCESS_TESTDATA;

// A copy of the database file as a job's backup of it, taken at the given
// time of 2026-01-01.
std::string PlaceBackup(const std::string& db, const std::string& from, const char* hhmmss) {
  const fs::path folder = dao::BackupFolder(db);
  fs::create_directories(folder);
  const std::string copy = (folder / (fs::path(db).stem().string() + "-20260101-" + hhmmss + "-000-expand.mdb")).string();
  fs::copy_file(from, copy, fs::copy_options::overwrite_existing);
  return copy;
}

// A backup of the other engine than the database's now: listed with why it
// cannot go back, no preview, no 復元, no question; said once that nothing
// changed.
TEST_F(BackupsWindowTest, ABackupOfTheOtherEngineIsListedAsNotRestorable) {
  const std::string sqliteCopy = PlaceBackup(base.ScheduleDb(), base.ScheduleDb(), "000000");
  fs::copy_file(kAccessData / "ja_V2016.accdb", base.ScheduleDb(), fs::copy_options::overwrite_existing);
  const std::string accessCopy = PlaceBackup(base.ScheduleDb(), base.ScheduleDb(), "000001");
  const std::string access = std::string(std::istreambuf_iterator<char>(std::ifstream(base.ScheduleDb(), std::ios::binary).rdbuf()), {});

  app::BackupsWindow& window = Open();
  ASSERT_EQ(Schedule(window)->childCount(), 2);
  EXPECT_EQ(Schedule(window)->child(1)->text(2).toStdString().rfind(
                "復元できません: データベースが Access ファイルになる前の、このプログラムの形式 (SQLite) のバックアップです", 0),
            0u)
      << Schedule(window)->child(1)->text(2).toStdString();
  EXPECT_EQ(Schedule(window)->child(0)->text(2).toStdString().rfind("復元できません", 0), std::string::npos);
  ASSERT_TRUE(window.Choose(sqliteCopy));
  EXPECT_FALSE(window.RestoreButton()->isEnabled());
  EXPECT_EQ(window.Changes()->toPlainText().toStdString().rfind("このバックアップは復元できません: ", 0), 0u);
  window.RestoreChosen();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].buttons, MsgBoxButtons::OkOnly);
  EXPECT_EQ(Occurrences(shown[0].prompt, "データベースは変更していません"), 1u) << shown[0].prompt;
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(base.ScheduleDb(), std::ios::binary).rdbuf()), {}), access);

  // The Access copy of the Access database may go back.
  ASSERT_TRUE(window.Choose(accessCopy));
  EXPECT_TRUE(window.RestoreButton()->isEnabled());
  // A refusal of the engine's own says once that nothing changed.
  std::ofstream(accessCopy, std::ios::binary | std::ios::in | std::ios::out).write("Damaged", 7);
  shown.clear();
  answers = {MsgBoxResult::Yes};
  window.RestoreChosen();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(Occurrences(shown[1].prompt, "データベースは変更していません"), 1u) << shown[1].prompt;
}

// Keys of an Access database read as on our own database: "1, 2", not
// "Long 1, Long 2".
TEST_F(BackupsWindowTest, KeysOfAnAccessDatabaseReadAsOnSqlite) {
  fs::copy_file(kAccessData / "ja_V2016.accdb", base.ScheduleDb(), fs::copy_options::overwrite_existing);
  const std::string copy = PlaceBackup(base.ScheduleDb(), base.ScheduleDb(), "000000");
  {
    auto& workspace = dao::DBEngine::Instance().Workspaces(0);
    auto db = workspace.OpenDatabase(base.ScheduleDb());
    dao::Transaction change(workspace);
    db->Execute("UPDATE GroupMaster SET GP名称 = GP名称 || '変'");
    change.Commit();
    db->Close();
  }
  app::BackupsWindow& window = Open();
  ASSERT_TRUE(window.Choose(copy));
  const std::string changes = window.Changes()->toPlainText().toStdString();
  EXPECT_TRUE(std::regex_search(changes, std::regex("GroupMaster: \\d+ 行 → \\d+ 行 \\(追加 0、削除 0、変更 [1-9]\\d*: \\d+(, \\d+)*( …)?\\)")))
      << changes;
  EXPECT_EQ(changes.find("Long"), std::string::npos) << changes;
}

// Reading both files and restoring run off the window's thread: while a
// job of another program holds the database, the window goes on handling
// its events and shows its progress; the person's timer lets the database
// go, and the work completes instead of failing on the lock.
TEST_F(BackupsWindowTest, ReadingAndRestoringLeaveTheWindowResponsive) {
  const std::string copy = PlaceBackup(base.ScheduleDb(), base.ScheduleDb(), "000000");
  Exec(base.ScheduleDb(), "UPDATE GroupMaster SET GP名称 = '変更'");
  const auto changed = Tables();
  app::BackupsWindow& window = Open();
  ASSERT_TRUE(window.Choose(copy));
  const std::string changes = window.Changes()->toPlainText().toStdString();
  ASSERT_EQ(changes.rfind("GroupMaster: ", 0), 0u) << changes;

  sqlite3* job = nullptr;
  ASSERT_EQ(sqlite3_open(base.ScheduleDb().c_str(), &job), SQLITE_OK);
  const auto hold = [&] { ASSERT_EQ(sqlite3_exec(job, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK); };
  bool progressShown = false;
  const auto letGoLater = [&] {
    progressShown = false;
    // Fires only while the window's thread handles events.
    QTimer::singleShot(1000, [&] {
      for (QWidget* shownNow : QApplication::topLevelWidgets())
        if (shownNow->objectName() == QStringLiteral("ProgressWindow") && shownNow->isVisible()) progressShown = true;
      sqlite3_exec(job, "ROLLBACK", nullptr, nullptr, nullptr);
    });
  };
  const struct {
    const char* what;
    std::function<void()> act;
    std::function<void()> check;
  } cases[] = {
      {"the changes read", [&] { window.Reload(); ASSERT_TRUE(window.Choose(copy)); },
       [&] { EXPECT_EQ(window.Changes()->toPlainText().toStdString(), changes); }},
      {"the restore", [&] { answers = {MsgBoxResult::Yes}; window.RestoreChosen(); },
       [&] {
         ASSERT_FALSE(shown.empty());
         EXPECT_NE(shown.back().prompt.find("のバックアップの内容に戻しました。"), std::string::npos) << shown.back().prompt;
         EXPECT_NE(Tables(), changed);
       }},
  };
  for (const auto& c : cases) {
    hold();
    letGoLater();
    c.act();
    EXPECT_TRUE(progressShown) << c.what;
    c.check();
  }
  sqlite3_close(job);
}

}  // namespace
}  // namespace pendra::schedule::test
