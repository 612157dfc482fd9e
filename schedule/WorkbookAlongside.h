// The office's start and the workbook's loading, while a thread of its own
// does other work of the job: for hundreds of milliseconds the office starts
// and loads, and the job would only wait. The office is started by the
// job's own thread, since it dies with the thread that started it
// (PR_SET_PDEATHSIG).
#pragma once

#include <functional>
#include <future>
#include <memory>
#include <string>

#include "excel/Excel.h"

namespace pendra::schedule {

struct OpenedWorkbook {
  std::shared_ptr<excel::Application> application;
  std::shared_ptr<excel::Workbook> workbook;
};

// CreateObject, Workbooks.Add and GetObject(path) on this thread,
// `meanwhile` on another (it must not use the user interface); returns once
// both are done. A failure of the office is raised first, as when the steps
// ran one after the other; else one of `meanwhile`. Whatever fails, nothing
// of the other is left running: the office ends with its last reference,
// and what `meanwhile` made is dropped by its owner as the error goes up.
OpenedWorkbook OpenWorkbookAlongside(const std::string& path, const std::function<void()>& meanwhile);

// Application.Quit and the last references to the office, on a thread of
// their own: the office ends while the job goes on; the future is ready
// once it has ended.
std::future<void> QuitAlongside(OpenedWorkbook opened);

}  // namespace pendra::schedule
