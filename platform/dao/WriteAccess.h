// Whether this user may change a database, asked before a job's
// confirmation question: a job writes the database file, SQLite's journal
// beside it (in the database's folder) and its backup in "backup/" there.
// Learning it after confirming, from a raw error about a hidden file, tells
// the user neither what is wrong nor what to do.
#pragma once

#include <string>

namespace pendra::dao {

// Raises 3051 naming the file or folder this user cannot write and what to
// do about it (for the package: become a member of the group the database
// folders belong to, pendra). A database that is not there passes: the job
// reports it as it always has.
void RequireWritable(const std::string& databasePath);

}  // namespace pendra::dao
