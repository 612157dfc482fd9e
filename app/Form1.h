// Form1: the program's one window. It carries the buttons that start the
// jobs, the path box with its browse button, the labels and the file dialog
// control, and it is what the jobs see of the window system (UserInterface).
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <string>

#include "CommonDialog.h"
#include "MessageBox.h"
#include "core/UserInterface.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pendra::app {

// The jobs behind the buttons; the real ones unless replaced.
struct Jobs {
  std::function<void(UserInterface&)> tagImport;                        // Command1
  std::function<void(UserInterface&)> expansion;                        // Command3
  std::function<void(UserInterface&, const std::string&)> output;       // Command4
  static Jobs Real();
};

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

  // State, for the handlers and the tests.
  bool Busy() const { return busy_; }
  bool Ending() const { return ending_; }
  bool WaitPointerShown() const { return waitPointer_; }

  // Replaceable parts: the jobs, the message box, how the program quits and
  // where its folder is.
  void SetJobs(Jobs jobs) { jobs_ = std::move(jobs); }
  void SetMessageBox(MessageBoxFunction box) { messageBox_ = std::move(box); }
  void SetQuitFunction(std::function<void()> quit) { quit_ = std::move(quit); }
  void SetBaseFolder(const QString& folder) { baseFolder_ = folder; }

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

  std::map<int, QLabel*> label1_;
  Jobs jobs_ = Jobs::Real();
  MessageBoxFunction messageBox_ = ShowQtMessageBox;
  std::function<void()> quit_;
  QString baseFolder_;
  bool busy_ = false;
  bool ending_ = false;
  bool waitPointer_ = false;
};

}  // namespace pendra::app
