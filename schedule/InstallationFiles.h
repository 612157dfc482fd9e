// The installation's own files under the base folder, which no schedule job
// may take for a workbook the user edited or for a target to write: the
// template, both databases, and the files SQLite keeps beside a database
// while it changes it. Each is compared as a file (device and inode), so a
// hard link, a bind mount or another spelling of its path is still that file.
#pragma once

#include <string>

namespace pendra::schedule {

// The path leads to the template workbook.
bool IsTheTemplate(const std::string& baseFolder, const std::string& path);

// The path leads to one of the two databases, or names one of their side
// files ("-journal", "-wal", "-shm"): as a file where that file exists, and
// by folder and name where it does not yet (SQLite makes it at its next
// write, and would take what it finds there for its own).
bool IsADatabaseFile(const std::string& baseFolder, const std::string& path);

}  // namespace pendra::schedule
