// The schedule exchange on the largest tables it takes (1000 GroupMaster and
// 32765 KikiMaster rows), each direction against a reference measured in
// the same run:
//   output    (database -> saved workbook, macros included, instance start
//              included) against `soffice --headless --convert-to xls` of
//              the same rows as CSV;
//   expansion (workbook -> committed tables, instance start included)
//              against `soffice --headless --convert-to csv` of the same
//              workbook plus `sqlite3 .import` of the result.
// Each job and its reference run in pairs, one after the other (A B A B ...),
// after one unmeasured run of each (profiles made, files in the page cache);
// the figures are the medians over the pairs, so that a burst of load from
// other processes moves one pair, not the result. The load average is
// printed with them: on a busy machine the ratios mean less.
// Usage: pendra-bench-schedule [pairs]   (median of pairs, default 5)
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Fixture.h"
#include "Messages.h"
#include "ScheduleJobs.h"
#include "core/BasePath.h"
#include "dao/Backup.h"
#include "dao/Dao.h"
#include "core/UserInterface.h"

using namespace pendra::bench;

namespace {

// soffice --convert-to with a private profile (made by the unmeasured run).
std::string SofficeCommand(const fs::path& dir, const std::string& arguments) {
  return "soffice --headless --norestore -env:UserInstallation=file://" + (dir / "reference-profile").string() +
         " " + arguments + " >/dev/null 2>&1";
}

double Timed(const std::string& command) {
  const auto start = Clock::now();
  Run(command);
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::string pattern = (fs::temp_directory_path() / "pendra-bench-schedule-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path dir = pattern;
  try {
    const auto base = LargeBaseFolder(dir);
    const std::string loadBefore = LoadAverage();

    // A: the output job.
    const fs::path written = dir / "Pendra情報.xls";
    auto output = [&] {
      fs::remove(written);
      QuietUi ui(base.folder);
      const auto start = Clock::now();
      pendra::schedule::subDbToXls(ui, written.string());
      const double took = Seconds(start);
      Expect(ui, pendra::schedule::msg::kOutputDone);
      return took;
    };
    // B: the same rows as CSV (one file, both tables' cells) converted to .xls.
    {
      std::ofstream csv(dir / "rows.csv");
      for (int i = 1; i <= kGroups; ++i) csv << i << ",グループ" << i << "," << (i % 2 ? "TRUE" : "FALSE") << "\n";
      for (int i = 1; i <= kKiki; ++i) {
        char tag[32];
        std::snprintf(tag, sizeof tag, "TAG-%06d", i);
        csv << tag << ",機器名称" << i << "," << i % 100 << "," << i % 7 << "\n";
      }
    }
    const std::string outputReference = SofficeCommand(
        dir, "--infilter=CSV:44,34,76,1 --convert-to xls --outdir " + Quote(dir / "ref-out") + " " + Quote(dir / "rows.csv"));

    // The expansion reads a workbook the output wrote, kept apart from the
    // output's target.
    output();
    const fs::path workbook = dir / "展開.xls";
    fs::copy_file(written, workbook);
    // A: the expansion job on it.
    auto expansion = [&] {
      QuietUi ui(base.folder);
      const auto start = Clock::now();
      pendra::schedule::subXlsToDb(ui, workbook.string());
      const double took = Seconds(start);
      Expect(ui, pendra::schedule::msg::kExpansionDone);
      return took;
    };
    // B: every sheet of the same workbook to CSV, then sqlite3 .import of
    // both sheets into empty copies of the tables.
    const fs::path refDb = dir / "reference.db";
    auto expansionReference = [&] {
      fs::remove_all(dir / "csv");
      fs::remove(refDb);
      Run("sqlite3 " + Quote(refDb) +
          " 'CREATE TABLE GroupMaster (GPno, GP名称, 有効); CREATE TABLE KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値);'");
      const auto start = Clock::now();
      Run(SofficeCommand(dir, "--convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1' "
                              "--outdir " + Quote(dir / "csv") + " " + Quote(workbook)));
      Run("sqlite3 " + Quote(refDb) + " '.mode csv' '.import --skip 1 " +
          (dir / "csv" / "展開-GroupMaster.csv").string() + " GroupMaster' '.import --skip 1 " +
          (dir / "csv" / "展開-KikiMaster.csv").string() + " KikiMaster'");
      return Seconds(start);
    };

    // The unmeasured round: the reference's profile is made, the job's seed
    // profile exists since the output above.
    Timed(outputReference);
    expansion();
    expansionReference();

    Pairs outputs, expansions;
    for (int i = 0; i < pairs; ++i) {
      outputs.Add(output(), Timed(outputReference));
      expansions.Add(expansion(), expansionReference());
    }

    // The backup each expansion takes first (included in the job's time
    // above), measured on its own: the database as the expansion left it.
    std::vector<double> backups;
    for (int i = 0; i < pairs; ++i) {
      auto db = pendra::dao::DBEngine::Instance().Workspaces(0).OpenDatabase(
          pendra::UnderBaseFolder(base.folder, pendra::kScheduleDatabase));
      const auto start = Clock::now();
      pendra::dao::BackUp(*db, "bench");
      backups.push_back(Seconds(start));
      db->Close();
    }
    const double backup = Median(backups);

    std::printf("schedule exchange, %d GroupMaster + %d KikiMaster rows, median of %d alternated pairs\n", kGroups,
                kKiki, pairs);
    std::printf("  load average before %s, after %s\n", loadBefore.c_str(), LoadAverage().c_str());
    std::printf("  output     job %.2f s   reference soffice --convert-to xls %.2f s   ratio %.2f (pairs %.2f; aim <= 1.25)\n",
                outputs.MedianA(), outputs.MedianB(), outputs.Ratio(), outputs.MedianOfRatios());
    std::printf("  expansion  job %.2f s   reference --convert-to csv + sqlite3 .import %.2f s   ratio %.2f (pairs %.2f; aim <= 1.3)\n",
                expansions.MedianA(), expansions.MedianB(), expansions.Ratio(), expansions.MedianOfRatios());
    std::printf("  backup     of the schedule database %.3f s   share of the expansion %.1f%% (aim <= 10%%)\n", backup,
                100 * backup / expansions.MedianA());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra-bench-schedule: %s\n", e.what());
    fs::remove_all(dir);
    return 1;
  }
  fs::remove_all(dir);
  return 0;
}
