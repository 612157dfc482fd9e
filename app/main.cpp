// Pendra_Set: one instance at a time, one window, in the topmost band.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>

#include <cstring>

#include "BackupsWindow.h"
#include "Form1.h"
#include "MessageBox.h"
#include "RaiseListener.h"
#include "core/InstalledLocale.h"
#include "excel/Excel.h"
#include "SingleInstance.h"
#include "Startup.h"

namespace {

bool AskedForBackups(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--backups") == 0) return true;
  return false;
}

// "Pendra_Set --backups": the backups window alone. It runs no job, so it
// may run beside the main window; a restore that meets a job holding the
// database is refused by the database's own lock.
int RunBackupsWindow(int argc, char* argv[]) {
  using namespace pendra::app;
  pendra::UseInstalledLocale();
  QApplication app(argc, argv);
  ConfigureApplication(app);
  BackupsWindow window(QCoreApplication::applicationDirPath(), ShowQtMessageBox);
  window.show();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  using namespace pendra::app;
  if (AskedForBackups(argc, argv)) return RunBackupsWindow(argc, argv);
  // Decided before the application object or any window exists: a second
  // start brings the running window to the front and ends, with success.
  // The lock lives until the process ends.
  const std::string lockFile = LockFilePath(ExecutablePath(), LockDirectory());
  const InstanceLock instance(lockFile);
  if (instance.AnotherInstanceRuns()) {
    AskToRaise(RaiseSocketPath(lockFile));
    return 0;
  }

  // The window takes no options: the office's limits come from the
  // environment (PENDRA_OFFICE_MEMORY_MB, PENDRA_OFFICE_SECONDS) or stay at
  // their defaults. A value out of range cannot be refused to a person who
  // only clicked an icon: the default holds, and the warning goes where
  // the desktop keeps a program's messages.
  std::vector<pendra::excel::RefusedLimitVariable> refused;
  pendra::excel::SetOfficeLimits(pendra::excel::OfficeLimitsFromEnvironment({}, &refused));
  for (const auto& variable : refused)
    std::fprintf(stderr, "Pendra_Set: %s; the default is used.\n", variable.Describe().c_str());

  // Before the application object, which takes the locale from the
  // environment, and before any office is started with it.
  pendra::UseInstalledLocale();
  QApplication app(argc, argv);
  ConfigureApplication(app);
  Form1 form;
  form.Form_Load();
  // One office instance waits for the next job, so that a job does not
  // wait for the office to start; PENDRA_WARM_OFFICE=0 keeps its memory
  // free instead.
  const char* warm = std::getenv("PENDRA_WARM_OFFICE");
  form.SetKeepOfficeReady(warm == nullptr || std::string(warm) != "0");
  std::unique_ptr<RaiseListener> raiser;
  if (instance.Held())
    raiser = std::make_unique<RaiseListener>(RaiseSocketPath(lockFile), [&form] { form.BringToFront(); });
  return QApplication::exec();
}
