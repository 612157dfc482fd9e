// The Access reading layer decoding every value of the 500,000-row table
// 大量 of ja_V2010.accdb, against mdb-export of the same table to /dev/null
// in the same run (libmdb's own text export, which decodes every value
// too). Best of the rounds for each. Prints the times and the ratio.
// Usage: pendra_mdb_bench [ACCESS_FILE [TABLE [rounds]]]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "core/PlatformError.h"
#include "mdb/AccessFile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

}  // namespace

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : PENDRA_ACCESS_TESTDATA "/ja_V2010.accdb";
  const std::string table = argc > 2 ? argv[2] : "大量";
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  if (access(file.c_str(), R_OK) != 0) {
    std::fprintf(stderr,
                 "pendra_mdb_bench: %s is absent. The 500,000-row file ja_V2010.accdb is not carried by the project;\n"
                 "place it there or pass its path as the first argument.\n",
                 file.c_str());
    return 2;
  }

  double ours = 1e9, reference = 1e9;
  size_t rows = 0, values = 0;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    try {
      pendra::mdb::ReadOptions options;
      options.rowsOf = [&](const std::string& name) { return name == table; };
      const auto database = pendra::mdb::ReadAccessFile(file, options);
      ours = std::min(ours, Seconds(start));
      for (const auto& t : database.tables) {
        if (t.name != table) continue;
        rows = t.rows.size();
        values = rows * t.columns.size();
      }
    } catch (const pendra::PlatformError& e) {
      std::fprintf(stderr, "pendra_mdb_bench: %ld: %s\n", e.Number(), e.Description().c_str());
      return 1;
    }
    start = Clock::now();
    const std::string command = "mdb-export '" + file + "' '" + table + "' > /dev/null";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "pendra_mdb_bench: mdb-export failed\n");
      return 1;
    }
    reference = std::min(reference, Seconds(start));
  }
  std::printf("Access reading, table %s: %zu rows, %zu values, best of %d\n", table.c_str(), rows, values, rounds);
  std::printf("  layer %.2f s   reference mdb-export > /dev/null %.2f s   ratio %.2f (aim <= 1.5)\n", ours, reference,
              ours / reference);
  return 0;
}
