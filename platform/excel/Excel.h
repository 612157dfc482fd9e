// The spreadsheet application as the workbook jobs use it, shaped like the
// automation object model: the probe for a running instance, creating an
// instance, Workbooks.Add, binding to a file by its path, Sheets by name,
// Cells(row, col).Value, Windows(name).Visible, Run(macro), SaveAs(path),
// Application.Quit. Backed by LibreOffice Calc over UNO, each instance a
// private headless soffice.bin. Cells move in blocks underneath; what a job
// observes is what one call per cell would give. Every failure throws
// PlatformError (429 cannot create, 9 no such sheet or window, 1004
// application-defined, 440 automation error when the instance died ...).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "core/PinnedFolder.h"
#include "core/Variant.h"

namespace pendra::excel {

class Application;
class Workbook;
class WorkbookCollection;
class Worksheet;

// A cell of a worksheet. Reads see every write made before them.
class Range {
 public:
  Variant Value() const;
  void SetValue(const Variant& value);
  Range& operator=(const Variant& value) { SetValue(value); return *this; }

 private:
  friend class Worksheet;
  Range(std::shared_ptr<struct SheetState> sheet, int16_t row, int16_t column);
  std::shared_ptr<struct SheetState> sheet_;
  int16_t row_;
  int16_t column_;
};

class Worksheet {
 public:
  // Row and column counted from 1 (1 = A); outside the sheet raises 1004.
  Range Cells(int16_t row, int16_t column);

 private:
  friend class Workbook;
  explicit Worksheet(std::shared_ptr<struct SheetState> sheet);
  std::shared_ptr<struct SheetState> sheet_;
};

class Window {
 public:
  void SetVisible(bool visible);

 private:
  friend class Workbook;
  explicit Window(std::shared_ptr<struct DocumentState> document);
  std::shared_ptr<struct DocumentState> document_;
};

class Workbook {
 public:
  // The worksheet of that name; 9 when the workbook has none.
  Worksheet Sheets(const std::string& name);
  // The workbook's window of that name (the file name); 9 when none.
  Window Windows(const std::string& name);
  // Stores the workbook under path in its own format (an .xls stays Excel
  // 97-2003), replacing an existing file. Written beside the target first
  // and renamed into place, so no half-written file ever carries the name.
  void SaveAs(const std::string& path);
  // The same, but an existing target is left alone and raises 1004 when
  // replaceExisting is false (the check and the rename are one step).
  void SaveAs(const std::string& path, bool replaceExisting);
  // The same into folder, the target's folder as the caller opened it when
  // it checked the target: the file lands there even if the folder's path
  // leads elsewhere by now. An existing target that is not a regular file
  // (a folder, a device, a FIFO) raises 1004.
  void SaveAs(const std::string& path, bool replaceExisting, const PinnedFolder& folder);
  // The instance that holds the workbook.
  std::shared_ptr<excel::Application> Application();

 private:
  friend class WorkbookCollection;
  friend std::shared_ptr<Workbook> GetObject(const std::string& path);
  explicit Workbook(std::shared_ptr<struct DocumentState> document);
  std::shared_ptr<struct DocumentState> document_;
  friend struct WorkbookAccess;
};

class WorkbookCollection {
 public:
  // A new blank workbook in this instance.
  std::shared_ptr<Workbook> Add();

 private:
  friend class Application;
  explicit WorkbookCollection(excel::Application& owner) : owner_(owner) {}
  excel::Application& owner_;
};

// One spreadsheet application instance. Owned by whoever created it: Quit
// ends it; dropping the last reference without Quit ends the process too, so
// no invisible instance outlives the job that made it.
class Application : public std::enable_shared_from_this<Application> {
 public:
  ~Application();
  WorkbookCollection& Workbooks();
  // Runs the macro of that name in the open workbook ("subResult" or
  // "Module1.subResult"); a macro that does not exist raises 1004.
  void Run(const std::string& macro);
  // Ends the instance with its workbooks, saving nothing.
  void Quit();

