// The spare office the window keeps ready: the output and the expansion of
// the largest tables (1000 GroupMaster + 32765 KikiMaster rows) taking the
// spare instance (started before the clock runs, as the window starts it
// while the user chooses a file) against the same jobs starting their own
// instance, in pairs (cold, then warm) in the same run; the figures are the
// medians over the pairs. Also prints the memory the waiting spare holds and
// the load average.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "CommandLine.h"
#include "LargeTables.h"
#include "Measure.h"
#include "TemporaryFolder.h"
#include "ScheduleJobs.h"
#include "excel/Excel.h"

using namespace pendra::bench;

namespace {

// Resident memory of a process in megabytes.
double ResidentMegabytes(pid_t pid) {
  FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/statm").c_str(), "r");
  if (!f) return 0;
  unsigned long size = 0, resident = 0;
  const int n = std::fscanf(f, "%lu %lu", &size, &resident);
  std::fclose(f);
  return n == 2 ? resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024 * 1024) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line("pendra-bench-warm-office",
                   "The output and the expansion of the schedule tables taking the spare office the window keeps\n"
                   "ready, against the same jobs starting their own office, in alternated pairs (cold, then warm).");
  line.PairsOption(5);
  line.Count("warmup", 1, 0, "unmeasured rounds first", 0);
  line.Count("groups", 1000, 10, "GroupMaster rows");
  line.Count("kiki", 32765, 100, "KikiMaster rows");
  line.Parse(argc, argv);
  const int pairs = line.PairCount(), warmup = static_cast<int>(line.CountOf("warmup"));
  const TableSizes sizes{line.CountOf("groups"), line.CountOf("kiki")};
  // Offices of others on a shared machine must not turn a round into a
  // refusal.
  pendra::excel::SetProbeScope([](pid_t) { return false; });
  try {
    const TemporaryFolder folder("pendra-bench-warm");
    const fs::path& dir = folder.Path();
    const auto base = LargeBaseFolder(dir, sizes);
    const fs::path workbook = dir / "Pendra情報.xls";

    const std::string loadBefore = LoadAverage();
    double output[2] = {0, 0}, expansion[2] = {0, 0};  // [0] cold, [1] warm
    Pairs outputs, expansions;
    double spareMegabytes = 0;
    // Unmeasured rounds first: the seed profile is made, the files are in
    // the page cache.
    for (int i = -warmup; i < pairs; ++i) {
      for (int warm = 0; warm <= 1; ++warm) {
        if (warm) {
          pendra::excel::PrepareSpareInstance();
          spareMegabytes = std::max(spareMegabytes, ResidentMegabytes(pendra::excel::SpareInstancePid()));
        }
        fs::remove(workbook);
        QuietUi out(base.folder);
        auto start = Clock::now();
        const auto outputOutcome = pendra::schedule::subDbToXls(out, workbook.string());
        output[warm] = Seconds(start);
        Require(outputOutcome, out, "the output");

        if (warm) pendra::excel::PrepareSpareInstance();
        QuietUi in(base.folder);
        start = Clock::now();
        const auto expansionOutcome = pendra::schedule::subXlsToDb(in, workbook.string());
        expansion[warm] = Seconds(start);
        Require(expansionOutcome, in, "the expansion");
      }
      if (i < 0) continue;
      outputs.Add(output[1], output[0]);
      expansions.Add(expansion[1], expansion[0]);
    }
    std::printf("spare office, %ld GroupMaster + %ld KikiMaster rows, median of %d alternated pairs\n", sizes.groups,
                sizes.kiki, pairs);
    std::printf("  load average before %s, after %s\n", loadBefore.c_str(), LoadAverage().c_str());
    std::printf("  output     warm %.2f s   cold %.2f s   %s (aim <= 0.6)\n", outputs.MedianA(), outputs.MedianB(),
                outputs.RatioText().c_str());
    std::printf("  expansion  warm %.2f s   cold %.2f s   %s (aim <= 0.6)\n", expansions.MedianA(), expansions.MedianB(),
                expansions.RatioText().c_str());
    std::printf("  the waiting spare holds %.0f MB resident\n", spareMegabytes);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra-bench-warm-office: %s\n", e.what());
    return 1;
  }
  return 0;
}
