// The reference's office profile made like the jobs' own: LibreOffice runs
// its first-start graphics self-tests at every start of a profile that has
// not recorded its version, which `soffice --convert-to` never records.
// The jobs' instances start from a profile that has; the reference is given
// the same, so that the ratio compares the work, not the self-tests.
#pragma once

#include <filesystem>

namespace pendra::bench {

// Records the office's version in the profile at dir (made by an earlier
// run); does nothing when there is no such profile yet or it has one.
void RecordOfficeVersion(const std::filesystem::path& dir);

}  // namespace pendra::bench
