// Copies of the shipped Access test files (tests/data/access) that a test
// may change, and the two looks the writer's tests take at a file: its bytes
// (equal means untouched) and a table as libmdb reads it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "mdb/AccessFile.h"

namespace pendra::jet::test {

// A folder of the test's own (prefix-PID under the temporary folder) for
// the copies, removed with them when the object goes, whatever a test left
// read-only in it.
class AccessFileCopies {
 public:
  explicit AccessFileCopies(const std::string& prefix);
  ~AccessFileCopies();
  AccessFileCopies(const AccessFileCopies&) = delete;
  AccessFileCopies& operator=(const AccessFileCopies&) = delete;

  const std::filesystem::path& Folder() const { return folder_; }
  // A copy of the test file name that its owner may write, named as (name
  // when empty), replacing one there; its path.
  std::string Copy(const std::string& name, const std::string& as = "") const;

 private:
  std::filesystem::path folder_;
};

// The file's bytes.
std::string Bytes(const std::string& path);

// The table of the file as libmdb reads it; a failure of the calling test
// when the file has no such table.
mdb::AccessTable Read(const std::string& path, const std::string& table);

// A failure of the calling test unless the table rewritten with `rows` in
// images of the file gives the same bytes whether or not the rewrite is
// given what was learnt ahead of it (jet::ReadAheadOf), as the database
// layer gives it.
void ExpectTheSameWithWhatIsLearntAhead(const std::string& path, const std::string& table,
                                        const std::vector<std::vector<Variant>>& rows);

}  // namespace pendra::jet::test
