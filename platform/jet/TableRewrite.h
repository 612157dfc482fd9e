// Replacing all rows of one existing table of a genuine Jet 4 / ACE file,
// with its indexes rebuilt from scratch; the design never changes.
//
// The old rows', long values' and index pages go back to the file's free
// pages and are taken again first, so rewriting a table again and again
// does not grow the file. The table's row count, last AutoNumber and index
// entry counts are kept as the format keeps them. The result is checked as
// check-mdb checks a file. All of it happens on the file image in memory:
// reading and replacing the file on the disk, and the rules about other
// programs, are platform/access's (AccessWriter.h).
//
// Refused, with the image unchanged: Jet 3, encoded or password-protected
// files (3219), a damaged file (3049), no database
// (3343), no such table (3078), a table that takes part in a relationship
// or has a column or index we cannot write (3219), a text value whose index
// key is not known to be Access's and that the table's index does not
// already hold (3219, naming the table, index, value and character; see
// TextKey.h and KnownKeys.h), a unique index whose
// keys collide (3022), a value that does not fit its column (3163, 6, 13).
#pragma once

#include <string>
#include <vector>

#include "JetFile.h"
#include "core/Variant.h"

namespace pendra::jet {

struct RewriteStats {
  long rows = 0;
  size_t bytesBefore = 0;
  size_t bytesAfter = 0;
};

// rows: one value per column, in the table's column order (as
// mdb::ReadAccessFile gives them). A Null AutoNumber gets the next number
// after the larger of the table's last AutoNumber and the largest given;
// the table's last AutoNumber never goes down. Messages name file.path().
// What a refusal of a value without a known key (3219) tells the user to do.
std::string UnkeyableAdvice();

RewriteStats RewriteTable(JetFile& file, const std::string& table, const std::vector<std::vector<Variant>>& rows);

}  // namespace pendra::jet
