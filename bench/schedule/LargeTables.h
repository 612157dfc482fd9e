// What the benchmarks of the workbook jobs share: a base folder whose
// schedule database holds the tables at the size asked for (the largest the
// exchange takes: 1000 GroupMaster and 32765 KikiMaster rows), and a window
// with no person in it.
#pragma once

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
// It notes when the job first and last called it for each thing (progress
// of a table, events, the wait pointer, the message): the steps of a job
// lie between those moments.
class QuietUi : public UserInterface {
 public:
  explicit QuietUi(std::string base) : base_(std::move(base)) {}
  MsgBoxResult MsgBox(std::string_view prompt, MsgBoxButtons, std::string_view) override {
    last = prompt;
    Note("message box");
    return MsgBoxResult::Yes;
  }
  void SetWaitPointer(bool wait) override { Note(wait ? "wait pointer on" : "wait pointer off"); }
  void DoEvents() override { Note("DoEvents"); }
  void SetTopmost(bool) override {}
  void EndProgram() override {}
  void ReportProgress(std::string_view table, long, long) override { Note("progress " + std::string(table)); }
  std::string PathBoxText() override { return path; }
  std::string BaseFolder() override { return base_; }
  std::string last;
  std::string path;

  // "  0.012 .. 0.013 s  wait pointer on" lines, by first moment.
  std::string Steps() const {
    std::vector<std::pair<std::string, Span>> spans(spans_.begin(), spans_.end());
    std::sort(spans.begin(), spans.end(), [](const auto& a, const auto& b) { return a.second.first < b.second.first; });
    std::string text;
    for (const auto& [what, span] : spans) {
      char line[160];
      std::snprintf(line, sizeof line, "    %7.3f .. %7.3f s  %s\n", span.first, span.last, what.c_str());
      text += line;
    }
    char end[80];
    std::snprintf(end, sizeof end, "    %7.3f s            the job returned\n", Seconds(start_));
    return text + end;
  }

 private:
  struct Span {
    double first = 0, last = 0;
  };
  void Note(const std::string& what) {
    const double now = Seconds(start_);
    auto [it, added] = spans_.try_emplace(what, Span{now, now});
    if (!added) it->second.last = now;
  }
  std::string base_;
  Clock::time_point start_ = Clock::now();
  std::map<std::string, Span> spans_;
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
