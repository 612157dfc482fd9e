#include "ScheduleJobs.h"

namespace pendra::schedule {

// The jobs are built in their own change; until then the handlers do nothing.
void Command3_Click(UserInterface&) {}
void subXlsToDb(UserInterface&, const std::string&) {}
void subDbToXls(UserInterface&, const std::string&) {}

}  // namespace pendra::schedule
