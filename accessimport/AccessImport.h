// pendra import-mdb: a genuine Access database of the installation carried
// over, one way, into the tool's own databases. The tables the file holds
// among GroupMaster, KikiMaster (schedule database) and M_TAG (tag master
// database) replace ours; tables it does not hold are left alone; others
// are listed and ignored. Steps:
//   1. read the file (every table's design, the rows of ours);
//   2. compare each carried table's design with ours and report every
//      difference (columns, types, lengths, Required, Allow Zero Length);
//      a column we would carry whose type cannot be read stops the job;
//   3. unless it is a dry run: check that the databases can be written,
//      then ask;
//   4. in one transaction over both databases, on one connection (the
//      second file attached to the first, so that SQLite commits both or
//      neither): keep a copy of each, empty each carried table and add the
//      file's rows, through the database layer, so every value meets our
//      columns' rules; a refused value stops the job with the table, row
//      and column named, and nothing changes;
//   5. commit (a dry run rolls back), keep the copies, and report rows
//      before and after. After a failure "nothing changed" is said only
//      when neither file was written.
#pragma once

#include <ostream>
#include <string>

#include "core/UserInterface.h"

namespace pendra::accessimport {

enum class ImportResult {
  Completed,  // the tables were replaced (or, in a dry run, would be)
  Refused,    // nothing to carry, or the user said No
  Failed,     // nothing changed: the file or a value was refused
};

// What was carried goes to report, line by line; the error that stopped the
// job to errors.
ImportResult ImportAccessFile(UserInterface& ui, const std::string& accessFile, bool dryRun, std::ostream& report,
                              std::ostream& errors);

}  // namespace pendra::accessimport
