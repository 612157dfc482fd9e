// Shared by the schedule job tests: a base folder with real databases and
// the real template, the person at the window played by a script, a user's
// own office process for the probe to find, and direct looks into the
// database files that bypass the layer under test.
#pragma once

#include <sys/types.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Fixture.h"
#include "UsersOffice.h"
#include "core/UserInterface.h"
#include "core/Variant.h"

namespace pendra::excel {
class Application;
class Workbook;
}  // namespace pendra::excel

namespace pendra::schedule::test {

// A temporary base folder whose path has a blank and Japanese in it, laid
// out as an installation: both databases and "Pendra_原紙.xls".
class BaseFolder {
 public:
  explicit BaseFolder(bool demoRows = true);
  ~BaseFolder();
  BaseFolder(const BaseFolder&) = delete;
  BaseFolder& operator=(const BaseFolder&) = delete;

  const std::string& Path() const { return paths_.folder; }
  const std::string& ScheduleDb() const { return paths_.scheduleDb; }
  std::string Template() const { return paths_.folder + "/Pendra_原紙.xls"; }
  std::string File(const std::string& name) const { return paths_.folder + "/" + name; }

 private:
  std::filesystem::path root_;
  fixture::BaseFolder paths_;
};

struct ShownBox {
  std::string prompt;
  MsgBoxButtons buttons;
  std::string title;
  bool waitPointer;  // the wait pointer was shown while the box was open
};

// The person at the window: message boxes are recorded and answered from a
// script; everything else is recorded as the window would do it.
class ScriptedUi : public UserInterface {
 public:
  explicit ScriptedUi(std::string baseFolder) : baseFolder_(std::move(baseFolder)) {}

  std::string pathBox;
  std::deque<MsgBoxResult> answers;  // for Yes/No boxes; a missing answer fails the test
  std::vector<ShownBox> boxes;
  std::vector<bool> topmostCalls;    // true: into the band
  bool waitPointer = false;
  int endRequests = 0;
  long doEvents = 0;
  // Runs at every DoEvents, with the number of the call (from 1).
  std::function<void(long)> onDoEvents;

  MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                      std::string_view title) override;
  void SetWaitPointer(bool wait) override { waitPointer = wait; }
  void DoEvents() override;
  void SetTopmost(bool topmost) override { topmostCalls.push_back(topmost); }
  void EndProgram() override { ++endRequests; }
  std::string PathBoxText() override { return pathBox; }
  std::string BaseFolder() override { return baseFolder_; }

  // The prompts shown, in order.
  std::vector<std::string> Prompts() const;
  // Their first lines (a failure's second line says why).
  std::vector<std::string> FirstLines() const;

 private:
  std::string baseFolder_;
};

// A user's own office, as the probe sees it.
using excel::test::UsersOffice;

// Narrows the probe to the processes named in the set, so that offices of
// tests running in parallel are not taken for the user's.
class ProbeScope {
 public:
  ProbeScope();
  ~ProbeScope();
  void Add(pid_t pid) { pids_->insert(pid); }

 private:
  std::shared_ptr<std::set<pid_t>> pids_;
};

// Rows of a query as text, columns joined by "|", NULL as "NULL", read with
// the sqlite3 API directly.
std::vector<std::string> Rows(const std::string& db, const std::string& sql);
void Exec(const std::string& db, const std::string& sql);

// Fills both schedule tables of db with the largest tables the tool meets:
// 1000 groups and 32765 devices, the most rows a sheet column of the jobs
// can take.
void FillLargestTables(const std::string& db);

// Soffice processes started by this test process that are still alive.
std::vector<pid_t> OurOfficeProcesses();

// A workbook made from the template with the given rows written from row 2
// of each sheet (a row's cells from column 1), and the sheets named in
// removeSheets taken out.
struct SheetRows {
  std::string sheet;
  std::vector<std::vector<Variant>> rows;
};
void WriteWorkbook(const std::string& templatePath, const std::string& target,
                   const std::vector<SheetRows>& sheets,
                   const std::vector<std::string>& removeSheets = {});

// A saved workbook opened in an instance of its own, for reading cells.
class SavedWorkbook {
 public:
  explicit SavedWorkbook(const std::string& path);
  ~SavedWorkbook();
  Variant Cell(const std::string& sheet, int16_t row, int16_t column);
  // The rows from row 2 down to the first empty cell in column 1, each
  // with its first `columns` cells.
  std::vector<std::vector<Variant>> Table(const std::string& sheet, int16_t columns);

 private:
  std::shared_ptr<excel::Application> app_;
  std::shared_ptr<excel::Workbook> book_;
};

}  // namespace pendra::schedule::test
