// A base folder holding a real tag master database (VL_Database/Velmora.mdb
// with M_TAG, made by the fixture builder), and reads of M_TAG through the
// database layer for the checks.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/Variant.h"

namespace pendra::tagimport::testing {

class TagDatabase {
 public:
  // Makes the folder and the database with an empty M_TAG.
  TagDatabase();

  const std::string& BaseFolder() const { return base_; }
  const std::string& Path() const { return path_; }
  const TempFolder& Folder() const { return folder_; }

  // Adds a row the way another program would: the tag and the columns given.
  void AddRow(const std::string& tag, const std::map<std::string, Variant>& columns);
  // Runs an action statement on the database (a rule or an index for a test).
  void Execute(const std::string& statement);

  long RowCount();
  long RowsWithTag(const std::string& tag);
  // The column of the (first) row with the tag; fails the test when none.
  Variant Value(const std::string& tag, const std::string& column);
  // Every column of every row, for "nothing changed" checks.
  std::vector<std::string> Snapshot();

 private:
  TempFolder folder_;
  std::string base_;
  std::string path_;
};

}  // namespace pendra::tagimport::testing
