// The probe both jobs start with: is a spreadsheet application already
// running? Binding to a running instance failing is the normal case.
#pragma once

#include "core/PlatformError.h"
#include "excel/Excel.h"

namespace pendra::schedule {

inline bool SpreadsheetApplicationRuns() {
  try {
    excel::GetRunningObject();
    return true;
  } catch (const PlatformError&) {
    return false;
  }
}

}  // namespace pendra::schedule
