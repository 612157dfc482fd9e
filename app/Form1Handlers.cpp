// The window's event handlers, the top-level handler, and what the jobs ask
// of the window (UserInterface).
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>

#include <new>
#include <stdexcept>

#include "BackupsWindow.h"
#include "Form1.h"
#include "OutputTarget.h"
#include "ProgressWindow.h"
#include "WindowUi.h"
#include "ScheduleJobs.h"
#include "Startup.h"
#include "TagMasterUpdate.h"
#include "Twips.h"
#include "WindowPos.h"
#include "core/PlatformError.h"
#include "excel/Excel.h"

namespace pendra::app {

namespace {

const QString kProposedName = QStringLiteral("Pendra情報.xls");

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The dialog handlers pass over every failure from the dialog on and keep
// the number of the last one: runs one step and records its failure.
template <typename Step>
void ResumeNext(long& lastError, Step&& step) {
  try {
    step();
  } catch (const PlatformError& e) {
    lastError = e.Number();
  } catch (const std::bad_alloc&) {
    lastError = err::kOutOfMemory;
  } catch (const std::exception&) {
    lastError = err::kApplicationDefined;
  }
}

// Puts the window back into the topmost band when the handler is left, on
// every way out.
class BackIntoTheBand {
 public:
  explicit BackIntoTheBand(Form1& form) : form_(form) {}
  ~BackIntoTheBand() { form_.SetTopmost(true); }
  BackIntoTheBand(const BackIntoTheBand&) = delete;
  BackIntoTheBand& operator=(const BackIntoTheBand&) = delete;

 private:
  Form1& form_;
};

}  // namespace

Jobs Jobs::Real() {
  return Jobs{tagimport::Command1_Click, schedule::Command3_Click, schedule::subDbToXls};
}

// ---- Handlers --------------------------------------------------------------

void Form1::Form_Load() {
  // The single-instance test ran before the application object existed
  // (main.cpp): a second start never gets this far.
  // Where the window starts is ours to choose: the middle of the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
  }
  TopmostPlacement(HWND_TOPMOST);
}

void Form1::Command1_Click() {
  if (jobs_.tagImport) RunJob(jobs_.tagImport, [this] { CancelJob(); });
}

void Form1::cmdSansyo_Click() {
  SetTopmost(false);
  cdlDb.SetFileName(kProposedName);  // on every click: an earlier choice is never proposed
  long lastError = 0;
  ResumeNext(lastError, [&] { cdlDb.ShowOpen(this); });
  ResumeNext(lastError, [&] { ChDrive(BaseFolder()); });
  if (lastError != err::kCancel) {
    ResumeNext(lastError, [&] { txtBackDbPath->setText(cdlDb.FileName()); });
  }
  ResumeNext(lastError, [&] { SetTopmost(true); });
}

void Form1::Command2_Click() { EndProgram(); }

void Form1::Command3_Click() {
  // The job takes the window out of the band, asks, runs and ends the
  // program itself. The program ends after every confirmed expansion, so
  // cancelling it is ending the program ("終了"): nothing is changed.
  if (jobs_.expansion) RunJob(jobs_.expansion, [this] { EndProgram(); });
}

void Form1::Command4_Click() {
  SetTopmost(false);
  cdlDb.SetFileName(kProposedName);
  long lastError = 0;
  ResumeNext(lastError, [&] { cdlDb.SetInitDir(OutputDialogFolder(FromUtf8(BaseFolder()))); });
  ResumeNext(lastError, [&] { cdlDb.ShowOpen(this); });
  ResumeNext(lastError, [&] { ChDrive(BaseFolder()); });
  BackIntoTheBand backIn(*this);
  if (lastError == err::kCancel || !jobs_.output) return;
  // A bare name becomes an .xls; a format the job cannot write is refused
  // before anything runs.
  const QString target = WithWorkbookExtension(cdlDb.FileName());
  if (!IsWorkbookFormat(target)) {
    MsgBox(kOutputFormatRefused, MsgBoxButtons::OkOnly, kMessageBoxTitle);
    return;
  }
  // The job reports every outcome itself. Should an error escape it all the
  // same, it goes to the top-level handler and is shown, not passed over.
  const std::string path = target.toStdString();
  RunJob([this, &path](UserInterface& ui) { jobs_.output(ui, path); }, [this] { CancelJob(); });
}

// ---- Top-level handler -----------------------------------------------------

void Form1::RunHandler(const std::function<void()>& handler) {
  if (ending_) return;
  try {
    handler();
    return;
  } catch (const ProgramEndRequested&) {
    EndProgram();
    return;
  } catch (const PlatformError& e) {
    ReportUnhandledError(e.Number(), e.Description());
  } catch (const std::bad_alloc&) {
    ReportUnhandledError(err::kOutOfMemory, StandardDescription(err::kOutOfMemory));
  } catch (const std::exception& e) {
    ReportUnhandledError(err::kApplicationDefined, e.what());
  } catch (...) {
    ReportUnhandledError(err::kApplicationDefined,
                         StandardDescription(err::kApplicationDefined));
  }
}

void Form1::RunJobHandler(const std::function<void()>& handler) {
  // A job paused in DoEvents lets clicks through; a second job must not
  // start inside it. "終了" is not a job and still works.
  if (busy_ || ending_) return;
  // The backups window reads or restores the databases on its own thread.
  if (backupsWindow_ != nullptr && backupsWindow_->Working()) return;
  busy_ = true;
  struct Idle {
    bool& busy;
    ~Idle() { busy = false; }
  } idle{busy_};
  RunHandler(handler);
}

