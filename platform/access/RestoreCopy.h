// Putting a backup of an Access file back in its place. The copy must be
// sound, as check-mdb checks a file, and hold the database's user tables
// exactly: the same tables, each with the same columns (name, type, size,
// Required, Allow Zero Length, AutoNumber) and the same indexes. The
// database as it was is kept under savedPath (a second name for it), and
// the copy replaces it as every write does (AccessWriter.h), under the
// folder lock, with the fingerprint and the lock file checked again just
// before the rename. Any refusal leaves the database and savedPath
// untouched.
#pragma once

#include <string>

namespace pendra::access {

// Raises 3343 when the copy is not one of this database, 3049 when it is
// damaged, 3260 while Access has the database open or another of our jobs
// writes it, 3197 when another program changed it meanwhile.
void RestoreCopy(const std::string& path, const std::string& copyPath, const std::string& savedPath);

}  // namespace pendra::access
