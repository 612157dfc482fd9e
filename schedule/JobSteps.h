// The steps both schedule jobs begin with.
#pragma once

#include <memory>
#include <string>

#include "core/BasePath.h"
#include "core/PlatformError.h"
#include "core/UserInterface.h"
#include "dao/Dao.h"
#include "excel/Excel.h"
#include "Messages.h"
#include "ScheduleLayout.h"

namespace pendra::schedule {

// The probe for a running spreadsheet application (binding to it failing is
// the normal case). When one runs, the job is refused: the message shows
// under the wait pointer, then the pointer goes back; true is returned.
inline bool RefusedWhileSpreadsheetRuns(UserInterface& ui) {
  try {
    excel::GetRunningObject();
  } catch (const PlatformError&) {
    return false;
  }
  ui.MsgBox(msg::kSpreadsheetRunning, MsgBoxButtons::OkOnly, msg::kTitle);
  ui.SetWaitPointer(false);
  return true;
}

// The schedule database under the base folder.
inline std::string ScheduleDatabasePath(UserInterface& ui) { return UnderBaseFolder(ui.BaseFolder(), kScheduleDatabase); }

// The schedule database opened in workspace 0. It asks the user interface
// nothing: the jobs open it on a thread of its own while the office starts.
inline std::unique_ptr<dao::Database> OpenScheduleDatabase(const std::string& path) {
  return dao::DBEngine::Instance().Workspaces(0).OpenDatabase(path);
}

}  // namespace pendra::schedule
