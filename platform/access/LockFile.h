// The lock file Access keeps beside a database it has open (NAME.ldb for
// .mdb files, NAME.laccdb for .accdb; either is looked for): while it is
// there, nothing is written. Always asked for the database's own name,
// never for a file of ours beside it.
#pragma once

#include <string>

namespace pendra::access {

// The lock file beside the database at path, or "".
std::string AccessLockFile(const std::string& path);

// Raises 3260, naming the lock file, while Access has the file open.
void RefuseWhileAccessHasIt(const std::string& path);

}  // namespace pendra::access
