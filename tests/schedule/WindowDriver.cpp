// The real window with the real jobs and the real way the program ends,
// in a process of its own, driven as a person would: it answers the dialog
// and the message boxes, starts a job and clicks "終了" at the step asked
// for. A test then looks at what is left: the tables, the target, any
// office process.
//
//   pendra-window-driver BASE output TARGET STEP [close]
//   pendra-window-driver BASE expansion WORKBOOK STEP [close]
//
// STEP: office (as soon as the job's office process exists), opening (the
// office has run for 0.9 s: it opens the workbook), rows (rows go over),
// saving (the output's hidden save folder is in the target's folder), none (no click: the job runs to its
// end). Exit status: 0 from "終了" (the window's own end), 3 when the job
// came to its last message (printed on standard output), 4 on a bad call.
// With "close" the person closes the window with its close box instead.
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "Form1.h"
#include "ProgressWindow.h"
#include "Startup.h"
#include "core/InstalledLocale.h"
#include "excel/Excel.h"

namespace {

// An soffice.bin whose parent is this process.
bool OurOfficeRuns() {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(proc)) {
    const std::string dir = std::string("/proc/") + entry->d_name;
    std::ifstream stat(dir + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos || line.find("(soffice.bin)") == std::string::npos) continue;
    long parent = 0;
    char state = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == getpid()) {
      found = true;
      break;
    }
  }
  closedir(proc);
  return found;
}

// The output's hidden save folder (".~pendra-...") in the folder.
bool SaveFolderIn(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) found |= std::string(entry->d_name).rfind(".~pendra-", 0) == 0;
  closedir(dir);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) return 4;
  const bool closeBox = argc == 6 && std::string(argv[5]) == "close";
  const QString base = QString::fromUtf8(argv[1]);
  const std::string job = argv[2];
  const QString path = QString::fromUtf8(argv[3]);
  const std::string step = argv[4];
  // Other tests' offices on this machine are nobody's documents.
  pendra::excel::SetProbeScope([](pid_t) { return false; });

  pendra::UseInstalledLocale();  // as the program's main() does
  QApplication app(argc, argv);
  pendra::app::ConfigureApplication(app);
  pendra::app::Form1 form;
  form.SetBaseFolder(base);
  form.SetMessageBox([](QWidget*, const QString& prompt, pendra::MsgBoxButtons buttons, const QString&) {
    if (buttons == pendra::MsgBoxButtons::OkOnly) {  // the job got to its last word
      std::printf("%s\n", prompt.toUtf8().constData());
      std::fflush(stdout);
      std::_Exit(3);
    }
    return pendra::MsgBoxResult::Yes;
  });
  form.cdlDb.SetDialog([&](QWidget*, const pendra::app::OpenDialogRequest&) { return std::optional<QString>(path); });
  form.show();
  form.Form_Load();

  using Clock = std::chrono::steady_clock;
  Clock::time_point officeSeen{};
  QTimer person;
  QObject::connect(&person, &QTimer::timeout, [&] {
    const bool office = OurOfficeRuns();
    if (office && officeSeen == Clock::time_point{}) officeSeen = Clock::now();
    pendra::app::ProgressWindow* progress = form.Progress();
    if (progress != nullptr) progress->Refresh();
    const bool rows = progress != nullptr && progress->Step()->text().contains(QString::fromUtf8("行"));
    bool now = false;
    if (step == "office") now = office;
    // The office has had the time to start and opens the workbook; with a
    // small workbook the rows may be under way already (printed below).
    if (step == "opening") now = office && Clock::now() - officeSeen > std::chrono::milliseconds(900);
    if (step == "rows") now = rows;
    if (step == "saving") now = SaveFolderIn(QFileInfo(path).absolutePath().toStdString());
    if (now) {
      std::fprintf(stderr, "%s (rows under way: %s)\n", closeBox ? "closing the window" : "clicking 終了",
                   rows ? "yes" : "no");
      if (closeBox) form.close();
      else form.Command2->click();
    }
  });
  person.start(10);

  if (job == "output") {
    QTimer::singleShot(0, form.Command4, &QPushButton::click);
  } else {
    form.txtBackDbPath->setText(path);
    QTimer::singleShot(0, form.Command3, &QPushButton::click);
  }
  return QApplication::exec() == 0 ? 5 : 4;  // the window's own end never returns here
}
