// Both schedule handlers as a person starts them: the real window on the
// offscreen platform, the real jobs, databases and LibreOffice; only the
// person's answers to the dialog and the message boxes are scripted.
#include <gtest/gtest.h>

#include <map>

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>

#include "Form1.h"
#include "Messages.h"
#include "ProgressWindow.h"
#include "core/PlatformError.h"
#include "core/ProcessFile.h"
#include "excel/Excel.h"
#include "ScheduleJobs.h"
#include "ScheduleTestSupport.h"
#include "WindowPos.h"
#include "dao/Backup.h"

namespace pendra::schedule::test {
namespace {

namespace fs = std::filesystem;

// The messages' first lines: a completion message's second line counts rows.
std::vector<std::string> FirstLines(const std::vector<std::string>& prompts) {
  std::vector<std::string> lines;
  for (const auto& prompt : prompts) lines.push_back(prompt.substr(0, prompt.find('\n')));
  return lines;
}

class ThroughTheWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    form.SetBaseFolder(QString::fromStdString(base.Path()));
    form.SetQuitFunction([this] { ++quits; });
    form.SetMessageBox([this](QWidget*, const QString& prompt, MsgBoxButtons buttons, const QString&) {
      prompts.push_back(prompt.toStdString());
      buttonsShown.push_back(buttons);
      if (onMessage) onMessage(prompt.toStdString());
      if (buttons == MsgBoxButtons::OkOnly) return MsgBoxResult::Ok;
      if (buttons == MsgBoxButtons::YesNoDefaultNo && !questionAnswers.empty()) {
        const MsgBoxResult answer = questionAnswers.front();
        questionAnswers.pop_front();
        return answer;
      }
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
  std::vector<MsgBoxButtons> buttonsShown;
  // Answers to the questions whose default is No (none left: Yes).
  std::deque<MsgBoxResult> questionAnswers;
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

  EXPECT_EQ(FirstLines(prompts), std::vector<std::string>{msg::kOutputDone});
  EXPECT_EQ(initDirs, std::vector<std::string>{base.Path()});
  EXPECT_TRUE(fs::exists(workbook));
  EXPECT_TRUE(app::IsTopmost(&form));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(quits, 0);

  const std::string groups = Rows(base.ScheduleDb(), "SELECT count(*) FROM GroupMaster")[0];
  const std::string kiki = Rows(base.ScheduleDb(), "SELECT count(*) FROM KikiMaster")[0];
  // The second line counts what was written.
  EXPECT_EQ(prompts[0], std::string(msg::kOutputDone) + "\nGroupMaster: " + groups + " 行、KikiMaster: " + kiki +
                            " 行を書き出しました。");

  const auto before = Tables();
  Exec(base.ScheduleDb(), "DELETE FROM GroupMaster; DELETE FROM KikiMaster;");
  prompts.clear();
  form.txtBackDbPath->setText(QString::fromStdString(workbook));
  form.Command3->click();

  EXPECT_EQ(FirstLines(prompts), (std::vector<std::string>{msg::kExpansionConfirm, msg::kExpansionDone}));
  EXPECT_EQ(prompts.back(), std::string(msg::kExpansionDone) + "\nGroupMaster: 0 行 → " + groups +
                                " 行、KikiMaster: 0 行 → " + kiki +
                                " 行 (既定値にしたセル 0、表の終わりより下で保存しなかった行 0)");
  EXPECT_EQ(Tables(), before);
  EXPECT_FALSE(app::IsTopmost(&form));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(quits, 1);

  // The expansion keeps the tables as they were; the same workbook once
  // more changes nothing and keeps no second copy.
  ASSERT_EQ(dao::ListBackups(base.ScheduleDb()).size(), 1u);
  app::Form1 again;
  again.SetBaseFolder(QString::fromStdString(base.Path()));
  again.SetQuitFunction([] {});
  again.SetMessageBox([](QWidget*, const QString&, MsgBoxButtons, const QString&) { return MsgBoxResult::Yes; });
  again.txtBackDbPath->setText(QString::fromStdString(workbook));
  again.Command3->click();
  EXPECT_EQ(Tables(), before);
  EXPECT_EQ(dao::ListBackups(base.ScheduleDb()).size(), 1u);
}

// A workbook whose sheets lose rows by the rules: the expansion asks before
// it commits (default No); No leaves both tables as they were and ends the
// program like every confirmed expansion; Yes stores what the rules say.
struct LossCase {
  const char* what;
  std::vector<SheetRows> sheets;
  std::string question;  // the question asked ("%d" for the rows the table holds now)
  MsgBoxResult answer;
  std::vector<std::string> stored;  // Tables() after Yes
  std::string counts;               // the completion message's second line ("%g", "%k": rows before)
};

class ExpansionQuestions : public ThroughTheWindow, public ::testing::WithParamInterface<MsgBoxResult> {};

std::string Filled(std::string text, const std::string& groups, const std::string& kiki) {
  for (auto [mark, value] : {std::pair<const char*, const std::string*>{"%g", &groups}, {"%k", &kiki}})
    for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 2, *value);
  return text;
}

TEST_P(ExpansionQuestions, AskBeforeRowsAreLostAndOnlyYesStoresThem) {
  const Variant none;
  const std::vector<LossCase> cases = {
      {"a blank row in the middle",
       {{"GroupMaster", {{1.0, "一", 0.0}, {2.0, "二", "はい"}}},
        {"KikiMaster", {{"K-1", "一", 1.0, 0.0}, {none, none, none, none}, {"K-3", "三", 1.0, 0.0}, {"K-4", "四", "開", 0.0}}}},
       "KikiMaster の 3 行目で表が終わります。4 行目以降の 2 行は保存されません。続けますか？",
       GetParam(),
       {"1|一|0", "2|二|-1", "K-1|一|1|0"},
       "GroupMaster: %g 行 → 2 行、KikiMaster: %k 行 → 1 行 (既定値にしたセル 1、表の終わりより下で保存しなかった行 2)"},
      {"an empty sheet",
       {{"GroupMaster", {}}, {"KikiMaster", {{"K-1", "一", 1.0, 0.0}}}},
       "GroupMaster のシートの 2 行目 (1 列目) が空のため、GroupMaster は空になります (いまの %g 行は削除されます)。続けますか？",
       GetParam(),
       {"K-1|一|1|0"},
       "GroupMaster: %g 行 → 0 行、KikiMaster: %k 行 → 1 行 (既定値にしたセル 0、表の終わりより下で保存しなかった行 0)"},
  };
  for (const LossCase& c : cases) {
    app::Form1 window;  // a confirmed expansion ends its window: one per case
    window.SetBaseFolder(QString::fromStdString(base.Path()));
    window.SetQuitFunction([this] { ++quits; });
    std::vector<std::pair<std::string, MsgBoxButtons>> shown;
    window.SetMessageBox([&](QWidget*, const QString& prompt, MsgBoxButtons buttons, const QString&) {
      shown.emplace_back(prompt.toStdString(), buttons);
      if (buttons == MsgBoxButtons::YesNoDefaultNo) return c.answer;
      return buttons == MsgBoxButtons::OkOnly ? MsgBoxResult::Ok : MsgBoxResult::Yes;
    });
    const std::string workbook = base.File(std::string(c.what) + ".xls");
    WriteWorkbook(base.Template(), workbook, c.sheets);
    const std::string groups = Rows(base.ScheduleDb(), "SELECT count(*) FROM GroupMaster")[0];
    const std::string kiki = Rows(base.ScheduleDb(), "SELECT count(*) FROM KikiMaster")[0];
    const auto before = Tables();
    window.txtBackDbPath->setText(QString::fromStdString(workbook));
    window.Command3->click();

    ASSERT_GE(shown.size(), 2u) << c.what;
    EXPECT_EQ(shown[0].first, msg::kExpansionConfirm);
    EXPECT_EQ(shown[1].first, Filled(c.question, groups, kiki)) << c.what;
    EXPECT_EQ(shown[1].second, MsgBoxButtons::YesNoDefaultNo) << c.what;
    if (c.answer == MsgBoxResult::No) {
      EXPECT_EQ(shown.size(), 2u) << c.what;
      EXPECT_EQ(Tables(), before) << c.what;
      // The copy taken under the job's lock went with the answer, and the
      // folder made for it too.
      EXPECT_FALSE(fs::exists(dao::BackupFolder(base.ScheduleDb()))) << c.what;
    } else {
      ASSERT_EQ(shown.size(), 3u) << c.what;
      EXPECT_EQ(shown[2].first, std::string(msg::kExpansionDone) + "\n" + Filled(c.counts, groups, kiki)) << c.what;
      EXPECT_EQ(Tables(), c.stored) << c.what;
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << c.what;
    EXPECT_TRUE(OurOfficeProcesses().empty()) << c.what;
    Exec(base.ScheduleDb(), "DELETE FROM GroupMaster; DELETE FROM KikiMaster;"
                            " INSERT INTO GroupMaster (GPno, GP名称, 有効) VALUES (7, '前', -1), (8, '前', 0);"
                            " INSERT INTO KikiMaster (タグ名, 機器名称) VALUES ('Z-1', '前');");
  }
  EXPECT_EQ(quits, 2);  // the program ends after each confirmed expansion, No included
}

INSTANTIATE_TEST_SUITE_P(Answer, ExpansionQuestions, ::testing::Values(MsgBoxResult::No, MsgBoxResult::Yes),
                         [](const auto& info) { return info.param == MsgBoxResult::No ? "No" : "Yes"; });

TEST_F(ThroughTheWindow, EndingDuringTheExpansionLeavesTheTablesAsTheyWere) {
  const std::string workbook = base.File("Pendra情報.xls");
  dialogAnswers.push_back(QString::fromStdString(workbook));
  form.Command4->click();
  ASSERT_EQ(FirstLines(prompts), std::vector<std::string>{msg::kOutputDone});
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

// A database marked read-only, of either engine, is refused before the
// confirmation: the message names the database and says what to do, and
// nothing changes (no backup folder either).
TEST_F(ThroughTheWindow, AReadOnlyDatabaseIsRefusedBeforeTheFirstQuestion) {
  for (const char* access : {"", PENDRA_ACCESS_TESTDATA "/ja_V2000.mdb"}) {
    const std::string db = base.ScheduleDb();
    if (*access) fs::copy_file(access, db, fs::copy_options::overwrite_existing);
    fs::permissions(db, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    std::ifstream in(db, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    prompts.clear();
    app::Form1 window;  // the expansion takes its window out of the band: one per case
    window.SetBaseFolder(QString::fromStdString(base.Path()));
    window.SetQuitFunction([this] { ++quits; });
    window.SetMessageBox([this](QWidget*, const QString& prompt, MsgBoxButtons, const QString&) {
      prompts.push_back(prompt.toStdString());
      return MsgBoxResult::Yes;
    });
    window.txtBackDbPath->setText(QString::fromStdString(base.File("編集済み.xls")));
    window.Command3->click();
    const std::string what = *access ? access : "our own database";
    ASSERT_EQ(prompts.size(), 1u) << what;
    EXPECT_NE(prompts[0].find("データベース '" + db + "' は読み取り専用になっています。"), std::string::npos) << prompts[0];
    EXPECT_NE(prompts[0].find("chmod u+w '" + db + "'"), std::string::npos) << prompts[0];
    EXPECT_EQ(prompts[0].find(".~"), std::string::npos) << prompts[0];
    std::ifstream after(db, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()), bytes) << what;
    EXPECT_FALSE(fs::exists(dao::BackupFolder(db))) << what;
    fs::permissions(db, fs::perms::owner_write, fs::perm_options::add);
  }
}

std::string Head(const std::string& path, size_t bytes) {
  std::ifstream in(path, std::ios::binary);
  std::string head(bytes, '\0');
  in.read(head.data(), static_cast<std::streamsize>(bytes));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}

// The person at the progress window: looks at it every 20 ms, notes what
// it showed, and clicks キャンセル once rows go over when asked to.
struct ProgressWatcher {
  explicit ProgressWatcher(app::Form1& form) {
    QObject::connect(&timer, &QTimer::timeout, [this, &form] {
      ++ticks;
      app::ProgressWindow* progress = form.Progress();
      if (progress == nullptr || !progress->isVisible()) return;
      progress->Refresh();
      title = progress->windowTitle();
      modal = progress->isModal();
      const QString step = progress->Step()->text();
      if (step.contains(QString::fromUtf8("行"))) rowsShown = step.toStdString();
      if (cancel && !rowsShown.empty() && progress->CancelButton()->isEnabled()) {
        QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
        cancelled = true;
      }
    });
    timer.start(20);
  }
  QTimer timer;
  long ticks = 0;
  bool cancel = false;
  bool cancelled = false;
  QString title;
  bool modal = true;
  std::string rowsShown;  // the last step text that counted rows
};

TEST_F(ThroughTheWindow, TheWindowWorksThroughTheLargestOutputAndShowsItsProgress) {
  FillLargestTables(base.ScheduleDb());
  ProgressWatcher person(form);
  long ticksAtTheEnd = -1;
  onMessage = [&](const std::string&) { ticksAtTheEnd = person.ticks; };
  const std::string workbook = base.File("大きな表.xls");
  dialogAnswers.push_back(QString::fromStdString(workbook));
  form.Command4->click();

  ASSERT_EQ(FirstLines(prompts), std::vector<std::string>{msg::kOutputDone});
  // The job takes seconds; the window's timer went on ticking before the
  // job's last message, and the progress window counted the rows.
  EXPECT_GT(ticksAtTheEnd, 20);
  EXPECT_EQ(person.title, "Pendra_Set");
  EXPECT_FALSE(person.modal);  // "終了" stays within reach
  EXPECT_NE(person.rowsShown.find(" / 32765 行"), std::string::npos) << person.rowsShown;
  EXPECT_EQ(form.Progress(), nullptr);
  EXPECT_TRUE(fs::exists(workbook));
}

TEST_F(ThroughTheWindow, CancelInTheOutputWritesNothingAndTheWindowStays) {
  FillLargestTables(base.ScheduleDb());
  ProgressWatcher person(form);
  person.cancel = true;
  const std::string workbook = base.File("取り消し.xls");
  dialogAnswers.push_back(QString::fromStdString(workbook));
  form.Command4->click();

  EXPECT_TRUE(person.cancelled);
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].substr(0, prompts[0].find('\n')), msg::kOutputFailed);
  EXPECT_FALSE(fs::exists(workbook));
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

TEST_F(ThroughTheWindow, CancelInTheExpansionEndsTheProgramWithTheTablesAsTheyWere) {
  FillLargestTables(base.ScheduleDb());
  const std::string workbook = base.File("大きな表.xls");
  dialogAnswers.push_back(QString::fromStdString(workbook));
  form.Command4->click();
  ASSERT_EQ(FirstLines(prompts), std::vector<std::string>{msg::kOutputDone});
  Exec(base.ScheduleDb(), "UPDATE GroupMaster SET GP名称 = '変更前' WHERE GPno = 1");
  const auto before = Tables();

  prompts.clear();
  ProgressWatcher person(form);
  person.cancel = true;
  form.txtBackDbPath->setText(QString::fromStdString(workbook));
  form.Command3->click();

  EXPECT_TRUE(person.cancelled);
  EXPECT_EQ(prompts, std::vector<std::string>{msg::kExpansionConfirm});
  EXPECT_EQ(Tables(), before);
  EXPECT_EQ(quits, 1);
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

TEST_F(ThroughTheWindow, TheWorkbookIsSavedInTheFormatItsNameNames) {
  struct Case {
    const char* chosen;
    const char* saved;
    std::string magic;
  };
  const Case cases[] = {
      {"結果", "結果.xls", std::string("\xD0\xCF\x11\xE0", 4)},  // a compound file: Excel 97-2003
      {"結果.xlsx", "結果.xlsx", "PK\x03\x04"},
      {"結果.ods", "結果.ods", "PK\x03\x04"},
  };
  for (const Case& c : cases) {
    prompts.clear();
    dialogAnswers.push_back(QString::fromStdString(base.File(c.chosen)));
    form.Command4->click();
    ASSERT_EQ(FirstLines(prompts), std::vector<std::string>{msg::kOutputDone}) << c.chosen;
    const std::string saved = base.File(c.saved);
    EXPECT_EQ(Head(saved, 4), c.magic) << c.chosen;
    const std::string head = Head(saved, 200);
    if (std::string(c.saved).ends_with(".ods")) {
      EXPECT_NE(head.find("application/vnd.oasis.opendocument.spreadsheet"), std::string::npos);
    }
    if (std::string(c.saved).ends_with(".xlsx")) {
      EXPECT_EQ(head.find("opendocument"), std::string::npos);
    }
    // The workbook reads back as one, headings and all.
    EXPECT_EQ(SavedWorkbook(saved).Cell("KikiMaster", 1, 1), Variant("タグ名")) << c.chosen;
  }
}

// Whether an soffice.bin on a profile of the given process runs.
bool OfficeOfProcessRuns(pid_t pid) {
  const std::string marker = "/" + std::to_string(pid) + "-";
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string all = ReadProcessFile(entry.path() / "cmdline");
    if (all.find("soffice.bin") != std::string::npos && all.find(marker) != std::string::npos) return true;
  }
  return false;
}

// The same, after up to 5 s for one on its way out.
bool OfficeOfProcessLeft(pid_t pid) {
  for (int i = 0; i < 100; ++i) {
    if (!OfficeOfProcessRuns(pid)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// The parent of a running process, or -1.
pid_t ParentOf(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(line.substr(close + 2));
  char state = 0;
  pid_t parent = -1;
  fields >> state >> parent;
  return parent;
}

// Processes the window's events until the condition holds (or 30 s pass).
template <typename Condition>
bool ProcessEventsUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST_F(ThroughTheWindow, ASpareOfficeWaitsTheJobTakesItAndTheProbeNeverCountsIt) {
  form.SetKeepOfficeReady(true);
  ASSERT_TRUE(ProcessEventsUntil([] { return excel::SpareInstancePid() > 0; }));
  const pid_t spare = excel::SpareInstancePid();
  probe.Add(spare);
  EXPECT_THROW(excel::GetRunningObject(), PlatformError);  // ours, not the user's

  // The offices this process starts while the job works, until its last
  // message. (An office's own children, forked for a moment to run a
  // helper, carry its command line too: only our children count.)
  std::set<pid_t> seen;
  bool jobOver = false;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (jobOver || !form.Busy()) return;
    for (pid_t pid : OurOfficeProcesses())
      if (ParentOf(pid) == getpid()) seen.insert(pid);
  });
  look.start(10);
  onMessage = [&](const std::string&) { jobOver = true; };
  const std::string workbook = base.File("予備.xls");
  dialogAnswers.push_back(QString::fromStdString(workbook));
  form.Command4->click();
  look.stop();
  onMessage = nullptr;
  ASSERT_EQ(FirstLines(prompts), std::vector<std::string>{msg::kOutputDone}) << (prompts.empty() ? "" : prompts[0]);
  EXPECT_EQ(seen, std::set<pid_t>{spare});  // no instance of its own was started

  // A new spare follows the job; turned off, none is left.
  EXPECT_TRUE(ProcessEventsUntil([&] { return excel::SpareInstancePid() > 0 && excel::SpareInstancePid() != spare; }));
  form.SetKeepOfficeReady(false);
  EXPECT_TRUE(ProcessEventsUntil([] { return OurOfficeProcesses().empty(); }));
}

// The program keeps a spare office unless PENDRA_WARM_OFFICE=0; ended, it
// leaves none.
TEST(SpareOffice, TheProgramKeepsOneUnlessTurnedOff) {
  for (const char* warm : {"", "0"}) {
    QTemporaryDir runtime;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    if (*warm) env.insert("PENDRA_WARM_OFFICE", warm);
    else env.remove("PENDRA_WARM_OFFICE");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PENDRA_SET_EXE), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    const pid_t pid = static_cast<pid_t>(program.processId());
    // Started within the time an office takes to start, or not at all.
    bool office = false;
    for (int i = 0; i < 100 && !office; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      office = OfficeOfProcessRuns(pid);
    }
    EXPECT_EQ(office, std::string(warm) != "0") << "PENDRA_WARM_OFFICE=" << warm;
    program.kill();
    program.waitForFinished(10000);
    EXPECT_FALSE(OfficeOfProcessLeft(pid)) << "PENDRA_WARM_OFFICE=" << warm;
  }
}

TEST_F(ThroughTheWindow, CancelRunsNoOutput) {
  form.Command4->click();  // the dialog answers Cancel
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(prompts.empty());
  EXPECT_TRUE(app::IsTopmost(&form));
  EXPECT_TRUE(OurOfficeProcesses().empty());
}

// Runs the driver with the given step and environment changes; returns its
// exit status (-1 when a signal ended it) and what it printed.
std::pair<int, std::string> Drive(const std::vector<std::string>& args,
                                  const std::vector<std::pair<const char*, const char*>>& env,
                                  pid_t* driver = nullptr) {
  int out[2];
  if (pipe(out) != 0) return {-1, ""};
  const pid_t pid = fork();
  if (driver) *driver = pid;
  if (pid == 0) {
    for (const auto& [name, value] : env) value ? setenv(name, value, 1) : unsetenv(name);
    dup2(out[1], 1);
    close(out[0]);
    std::vector<char*> argv{const_cast<char*>(PENDRA_WINDOW_DRIVER)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(PENDRA_WINDOW_DRIVER, argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string printed;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) printed.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, printed};
}

// "終了" and the close box end the real program at once in each step of
// both jobs: the program is its own process here (pendra-window-driver),
// so its end is the real one. The job had no chance to finish: nothing
// written, the tables as they were, and no office process of it left.
TEST(EndingTheProgram, AtOnceInEveryStepOfBothJobs) {
  BaseFolder base;
  FillLargestTables(base.ScheduleDb());
  const std::string workbook = base.File("大きな表.xls");
  {
    ScriptedUi ui(base.Path());
    ProbeScope probe;
    ASSERT_TRUE(subDbToXls(ui, workbook).IsCompleted());
  }
  const auto tables = [&] {
    auto rows = Rows(base.ScheduleDb(), "SELECT count(*), max(GP名称) FROM GroupMaster");
    for (auto& row : Rows(base.ScheduleDb(), "SELECT count(*), sum(開始操作値) FROM KikiMaster")) rows.push_back(row);
    return rows;
  };
  // What a completed expansion leaves (the workbook's rows), and the state
  // each case starts from.
  const auto complete = tables();
  const auto change = [&] { Exec(base.ScheduleDb(), "UPDATE GroupMaster SET GP名称 = '変更前' WHERE GPno = 1"); };
  change();
  const auto before = tables();

  struct Case {
    const char* job;
    const char* step;
    const char* how = "click";  // or "close": the window's close box
  };
  // The person's timing races the job: on a quiet machine a job can finish
  // its work just before the click lands (with or without its message).
  // Each case must end one of two ways, never in between: ended at once
  // (exit 0, nothing written, the tables as they were) or completed first
  // (the whole result). Each job must have been ended mid-way at least once.
  std::map<std::string, int> endedMidway;
  size_t expansionsCompleted = 0;
  for (const Case c : {Case{"output", "office"}, Case{"output", "opening"}, Case{"output", "rows"},
                       Case{"expansion", "office"}, Case{"expansion", "opening"}, Case{"expansion", "rows"},
                       Case{"output", "rows", "close"}, Case{"expansion", "opening", "close"}}) {
    change();
    // Named for the case: an output that completed leaves its target, which
    // no later case may take for its own.
    const std::string target = base.File(std::string("出力-") + c.job + "-" + c.step + "-" + c.how + ".xls");
    const bool output = std::string(c.job) == "output";
    const std::string path = output ? target : workbook;
    pid_t pid = -1;
    const auto [status, printed] = Drive({base.Path(), c.job, path, c.step, c.how}, {}, &pid);
    const std::string what = std::string(c.job) + " at " + c.step + " by " + c.how;
    // The transaction the ended program left open is rolled back by the
    // next opening for writing (its journal is "hot"), as the program's
    // next start does; a read-only look cannot do that.
    Exec(base.ScheduleDb(), "SELECT count(*) FROM GroupMaster");
    const auto now = tables();
    const bool written = fs::exists(target);
    if (status == 0 && now == before && !written) {
      ++endedMidway[c.job];
    } else {
      if (!output) ++expansionsCompleted;
      // Completed before the click: its whole result, and its message
      // unless the click came between the two.
      EXPECT_TRUE(status == 0 || status == 3) << what << ": " << status << " " << printed;
      if (output) {
        EXPECT_TRUE(written) << what;
        EXPECT_EQ(now, before) << what;
      } else {
        EXPECT_FALSE(written) << what;
        EXPECT_EQ(now, complete) << what;
      }
    }
    // The office dies with the process that started it.
    EXPECT_FALSE(OfficeOfProcessLeft(pid)) << what;
    // An expansion ended mid-way keeps no backup to push kept ones out.
    EXPECT_EQ(dao::ListBackups(base.ScheduleDb()).size(), expansionsCompleted) << what;
  }
  EXPECT_GE(endedMidway["output"], 1);
  EXPECT_GE(endedMidway["expansion"], 1);
}

// "終了" while the output saves: the hidden folder the save writes into
// beside the target goes with the program, not left for the user to find.
TEST(EndingTheProgram, WhileTheOutputSavesLeavesNoHiddenFolder) {
  BaseFolder base;
  FillLargestTables(base.ScheduleDb());
  const auto hiddenFolders = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(base.Path()))
      if (entry.path().filename().string().rfind(".~pendra-", 0) == 0) names.push_back(entry.path().string());
    return names;
  };
  // The click races the save; it lands before the save ended at least once.
  int endedWhileSaving = 0;
  for (int attempt = 0; attempt < 3 && endedWhileSaving == 0; ++attempt) {
    const std::string target = base.File("保存中-" + std::to_string(attempt) + ".xls");
    const auto [status, printed] = Drive({base.Path(), "output", target, "saving"}, {});
    if (status == 0 && !fs::exists(target)) ++endedWhileSaving;
    EXPECT_EQ(hiddenFolders(), std::vector<std::string>{}) << status << " " << printed;
  }
  EXPECT_EQ(endedWhileSaving, 1);
}

// With LANG naming a locale that is not generated (ja_JP.UTF-8 where it is
// not, as over SSH and in containers), the window's output and expansion
// of a workbook in a folder with Japanese in its path both complete.
TEST(MissingLocale, OutputAndExpansionCompleteInAJapanesePath) {
  const char* lang = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", locale_t{}) == locale_t{} ? "ja_JP.UTF-8" : "xx_YY.UTF-8";
  const std::vector<std::pair<const char*, const char*>> env = {
      {"LANG", lang}, {"LC_ALL", nullptr}, {"LC_CTYPE", nullptr}, {"LC_MESSAGES", nullptr}};
  BaseFolder base;
  const std::string workbook = base.File("出力 結果.xls");
  const auto before = Rows(base.ScheduleDb(), "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY タグ名");

  const auto output = Drive({base.Path(), "output", workbook, "none"}, env);
  EXPECT_EQ(output.first, 3) << lang;
  EXPECT_EQ(output.second.rfind(std::string(msg::kOutputDone) + "\nGroupMaster: ", 0), 0u) << lang << output.second;
  ASSERT_TRUE(fs::exists(workbook));

  Exec(base.ScheduleDb(), "DELETE FROM KikiMaster");
  const auto expansion = Drive({base.Path(), "expansion", workbook, "none"}, env);
  EXPECT_EQ(expansion.first, 3) << lang;
  EXPECT_EQ(expansion.second.rfind(std::string(msg::kExpansionDone) + "\nGroupMaster: ", 0), 0u) << lang << expansion.second;
  EXPECT_EQ(Rows(base.ScheduleDb(), "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY タグ名"), before);
}

}  // namespace
}  // namespace pendra::schedule::test
