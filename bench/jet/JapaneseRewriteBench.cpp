// RewriteTable of KikiMaster with 32,765 rows (tags of ASCII, kana with ー
// and voicing, and kanji whose Japanese keys are known) into a copy of
// tests/data/access/ja_V2000.mdb whose text columns are in the Japanese sort
// order (1041), against the same rewrite into an unchanged copy (General
// Legacy). The two alternate, round after round; the medians and their
// ratio are printed (aim: <= 1.1). --help gives the options.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "JapaneseRelabel.h"
#include "Measure.h"
#include "TemporaryFolder.h"
#include "access/AccessWriter.h"
#include "core/PlatformError.h"

namespace {

using Rows = std::vector<std::vector<pendra::Variant>>;
using namespace pendra::bench;
using pendra::jet::fixture::RelabelJapanese;

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

}  // namespace

int main(int argc, char** argv) {
  CommandLine line("pendra_japanese_rewrite_bench",
                   "Our writer rewriting KikiMaster into a copy of tests/data/access/ja_V2000.mdb whose text columns\n"
                   "are in the Japanese sort order (1041), against the same rewrite into a General Legacy copy,\n"
                   "in alternated pairs; the medians count.");
  line.Count("rows", 32765, 200, "rows written");
  line.PairsOption(7);
  line.Parse(argc, argv);
  const int rounds = line.PairCount();
  const Rows rows = KikiRows(static_cast<size_t>(line.CountOf("rows")));
  Pairs times;  // A: Japanese, B: General Legacy
  try {
    const TemporaryFolder folder("pendra-japanese-bench");
    const std::string source = std::string(PENDRA_ACCESS_TESTDATA) + "/ja_V2000.mdb";
    const std::string legacy = folder.CopyIn(source, "legacy.mdb");
    const std::string japanese = folder.CopyIn(source, "japanese.mdb");
    RelabelJapanese(japanese);
    auto rewrite = [&rows](const std::string& path) {
      return [&rows, path] { return TimeOf([&] { pendra::access::RewriteTable(path, "KikiMaster", rows); }); };
    };
    times.Take(rounds, rewrite(japanese), rewrite(legacy), Pairs::Order::Alternating);
  } catch (const pendra::PlatformError& e) {
    std::fprintf(stderr, "pendra_japanese_rewrite_bench: %ld %s\n", e.Number(), e.Description().c_str());
    return 1;
  }
  std::printf("rewrite of %zu rows, median of %d alternated pairs (load %s):\n", rows.size(), rounds,
              LoadAverage().c_str());
  std::printf("  Japanese %.3f s   General Legacy %.3f s   %s (aim <= 1.1)\n", times.MedianA(), times.MedianB(),
              times.RatioText().c_str());
  return 0;
}
