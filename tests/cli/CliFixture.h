// What the batch command tests share: a demo base folder (both databases
// with their demo rows and the real template, under a path with a blank and
// Japanese in it) and the looks into its tables.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PendraRun.h"
#include "TestFiles.h"
#include "ScheduleTestSupport.h"

namespace pendra::cli::test {

using schedule::test::Rows;

// Every column of every row in stored order: equal means unchanged.
inline std::vector<std::string> ScheduleSnapshot(const std::string& db) {
  auto rows = Rows(db, "SELECT 'G', * FROM GroupMaster ORDER BY rowid");
  for (auto& row : Rows(db, "SELECT 'K', * FROM KikiMaster ORDER BY rowid")) rows.push_back(row);
  return rows;
}

// The exchanged columns in key order: equal after a round trip.
inline std::vector<std::string> ScheduleContent(const std::string& db) {
  auto rows = Rows(db, "SELECT GPno, GP名称, 有効 FROM GroupMaster ORDER BY GPno, rowid");
  for (auto& row : Rows(db, "SELECT タグ名, 機器名称, 開始操作値, 終了操作値 FROM KikiMaster ORDER BY タグ名, rowid"))
    rows.push_back(row);
  return rows;
}

inline std::vector<std::string> TagSnapshot(const std::string& db) {
  return Rows(db, "SELECT * FROM M_TAG ORDER BY rowid");
}

class BatchCommand : public ::testing::Test {
 protected:
  std::string ScheduleDb() const { return base.ScheduleDb(); }
  std::string TagDb() const { return base.Path() + "/VL_Database/Velmora.mdb"; }
  // A master CSV file in the base folder: the lines in code page 932, CR LF.
  std::string Csv(const std::string& name, const std::vector<std::string>& utf8Lines) {
    std::string bytes;
    for (const auto& line : utf8Lines) bytes += tagimport::testing::ToCp932(line) + "\r\n";
    const std::string path = base.File(name);
    WriteFile(path, bytes);
    return path;
  }
  // A command on this base folder.
  std::vector<std::string> On(std::vector<std::string> args) const {
    args.push_back("--base");
    args.push_back(base.Path());
    return args;
  }

  schedule::test::BaseFolder base;
};

}  // namespace pendra::cli::test
