// The spare office the window keeps ready: the output and the expansion of
// the largest tables (1000 GroupMaster + 32765 KikiMaster rows) taking the
// spare instance (started before the clock runs, as the window starts it
// while the user chooses a file) against the same jobs starting their own
// instance, in pairs (cold, then warm) in the same run; the figures are the
// medians over the pairs. Also prints the memory the waiting spare holds and
// the load average.
// Usage: pendra-bench-warm-office [pairs]   (median of pairs, default 5)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "BenchSupport.h"
#include "Fixture.h"
#include "Messages.h"
#include "ScheduleJobs.h"
#include "core/UserInterface.h"
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
  const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  // Offices of others on a shared machine must not turn a round into a
  // refusal.
  pendra::excel::SetProbeScope([](pid_t) { return false; });
  std::string pattern = (fs::temp_directory_path() / "pendra-bench-warm-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path dir = pattern;
  try {
    const auto base = LargeBaseFolder(dir);
    const fs::path workbook = dir / "Pendra情報.xls";

    const std::string loadBefore = LoadAverage();
    double output[2] = {0, 0}, expansion[2] = {0, 0};  // [0] cold, [1] warm
    Pairs outputs, expansions;
    double spareMegabytes = 0;
    // One unmeasured round first: the seed profile is made, the files are
    // in the page cache.
    for (int i = -1; i < pairs; ++i) {
      for (int warm = 0; warm <= 1; ++warm) {
        if (warm) {
          pendra::excel::PrepareSpareInstance();
          spareMegabytes = std::max(spareMegabytes, ResidentMegabytes(pendra::excel::SpareInstancePid()));
        }
        fs::remove(workbook);
        QuietUi out(base.folder);
        auto start = Clock::now();
        pendra::schedule::subDbToXls(out, workbook.string());
        output[warm] = Seconds(start);
        Expect(out, pendra::schedule::msg::kOutputDone);

        if (warm) pendra::excel::PrepareSpareInstance();
        QuietUi in(base.folder);
        start = Clock::now();
        pendra::schedule::subXlsToDb(in, workbook.string());
        expansion[warm] = Seconds(start);
        Expect(in, pendra::schedule::msg::kExpansionDone);
      }
      if (i < 0) continue;
      outputs.Add(output[1], output[0]);
      expansions.Add(expansion[1], expansion[0]);
    }
    std::printf("spare office, %d GroupMaster + %d KikiMaster rows, median of %d alternated pairs\n", kGroups, kKiki,
                pairs);
    std::printf("  load average before %s, after %s\n", loadBefore.c_str(), LoadAverage().c_str());
    std::printf("  output     warm %.2f s   cold %.2f s   ratio %.2f (pairs %.2f; aim <= 0.6)\n", outputs.MedianA(),
                outputs.MedianB(), outputs.Ratio(), outputs.MedianOfRatios());
    std::printf("  expansion  warm %.2f s   cold %.2f s   ratio %.2f (pairs %.2f; aim <= 0.6)\n", expansions.MedianA(),
                expansions.MedianB(), expansions.Ratio(), expansions.MedianOfRatios());
    std::printf("  the waiting spare holds %.0f MB resident\n", spareMegabytes);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra-bench-warm-office: %s\n", e.what());
    fs::remove_all(dir);
    return 1;
  }
  fs::remove_all(dir);
  return 0;
}
