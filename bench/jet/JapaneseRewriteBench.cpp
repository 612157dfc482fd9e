// RewriteTable of KikiMaster with 32,765 rows (tags of ASCII, kana with ー
// and voicing, and kanji whose Japanese keys are known) into a copy of
// tests/data/access/ja_V2000.mdb whose text columns are in the Japanese sort
// order (1041), against the same rewrite into an unchanged copy (General
// Legacy). The two alternate, round after round; the medians and their
// ratio are printed (aim: <= 1.1). --help gives the options.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "JapaneseRelabel.h"
#include "Measure.h"
#include "access/AccessWriter.h"
#include "core/PlatformError.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Rows = std::vector<std::vector<pendra::Variant>>;
using pendra::jet::fixture::RelabelJapanese;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// タグ名 Text(32), 機器名称 Text(64), 開始操作値 Long, 終了操作値 Long, 更新日時 Date.
Rows KikiRows(size_t count) {
  const std::vector<std::string> stems = {"TAG", "ポンプ", "コーヒー", "ﾌﾞﾛﾜｰ", "株式会社", "がっこう", "丸山マート"};
  Rows rows;
  for (size_t i = 0; i < count; ++i)
    rows.push_back({pendra::Variant(stems[i % stems.size()] + std::to_string(100000 + i)), pendra::Variant("機器" + std::to_string(i % 500)),
                    pendra::Variant(static_cast<int32_t>(i)), pendra::Variant(static_cast<int32_t>(i * 2)),
                    pendra::Variant::Date(45000.0 + static_cast<double>(i) / 1440.0)});
  return rows;
}

double Rewrite(const std::string& path, const Rows& rows) {
  const auto start = Clock::now();
  pendra::access::RewriteTable(path, "KikiMaster", rows);
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  pendra::bench::CommandLine line("pendra_japanese_rewrite_bench",
                                  "Our writer rewriting KikiMaster into a copy of tests/data/access/ja_V2000.mdb whose text columns\n"
                                  "are in the Japanese sort order (1041), against the same rewrite into a General Legacy copy,\n"
                                  "in alternated pairs; the medians count.");
  line.Count("rows", 32765, 200, "rows written");
  line.Count("pairs", 7, 1, "alternated pairs");
  line.Parse(argc, argv);
  const int rounds = static_cast<int>(line.CountOf("pairs"));
  const fs::path folder = fs::temp_directory_path() / ("pendra-japanese-bench-" + std::to_string(getpid()));
  fs::create_directories(folder);
  const std::string source = std::string(PENDRA_ACCESS_TESTDATA) + "/ja_V2000.mdb";
  const std::string legacy = (folder / "legacy.mdb").string();
  const std::string japanese = (folder / "japanese.mdb").string();
  fs::copy_file(source, legacy);
  fs::copy_file(source, japanese);
  fs::permissions(legacy, fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(japanese, fs::perms::owner_read | fs::perms::owner_write);
  RelabelJapanese(japanese);
  const Rows rows = KikiRows(static_cast<size_t>(line.CountOf("rows")));
  pendra::bench::Pairs times;   // A: Japanese, B: General Legacy
  try {
    for (int round = 0; round < rounds; ++round) {
      // Alternated, each order first in every other round.
      if (round % 2 == 0) {
        const double l = Rewrite(legacy, rows);
        times.Add(Rewrite(japanese, rows), l);
      } else {
        const double j = Rewrite(japanese, rows);
        times.Add(j, Rewrite(legacy, rows));
      }
    }
  } catch (const pendra::PlatformError& e) {
    std::fprintf(stderr, "pendra_japanese_rewrite_bench: %ld %s\n", e.Number(), e.Description().c_str());
    fs::remove_all(folder);
    return 1;
  }
  fs::remove_all(folder);
  std::printf("rewrite of %zu rows, median of %d alternated pairs (load %s):\n", rows.size(), rounds,
              pendra::bench::LoadAverage().c_str());
  std::printf("  Japanese %.3f s   General Legacy %.3f s   %s (aim <= 1.1)\n", times.MedianA(), times.MedianB(),
              times.RatioText().c_str());
  return 0;
}