// ---- Jobs on the job thread ---------------------------------------------------

void Form1::RunJob(const std::function<void(UserInterface&)>& job, std::function<void()> cancel) {
  progress_ = std::make_shared<JobProgress>();
  cancel_ = std::move(cancel);
  endAfterJob_ = false;
  WindowUi ui(*this, progress_);
  std::exception_ptr failure;
  bool done = false;
  jobThread_.Start(
      [&] {
        try {
          job(ui);
        } catch (...) {
          failure = std::current_exception();
        }
      },
      // Wakes the loop below; queued, so it runs on this thread.
      [this, &done] { QMetaObject::invokeMethod(this, [&done] { done = true; }, Qt::QueuedConnection); });
  progressDelay_->start();
  // The window's own event loop goes on here: it repaints, answers the
  // job's requests and takes "終了", while the handlers refuse other jobs.
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);

  progressDelay_->stop();
  delete progressWindow_;
  progressWindow_ = nullptr;
  cancel_ = nullptr;
  if (keepOfficeReady_ && !ending_) jobThread_.Start(prepareSpare_);
  if (endAfterJob_ && quit_) quit_();
  if (failure) std::rethrow_exception(failure);
}

void Form1::SetKeepOfficeReady(bool keep) {
  keepOfficeReady_ = keep;
  jobThread_.Start(keep ? prepareSpare_ : dropSpare_);
}

void Form1::ShowProgressWindow() {
  if (!jobThread_.Busy() || ending_) return;
  if (progressWindow_ == nullptr) {
    progressWindow_ = new ProgressWindow(this, progress_, [this] {
      if (cancel_) cancel_();
    });
  }
  progressWindow_->show();
}

void Form1::CancelJob() {
  if (progress_) progress_->RequestCancel();
}

MsgBoxResult Form1::JobMsgBox(std::string_view prompt, MsgBoxButtons buttons,
                              std::string_view title) {
  // The progress window steps aside for the box and comes back half a
  // second after it, should the job go on working.
  progressDelay_->stop();
  if (progressWindow_ != nullptr) progressWindow_->hide();
  const MsgBoxResult answer = MsgBox(prompt, buttons, title);
  progressDelay_->start();
  return answer;
}

void Form1::EndProgramAfterJob() {
  // The job asked for the end as its last step: the window goes now, the
  // program when the job has returned.
  if (ending_) return;
  ending_ = true;
  endAfterJob_ = true;
  if (progressWindow_ != nullptr) progressWindow_->hide();
  hide();
}

void Form1::ReportUnhandledError(long number, const std::string& description) {
  // The job is gone; do not leave the user with its hourglass.
  SetWaitPointer(false);
  const QString prompt =
      QString::fromUtf8("実行時エラー '%1':\n\n%2").arg(number).arg(FromUtf8(description));
  try {
    messageBox_(this, prompt, MsgBoxButtons::OkOnly, QString::fromLatin1(kProgramName));
  } catch (...) {
    // Nothing more can be told to the user; the program keeps running.
  }
}

void Form1::ReportFromJobThread(const std::exception_ptr& failure) {
  // Called on the job thread: the report is queued to the window's thread
  // and goes through the top-level handler, as any error no procedure
  // dealt with (the spare office's start failing with a file system error,
  // for one). Dropped with the window should it be gone by then.
  QMetaObject::invokeMethod(
      this, [this, failure] { RunHandler([failure] { std::rethrow_exception(failure); }); }, Qt::QueuedConnection);
}

// ---- UserInterface -----------------------------------------------------------

MsgBoxResult Form1::MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                           std::string_view title) {
  return messageBox_(this, FromUtf8(prompt), buttons, FromUtf8(title));
}

void Form1::SetWaitPointer(bool wait) {
  // One application-wide pointer with two states, not a stack: two calls for
  // the wait pointer and one for the default end with the default pointer.
  if (wait == waitPointer_) return;
  if (wait) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  } else {
    QGuiApplication::restoreOverrideCursor();
  }
  waitPointer_ = wait;
}

void Form1::DoEvents() {
  QCoreApplication::processEvents();
  // "終了" or the close box during the pause: the job unwinds (and undoes
  // what it holds) up to the top-level handler, which ends the program.
  if (ending_) throw ProgramEndRequested{};
}

void Form1::TopmostPlacement(int insertAfter) {
  if (ending_) return;  // a window on its way out is not shown again
  SetWindowPos(this, insertAfter, TwipsToPixels(Left()), TwipsToPixels(Top()),
               TwipsToPixels(Width()), TwipsToPixels(Height()), SWP_NOSIZE | SWP_SHOWWINDOW);
}

void Form1::SetTopmost(bool topmost) {
  TopmostPlacement(topmost ? HWND_TOPMOST : HWND_NOTOPMOST);
}

void Form1::EndProgram() {
  if (ending_) return;
  ending_ = true;
  if (progressWindow_ != nullptr) progressWindow_->hide();
  hide();
  if (quit_) quit_();
}

std::string Form1::PathBoxText() { return txtBackDbPath->text().toStdString(); }

std::string Form1::BaseFolder() {
  const QString folder =
      baseFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : baseFolder_;
  return folder.toStdString();
}

}  // namespace pendra::app
