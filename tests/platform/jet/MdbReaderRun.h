// A table of an Access file as the npm package mdb-reader reads it: a reader
// of its own, independent of libmdb and of our writer (tools/mdb-reader, put
// there by scripts/install-deps). Shared by the writer's tests and those of
// the batch command on Access databases.
#pragma once

#include <string>
#include <vector>

namespace pendra::jet::test {

// The lines tools/mdb-reader/read-table.js prints for the table: the count
// line first, then one line per row, in the order mdb-reader reads them. A
// run that does not exit 0 is a failure of the calling test.
std::vector<std::string> MdbReaderLines(const std::string& path, const std::string& table);

}  // namespace pendra::jet::test
