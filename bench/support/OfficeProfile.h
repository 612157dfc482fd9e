// The reference's office profile made like the jobs' own
// (excel/ProfileVersion.h): the ratio compares the work, not LibreOffice's
// first-start self-tests.
#pragma once

#include <filesystem>

namespace pendra::bench {

// Records the office's version in the profile at dir (made by an earlier
// run); does nothing when there is no such profile yet or it has one.
void RecordOfficeVersion(const std::filesystem::path& dir);

}  // namespace pendra::bench
