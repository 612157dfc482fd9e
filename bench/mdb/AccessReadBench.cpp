// The Access reading layer decoding every value of a 500,000-row table,
// against mdb-export of the same table to /dev/null (libmdb's own text
// export, which decodes every value too), in alternated pairs; medians.
// Both sides run as programs of their own, so that each one's time counts
// its start and each one's peak memory is its own: ours is this program
// again (--read-once), its peak together with that of its reading child.
// Aims: <= 0.8 of mdb-export's time, <= 64 MiB in all.
//
// The table is made by the run itself: KikiMaster (text, long and date
// columns, an index) of a copy of tests/data/access/ja_V2016.accdb (ACE 16),
// filled by our own writer. --file and --table read an existing file instead.
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Measure.h"
#include "TemporaryFolder.h"
#include "core/PlatformError.h"
#include "access/AccessWriter.h"
#include "mdb/AccessFile.h"

using namespace pendra::bench;
namespace fs = std::filesystem;

namespace {

// The child's side: every value of the table read once, taken as it comes
// (as a job going through its rows takes them), then "rows values selfMiB
// childrenMiB" on standard output.
class CountedRows final : public pendra::mdb::RowReceiver {
 public:
  explicit CountedRows(std::string table) : table_(std::move(table)) {}
  void Format(const std::string&) override {}
  void Table(const pendra::mdb::AccessTable& design) override {
    ours_ = design.name == table_;
    found_ = found_ || ours_;
  }
  void Row(const pendra::mdb::AccessRow& row, uint32_t, std::string_view) override {
    if (!ours_) return;
    ++rows;
    values += row.size();
  }
  bool Found() const { return found_; }
  size_t rows = 0, values = 0;

 private:
  std::string table_;
  bool ours_ = false, found_ = false;
};

int ReadOnce(const std::string& file, const std::string& table) {
  try {
    pendra::mdb::ReadOptions options;
    options.rowsOf = {{table}};
    CountedRows counted(table);
    pendra::mdb::ReadAccessFile(file, options, counted);
    if (counted.Found()) {
      std::printf("%zu %zu %.3f %.3f\n", counted.rows, counted.values, PeakSelfMiB(), PeakChildrenMiB());
      return 0;
    }
    std::fprintf(stderr, "pendra_mdb_bench: no table %s in %s\n", table.c_str(), file.c_str());
  } catch (const pendra::PlatformError& e) {
    std::fprintf(stderr, "pendra_mdb_bench: %ld: %s\n", e.Number(), e.Description().c_str());
  }
  return 1;
}

// rows KikiMaster rows (タグ名 Text(32), 機器名称 Text(64), 開始操作値 Long,
// 終了操作値 Long, 更新日時 Date) written into a copy of the shipped file.
void MakeTable(const std::string& file, long rows) {
  CopyWritable(PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb", file);
  std::vector<std::vector<pendra::Variant>> values;
  values.reserve(static_cast<size_t>(rows));
  for (long i = 0; i < rows; ++i)
    values.push_back({pendra::Variant("TAG-" + std::to_string(1000000 + i)),
                      pendra::Variant("ポンプ" + std::to_string(i % 500) + "号機 流量 " + std::to_string(i)),
                      pendra::Variant(static_cast<int32_t>(i)), pendra::Variant(static_cast<int32_t>(i % 1000 - 500)),
                      pendra::Variant::Date(45000.0 + static_cast<double>(i) / 1440.0)});
  pendra::access::RewriteTable(file, "KikiMaster", values);
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line("pendra_mdb_bench",
                   "The Access reading layer reading every value of a large table, against mdb-export of the same\n"
                   "table, in alternated pairs: time and peak memory (ours with its reading child).");
  line.Count("rows", 500000, 2000, "rows of the table the run writes");
  line.PairsOption(5);
  line.Count("warmup", 1, 0, "unmeasured rounds first", 0);
  line.Text("file", "read this Access file instead of writing one");
  line.Text("table", "the table of --file to read");
  line.Text("write-only", "write the table into this new file and stop (for a look at it with other tools)");
  line.Flag("read-once", "(used by the benchmark itself) read --table of --file once in this process");
  line.Parse(argc, argv);
  if (line.FlagOf("read-once")) return ReadOnce(line.TextOf("file"), line.TextOf("table"));
  if (line.TextOf("file").empty() != line.TextOf("table").empty()) {
    std::fprintf(stderr, "pendra_mdb_bench: --file and --table go together\n");
    return 2;
  }
  if (!line.TextOf("write-only").empty()) {
    try {
      MakeTable(line.TextOf("write-only"), line.CountOf("rows"));
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "pendra_mdb_bench: %s\n", e.what());
      return 1;
    }
  }
  const int pairs = line.PairCount(), warmup = static_cast<int>(line.CountOf("warmup"));

  try {
    const TemporaryFolder dir("pendra-mdb-bench");
    std::string file = line.TextOf("file"), table = line.TextOf("table");
    if (file.empty()) {
      file = (dir / "large.accdb").string();
      table = "KikiMaster";
      const double took = TimeOf([&] { MakeTable(file, line.CountOf("rows")); });
      std::printf("wrote %ld rows of %s into %s (%ju bytes) in %.1f s\n", line.CountOf("rows"), table.c_str(),
                  file.c_str(), static_cast<uintmax_t>(fs::file_size(file)), took);
    }
    const std::vector<std::string> ours = {SelfPath(), "--read-once", "--file", file, "--table", table};
    const std::vector<std::string> reference = {"mdb-export", file, table};
    const std::string loadBefore = LoadAverage();
    for (int i = 0; i < warmup; ++i) {
      RunChild(ours, true);
      RunChild(reference);
    }
    Pairs times;
    std::vector<double> ourPeaks, theirPeaks;
    double selfPeak = 0, childPeak = 0;
    size_t rows = 0, values = 0;
    const auto layer = [&] {
      const auto a = RunChild(ours, true);
      std::istringstream in(a.output);
      double self = 0, child = 0;
      if (!(in >> rows >> values >> self >> child)) throw std::runtime_error("no figures: " + a.output);
      ourPeaks.push_back(self + child);
      if (self + child >= selfPeak + childPeak) selfPeak = self, childPeak = child;
      return a.seconds;
    };
    const auto mdbExport = [&] {
      const auto b = RunChild(reference);
      theirPeaks.push_back(b.peakMiB);
      return b.seconds;
    };
    times.Take(pairs, layer, mdbExport);
    std::printf("Access reading, table %s: %zu rows, %zu values, median of %d alternated pairs\n", table.c_str(), rows,
                values, pairs);
    std::printf("  load average before %s, after %s\n", loadBefore.c_str(), LoadAverage().c_str());
    std::printf("  time    layer %.2f s   reference mdb-export > /dev/null %.2f s   %s (aim <= 0.8)\n", times.MedianA(),
                times.MedianB(), times.RatioText().c_str());
    std::printf("  memory  layer %.1f MiB (reader %.1f + reading child %.1f at the highest)   mdb-export %.1f MiB (aim <= 64)\n",
                Median(ourPeaks), selfPeak, childPeak, Median(theirPeaks));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra_mdb_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
