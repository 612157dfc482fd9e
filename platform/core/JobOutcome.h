// How a job ended, as a value for the caller that decides something by it
// (the batch command's exit status). The user learns the same from the
// job's own message box; nobody has to read that text to know it.
#pragma once

namespace pendra {

enum class JobStatus {
  Completed,   // everything asked for was done
  Refused,     // the job did not start its work: nothing was changed
  Failed,      // an error ended it, or some records were not stored
};

struct JobOutcome {
  JobStatus status = JobStatus::Completed;
  long rows = 0;      // rows written (cells rows, table rows, stored records)
  long refused = 0;   // records refused and lines passed over

  static JobOutcome Completed(long rows) { return {JobStatus::Completed, rows, 0}; }
  static JobOutcome Refused() { return {JobStatus::Refused, 0, 0}; }
  static JobOutcome Failed(long rows = 0, long refused = 0) { return {JobStatus::Failed, rows, refused}; }

  bool IsCompleted() const { return status == JobStatus::Completed; }
};

}  // namespace pendra
