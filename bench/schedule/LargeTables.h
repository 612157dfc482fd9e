// What the benchmarks of the workbook jobs share: a base folder whose
// schedule database holds the tables at the size asked for (the largest the
// exchange takes: 1000 GroupMaster and 32765 KikiMaster rows), and a window
// with no person in it.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Fixture.h"
#include "Measure.h"
#include "core/JobOutcome.h"
#include "core/UserInterface.h"

namespace pendra::bench {

namespace fs = std::filesystem;

struct TableSizes {
  long groups = 1000;
  long kiki = 32765;
};

// The window as a benchmark sees it: no person, every question answered Yes.
class QuietUi : public UserInterface {
 public:
  explicit QuietUi(std::string base) : base_(std::move(base)) {}
  MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons, std::string_view) override {
    last = prompt;
    return MsgBoxResult::Yes;
  }
  void SetWaitPointer(bool) override {}
  void DoEvents() override {}
  void SetTopmost(bool) override {}
  void EndProgram() override {}
  std::string PathBoxText() override { return path; }
  std::string BaseFolder() override { return base_; }
  std::string last;
  std::string path;

 private:
  std::string base_;
};

// A job that did not complete ends the benchmark: its time would measure
// something else. The outcome decides, not the wording of the message.
inline void Require(const JobOutcome& outcome, const QuietUi& ui, const char* job) {
  if (!outcome.IsCompleted()) throw std::runtime_error(std::string(job) + " did not complete: " + ui.last);
}

// The tables at the sizes given, replacing what the schedule database holds.
inline void FillDatabase(const std::string& db, const TableSizes& sizes) {
  Run("sqlite3 " + Quote(db) +
      " \"DELETE FROM GroupMaster; DELETE FROM KikiMaster;"
      " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(sizes.groups) +
      ") INSERT INTO GroupMaster (GPno, GP名称, 有効) SELECT i, 'グループ' || i, -(i % 2) FROM n;"
      " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(sizes.kiki) +
      ") INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値)"
      " SELECT printf('TAG-%06d', i), '機器名称' || i, i % 100, i % 7 FROM n;\"");
}

// A base folder in dir holding the template and the tables at those sizes.
inline fixture::BaseFolder LargeBaseFolder(const fs::path& dir, const TableSizes& sizes) {
  const auto base = fixture::WriteBaseFolder((dir / "base").string(), false);
  Run(std::string("'") + PENDRA_MAKE_TEMPLATE + "' " + Quote((dir / "base" / "Pendra_原紙.xls").string()) + " >/dev/null");
  FillDatabase(base.scheduleDb, sizes);
  return base;
}

}  // namespace pendra::bench
