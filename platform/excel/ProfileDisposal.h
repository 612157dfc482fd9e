// Removing an ended office's private profile (dozens of files) takes a
// tenth of a second and more where the disk is busy, and nothing waits for
// it: the job is done once its office is. The folder leaves its place at
// once, renamed beside it, and is removed on a thread of its own; the
// process waits for that removal before it exits. A process that dies
// first leaves the renamed folder under its own PID, where the next start
// removes it as an orphan.
#pragma once

#include <string>

namespace pendra::excel {

// The office that used profileDir has ended.
void DisposeOfProfile(const std::string& profileDir);

// Waits until every profile handed over so far is removed.
void WaitForProfileDisposal();

}  // namespace pendra::excel
