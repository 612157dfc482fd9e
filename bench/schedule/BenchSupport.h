// What the schedule benchmarks share: the largest tables the exchange takes,
// a window with no person (only the completion counts), timing and shell
// helpers.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Fixture.h"
#include "core/UserInterface.h"

namespace pendra::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline constexpr int kGroups = 1000;
inline constexpr int kKiki = 32765;

inline double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The middle value (the mean of the two middle ones for an even count).
inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Times of A and of its reference B taken in pairs, one right after the
// other, so that both see the same load.
class Pairs {
 public:
  void Add(double a, double b) {
    a_.push_back(a);
    b_.push_back(b);
    ratios_.push_back(a / b);
  }
  double MedianA() const { return Median(a_); }
  double MedianB() const { return Median(b_); }
  double Ratio() const { return MedianA() / MedianB(); }
  double MedianOfRatios() const { return Median(ratios_); }

 private:
  std::vector<double> a_, b_, ratios_;
};

// The 1, 5 and 15 minute load averages, to print beside the figures.
inline std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

inline void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

inline std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

// The window as a benchmark sees it: no person, only the completion counts.
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

inline void Expect(const QuietUi& ui, const char* completion) {
  if (ui.last != completion) throw std::runtime_error("the job did not complete: " + ui.last);
}

// The largest tables, replacing what the schedule database holds.
inline void FillDatabase(const std::string& db) {
  Run("sqlite3 " + Quote(db) +
      " \"DELETE FROM GroupMaster; DELETE FROM KikiMaster;"
      " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kGroups) +
      ") INSERT INTO GroupMaster (GPno, GP名称, 有効) SELECT i, 'グループ' || i, -(i % 2) FROM n;"
      " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kKiki) +
      ") INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値)"
      " SELECT printf('TAG-%06d', i), '機器名称' || i, i % 100, i % 7 FROM n;\"");
}

// A base folder in dir holding the template and the largest tables.
inline fixture::BaseFolder LargeBaseFolder(const fs::path& dir) {
  const auto base = fixture::WriteBaseFolder((dir / "base").string(), false);
  Run(std::string("'") + PENDRA_MAKE_TEMPLATE + "' " + Quote(dir / "base" / "Pendra_原紙.xls") + " >/dev/null");
  FillDatabase(base.scheduleDb);
  return base;
}

}  // namespace pendra::bench