 private:
  friend std::shared_ptr<Application> CreateObject();
  Application();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  WorkbookCollection workbooks_{*this};
  friend class WorkbookCollection;
  friend class Workbook;
  friend struct DocumentState;
  friend std::shared_ptr<Workbook> GetObject(const std::string& path);
};

// Bind to a running instance of "Excel.Application": succeeds exactly when
// the user's own LibreOffice runs (a process of the same user that is not
// one of ours); raises 429 when none runs.
void GetRunningObject();

// Create a new, invisible instance; 429 when the application cannot be
// started (not installed, does not answer). Takes the spare instance when
// one is ready.
std::shared_ptr<Application> CreateObject();

// The spare instance: one private instance started ahead of the next
// CreateObject of this process, which then skips the office's start (about
// a second). The window keeps one ready; the batch command does not. The
// spare is ours (the probe never counts it), dies with the thread that
// started it like any instance, and its time limit starts when a job takes
// it. PrepareSpareInstance blocks while it starts and does nothing when a
// live spare is ready; a failure is kept quiet (the next job starts its own
// instance and reports what goes wrong). DropSpareInstance ends it.
void PrepareSpareInstance();
// Removes the hidden folders beside targets that saves under way are
// writing into; for a program about to end at once, in the middle of a job.
void RemoveUnfinishedSaveFolders();
void DropSpareInstance();
// The spare's process, or -1 when none is ready.
pid_t SpareInstancePid();

// Bind to a file by its path alone: opens the workbook in the instance this
// process created last that is still alive. 1004 for a missing or
// non-workbook file.
std::shared_ptr<Workbook> GetObject(const std::string& path);

// What an instance may cost: the memory the office process holds, and the
// time from its start to its end (a job's whole use of it). An instance
// that reaches either is killed; the call that waited on it raises 7 (the
// memory limit) or 440 (the time limit) with a description naming the limit.
// The defaults lie far above what a normal workbook needs (the largest
// schedule tables take about 0.4 GB and a few seconds).
struct OfficeLimits {
  size_t memoryMegabytes = 2048;
  std::chrono::seconds time{120};
};
// For instances created from now on.
void SetOfficeLimits(const OfficeLimits& limits);
OfficeLimits GetOfficeLimits();

// What a person may ask for: above the most, or past a week, a limit
// bounds nothing (and counting it in bytes or nanoseconds would overflow,
// ending the office at once). The least is what the largest output and its
// expansion need, with room to spare: measured with LibreOffice 7.4 on a
// fresh profile, 192 MB ended the office during its start and 224 MB
// served 1000 groups and 32765 devices both ways.
inline constexpr size_t kLeastOfficeMemoryMegabytes = 320;
inline constexpr size_t kMostOfficeMemoryMegabytes = 1024 * 1024;  // 1 TB
inline constexpr long kMostOfficeSeconds = 7 * 24 * 3600;
// A limit written as text (an option's value, a variable's): the number
// when the text is a whole number in its range, else nothing.
std::optional<size_t> OfficeMemoryFromText(const std::string& text);
std::optional<std::chrono::seconds> OfficeSecondsFromText(const std::string& text);
// The ranges as a person reads them: "128 to 1048576", "1 to 604800".
std::string OfficeMemoryRange();
std::string OfficeSecondsRange();

// A variable of the environment whose value is no limit in range.
struct RefusedLimitVariable {
  std::string name;   // PENDRA_OFFICE_MEMORY_MB or PENDRA_OFFICE_SECONDS
  std::string value;  // as it was set
  // "PENDRA_OFFICE_SECONDS=abc is not a whole number from 1 to 604800"
  std::string Describe() const;
};
// The limits given, overridden by PENDRA_OFFICE_MEMORY_MB and
// PENDRA_OFFICE_SECONDS where those are set. A variable set to anything
// but a whole number in range leaves its limit as given and is added to
// refused (when given), for the caller to refuse or warn about.
OfficeLimits OfficeLimitsFromEnvironment(OfficeLimits limits = {},
                                         std::vector<RefusedLimitVariable>* refused = nullptr);

// Which processes the probe looks at. The default takes every process of
// the current user; tests narrow it so that parallel runs and other users'
// offices do not disturb them.
void SetProbeScope(std::function<bool(pid_t pid)> inScope);

}  // namespace pendra::excel
