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
// the figures are the medians over the pairs. The load average is printed
// with them: on a busy machine the ratios mean less.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "LargeTables.h"
#include "Measure.h"
#include "OfficeProfile.h"
#include "TemporaryFolder.h"
#include "ScheduleJobs.h"
#include "excel/Excel.h"
#include "core/BasePath.h"
#include "dao/Backup.h"
#include "dao/Dao.h"

using namespace pendra::bench;

namespace {

// soffice --convert-to with a private profile (made by the unmeasured run).
std::string SofficeCommand(const fs::path& dir, const std::string& arguments) {
  return "soffice --headless --norestore -env:UserInstallation=file://" + (dir / "reference-profile").string() +
         " " + arguments + " >/dev/null 2>&1";
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line("pendra-bench-schedule",
                   "The output and the expansion of the schedule tables, each against a reference in alternated\n"
                   "pairs: the output against soffice --convert-to xls of the same rows as CSV, the expansion\n"
                   "against soffice --convert-to csv of the same workbook plus sqlite3 .import.");
  line.PairsOption(5);
  line.Count("warmup", 1, 0, "unmeasured rounds first", 0);
  line.Count("groups", 1000, 10, "GroupMaster rows");
  line.Count("kiki", 32765, 100, "KikiMaster rows");
  line.Text("only", "output or expansion: that job alone");
  line.Flag("steps", "also print when the last measured run of each job reached each of its steps");
  line.Parse(argc, argv);
  const std::string only = line.TextOf("only");
  if (!only.empty() && only != "output" && only != "expansion") {
    std::fprintf(stderr, "pendra-bench-schedule: --only takes output or expansion\n");
    return 2;
  }
  const bool outputs = only != "expansion", expansions = only != "output";
  const int pairs = line.PairCount(), warmup = static_cast<int>(line.CountOf("warmup"));
  const TableSizes sizes{line.CountOf("groups"), line.CountOf("kiki")};

  // Offices of others on a shared machine (other test runs, a person's
  // Calc) must not turn a round into a refusal.
  pendra::excel::SetProbeScope([](pid_t) { return false; });
  try {
    const TemporaryFolder folder("pendra-bench-schedule");
    const fs::path& dir = folder.Path();
    const auto base = LargeBaseFolder(dir, sizes);
    const std::string loadBefore = LoadAverage();

    // Where each side spends its processor: our process, the offices
    // (ours, reaped when the job ends; the reference's), sqlite3.
    std::vector<double> outputOurs, outputOffice, outputReferenceCpu, expansionOurs, expansionOffice,
        expansionReferenceCpu;
    auto cpuOf = [](const CpuTimes& before, std::vector<double>& self, std::vector<double>& children) {
      const CpuTimes spent = CpuNow() - before;
      self.push_back(spent.self);
      children.push_back(spent.children);
    };
    std::vector<double> unused;
    std::string outputSteps, expansionSteps;

    // A: the output job.
    const fs::path written = dir / "Pendra情報.xls";
    auto output = [&] {
      fs::remove(written);
      QuietUi ui(base.folder);
      const CpuTimes cpu = CpuNow();
      const auto start = Clock::now();
      const auto outcome = pendra::schedule::subDbToXls(ui, written.string());
      const double took = Seconds(start);
      cpuOf(cpu, outputOurs, outputOffice);
      Require(outcome, ui, "the output");
      outputSteps = ui.Steps();
      return took;
    };
    // B: the same rows as CSV (one file, both tables' cells) converted to .xls.
    {
      std::ofstream csv(dir / "rows.csv");
      for (long i = 1; i <= sizes.groups; ++i) csv << i << ",グループ" << i << "," << (i % 2 ? "TRUE" : "FALSE") << "\n";
      for (long i = 1; i <= sizes.kiki; ++i) {
        char tag[32];
        std::snprintf(tag, sizeof tag, "TAG-%06ld", i);
        csv << tag << ",機器名称" << i << "," << i % 100 << "," << i % 7 << "\n";
      }
    }
    const std::string outputReference =
        SofficeCommand(dir, "--infilter=CSV:44,34,76,1 --convert-to xls --outdir " + Quote((dir / "ref-out").string()) +
                                " " + Quote((dir / "rows.csv").string()));

    // The expansion reads a workbook the output wrote, kept apart from the
    // output's target.
    output();
    const fs::path workbook = dir / "展開.xls";
    fs::copy_file(written, workbook);
    // A: the expansion job on it.
    auto expansion = [&] {
      QuietUi ui(base.folder);
      const CpuTimes cpu = CpuNow();
      const auto start = Clock::now();
      const auto outcome = pendra::schedule::subXlsToDb(ui, workbook.string());
      const double took = Seconds(start);
      cpuOf(cpu, expansionOurs, expansionOffice);
      Require(outcome, ui, "the expansion");
      expansionSteps = ui.Steps();
      return took;
    };
    // B: every sheet of the same workbook to CSV, then sqlite3 .import of
    // both sheets into empty copies of the tables.
    const fs::path refDb = dir / "reference.db";
    auto expansionReference = [&] {
      fs::remove_all(dir / "csv");
      fs::remove(refDb);
      Run("sqlite3 " + Quote(refDb.string()) +
          " 'CREATE TABLE GroupMaster (GPno, GP名称, 有効); CREATE TABLE KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値);'");
      const CpuTimes cpu = CpuNow();
      const auto start = Clock::now();
      Run(SofficeCommand(dir, "--convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1' "
                              "--outdir " + Quote((dir / "csv").string()) + " " + Quote(workbook.string())));
      Run("sqlite3 " + Quote(refDb.string()) + " '.mode csv' '.import --skip 1 " +
          (dir / "csv" / "展開-GroupMaster.csv").string() + " GroupMaster' '.import --skip 1 " +
          (dir / "csv" / "展開-KikiMaster.csv").string() + " KikiMaster'");
      const double took = Seconds(start);
      cpuOf(cpu, unused, expansionReferenceCpu);
      return took;
    };
    auto outputReferenceRun = [&] {
      const CpuTimes cpu = CpuNow();
      const double took = Timed(outputReference);
      cpuOf(cpu, unused, outputReferenceCpu);
      return took;
    };

    // The unmeasured rounds: the reference's profile is made, the job's
    // seed profile exists since the output above.
    for (int i = 0; i < warmup; ++i) {
      if (outputs) outputReferenceRun();
      if (expansions) {
        expansion();
        expansionReference();
      }
    }

    RecordOfficeVersion(dir / "reference-profile");
    for (auto* v : {&outputOurs, &outputOffice, &outputReferenceCpu, &expansionOurs, &expansionOffice, &expansionReferenceCpu})
      v->clear();  // the unmeasured rounds' do not count
    Pairs outputPairs, expansionPairs;
    for (int i = 0; i < pairs; ++i) {
      if (outputs) {
        const double a = output();
        outputPairs.Add(a, outputReferenceRun());
      }
      if (expansions) {
        const double a = expansion();
        expansionPairs.Add(a, expansionReference());
      }
    }

    std::printf("schedule exchange, %ld GroupMaster + %ld KikiMaster rows, median of %d alternated pairs\n", sizes.groups,
                sizes.kiki, pairs);
    std::printf("  load average before %s, after %s\n", loadBefore.c_str(), LoadAverage().c_str());
    if (outputs) {
      std::printf("  output     job %.2f s   reference soffice --convert-to xls %.2f s   %s (aim <= 1.15)\n",
                  outputPairs.MedianA(), outputPairs.MedianB(), outputPairs.RatioText().c_str());
      std::printf("             processor: job %.2f s (our process) + %.2f s (its office)   reference %.2f s\n",
                  Median(outputOurs), Median(outputOffice), Median(outputReferenceCpu));
      if (line.FlagOf("steps")) std::printf("             steps of the last output:\n%s", outputSteps.c_str());
    }
    if (expansions) {
      std::printf("  expansion  job %.2f s   reference --convert-to csv + sqlite3 .import %.2f s   %s (aim <= 1.15)\n",
                  expansionPairs.MedianA(), expansionPairs.MedianB(), expansionPairs.RatioText().c_str());
      std::printf("             processor: job %.2f s (our process) + %.2f s (its office)   reference %.2f s\n",
                  Median(expansionOurs), Median(expansionOffice), Median(expansionReferenceCpu));
      if (line.FlagOf("steps")) std::printf("             steps of the last expansion:\n%s", expansionSteps.c_str());
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
      std::printf("  backup     of the schedule database %.3f s   share of the expansion %.1f%% (aim <= 10%%)\n", backup,
                  100 * backup / expansionPairs.MedianA());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra-bench-schedule: %s\n", e.what());
    return 1;
  }
  return 0;
}
