// Form1: the program's one window. It carries the buttons that start the
// jobs, the path box with its browse button, the labels and the file dialog
// control, and it is what the jobs see of the window system (UserInterface).
#pragma once

#include <QString>
#include <QWidget>

#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "CommonDialog.h"
#include "JobProgress.h"
#include "JobThread.h"
#include "MessageBox.h"
#include "core/UserInterface.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace pendra::app {

// The jobs behind the buttons; the real ones unless replaced.
struct Jobs {
  std::function<void(UserInterface&)> tagImport;                        // Command1
  std::function<void(UserInterface&)> expansion;                        // Command3
  std::function<void(UserInterface&, const std::string&)> output;       // Command4
  static Jobs Real();
};

class BackupsWindow;
class ProgressWindow;

class Form1 : public QWidget, public UserInterface {
 public:
  explicit Form1(QWidget* parent = nullptr);
  ~Form1() override;

  // The controls, by their design names.
  QPushButton* Command1 = nullptr;    // "CSV展開実行", never visible
  QPushButton* cmdSansyo = nullptr;   // "参照"
  QLineEdit* txtBackDbPath = nullptr; // the path box
  QPushButton* Command2 = nullptr;    // "終了"
  QPushButton* Command3 = nullptr;    // "展開実行"
  QPushButton* Command4 = nullptr;    // "Pendra情報.xlsファイルの作成"
  QLabel* Label1(int index) const;    // indices 0, 1 and 4; nullptr otherwise
  CommonDialog cdlDb;

  // Event handlers. The buttons reach them through the top-level handler
  // (RunHandler); called directly, their exceptions reach the caller.
  void Form_Load();
  void Command1_Click();
  void cmdSansyo_Click();
  void Command2_Click();
  void Command3_Click();
  void Command4_Click();

  // The window's outer geometry in twips, read at this moment.
  double Left() const;
  double Top() const;
  double Width() const;
  double Height() const;

  // A second start asked for the window: restored if minimised, raised and
  // activated.
  void BringToFront();

  // The topmost placement: HWND_TOPMOST or HWND_NOTOPMOST with the
  // window's own geometry, flags 65.
  void TopmostPlacement(int insertAfter);

  // UserInterface.
  MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                      std::string_view title) override;
  void SetWaitPointer(bool wait) override;
  void DoEvents() override;
  void SetTopmost(bool topmost) override;
  void EndProgram() override;
  std::string PathBoxText() override;
  std::string BaseFolder() override;

  // What a job on the job thread asks of the window, carried here by
  // WindowUi: a message box (the progress window steps aside meanwhile),
  // and the end of the program once the job has returned.
  MsgBoxResult JobMsgBox(std::string_view prompt, MsgBoxButtons buttons, std::string_view title);
  void EndProgramAfterJob();

  // Runs a job on the job thread. The window goes on repainting and
  // reacting meanwhile (its handlers refuse other jobs); after half a
  // second the progress window shows, and its キャンセル calls cancel. An
  // error the job let escape is thrown here, on the window's thread.
  void RunJob(const std::function<void(UserInterface&)>& job, std::function<void()> cancel);
  // The progress window's キャンセル for the jobs that can stop without
  // ending the program: the job unwinds at its next progress report.
  void CancelJob();
  // Keeps a spare office instance ready for the next job: started on the
  // job thread now and again after every job, so a job skips the office's
  // start. Off unless asked for (the program asks; tests mostly do not).
  void SetKeepOfficeReady(bool keep);

  // "バックアップと復元", from the window's context menu (right click): the
  // backups window, opened once and raised when asked again. Restoring is
  // refused there while a job runs.
  void OpenBackupsWindow();
  BackupsWindow* Backups() const { return backupsWindow_; }

  // The progress window while it exists (the tests look at it).
  ProgressWindow* Progress() const { return progressWindow_; }

  // State, for the handlers and the tests. Ending() is read by the job
  // thread too.
  bool Busy() const { return busy_; }
  bool Ending() const { return ending_; }
  bool JobRunning() const { return jobThread_.Busy(); }
  bool WaitPointerShown() const { return waitPointer_; }

  // Replaceable parts: the jobs, the message box, how the program quits,
  // where its folder is and how the spare office is kept.
  void SetJobs(Jobs jobs) { jobs_ = std::move(jobs); }
  void SetMessageBox(MessageBoxFunction box) { messageBox_ = std::move(box); }
  void SetQuitFunction(std::function<void()> quit) { quit_ = std::move(quit); }
  void SetBaseFolder(const QString& folder) { baseFolder_ = folder; }
  // How the spare office instance is started and ended (on the job thread).
  void SetSpareOffice(std::function<void()> prepare, std::function<void()> drop) {
    prepareSpare_ = std::move(prepare);
    dropSpare_ = std::move(drop);
  }

  // The top-level handler: runs a handler so that no exception crosses the
  // event loop. An error that no procedure dealt with is shown with its
  // number and description (title "Pendra_Set") and the program keeps
  // running; a request to end unwinds to here and ends the program.
  void RunHandler(const std::function<void()>& handler);
  // The same for a handler that starts work: refused while another such
  // handler runs (it may be paused in DoEvents), and once the program ends.
  void RunJobHandler(const std::function<void()>& handler);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void ReportUnhandledError(long number, const std::string& description);
  void ReportFromJobThread(const std::exception_ptr& failure);
  void ShowProgressWindow();

  std::map<int, QLabel*> label1_;
  Jobs jobs_ = Jobs::Real();
  MessageBoxFunction messageBox_ = ShowQtMessageBox;
  std::function<void()> quit_;
  QString baseFolder_;
  bool busy_ = false;
  std::atomic<bool> ending_{false};
  bool waitPointer_ = false;

  // The running job: its progress, its progress window and when to show it.
  std::shared_ptr<JobProgress> progress_;
  std::function<void()> cancel_;
  ProgressWindow* progressWindow_ = nullptr;
  BackupsWindow* backupsWindow_ = nullptr;
  bool openingBackups_ = false;
  QTimer* progressDelay_ = nullptr;
  bool endAfterJob_ = false;
  bool keepOfficeReady_ = false;
  std::function<void()> prepareSpare_;
  std::function<void()> dropSpare_;
  // Last: its thread ends before the rest goes. What a task lets escape is
  // told on the window's thread like any error no handler dealt with.
  JobThread jobThread_{[this](const std::exception_ptr& failure) { ReportFromJobThread(failure); }};
};

}  // namespace pendra::app
