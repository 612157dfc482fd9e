// An office whose profile has not recorded the office's version runs its
// graphics self-tests at every start (a quarter of a second of drawing in
// memory, more of its processor than a job's own work). A profile the
// office ended with normally records it; one taken while the office runs
// (the seed of our instances) or one `soffice --convert-to` uses never
// does, so it is written into the profile's settings here.
#pragma once

#include <string>

namespace pendra::excel {

// Records version ("7.4") as seen in the profile at the given folder: its
// user/registrymodifications.xcu. Does nothing for an empty version or a
// profile without settings, or one that records a version already.
void RecordVersionSeen(const std::string& profile, const std::string& version);

}  // namespace pendra::excel
