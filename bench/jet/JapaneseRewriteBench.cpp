// RewriteTable of KikiMaster with 32,765 rows (tags of ASCII, kana with ー
// and voicing, and kanji whose Japanese keys are known) into a copy of
// tests/data/access/ja_V2000.mdb whose text columns are in the Japanese sort
// order (1041), against the same rewrite into an unchanged copy (General
// Legacy). The two alternate, round after round; the medians and their
// ratio are printed (aim: <= 1.1).
// Usage: pendra_japanese_rewrite_bench [rounds]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/PlatformError.h"
#include "jet/Catalog.h"
#include "jet/JetFile.h"
#include "jet/TableDefinition.h"
#include "jet/TableRewrite.h"
#include "mdb/AccessFile.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Rows = std::vector<std::vector<pendra::Variant>>;
using namespace pendra::jet;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

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

// Gives every text column of the user tables the sort order 1041, version 0.
void RelabelJapanese(const std::string& path) {
  JetFile file(path);
  for (const CatalogEntry& entry : ReadCatalog(file)) {
    if (entry.system) continue;
    const TableDefinition table = ReadTableDefinition(file, entry.definitionPage);
    for (const Column& column : table.columns) {
      if (column.type != static_cast<int>(pendra::mdb::AccessType::Text)) continue;
      const DefinitionPlace place = PlaceOf(file, table, column.descriptorAt + file.layout().columnSortOrder);
      const size_t at = static_cast<size_t>(place.page) * file.PageSize() + place.offset;
      file.bytes()[at] = static_cast<char>(1041 & 0xFF);
      file.bytes()[at + 1] = static_cast<char>(1041 >> 8);
      file.bytes()[at + 3] = 0;
    }
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file.bytes();
}

double Rewrite(const std::string& path, const Rows& rows) {
  const auto start = Clock::now();
  RewriteTable(path, "KikiMaster", rows);
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
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
  const Rows rows = KikiRows(32765);
  try {
    std::vector<double> legacyTimes, japaneseTimes;
    for (int round = 0; round < rounds; ++round) {
      // Alternated, each order first in every other round.
      if (round % 2 == 0) {
        legacyTimes.push_back(Rewrite(legacy, rows));
        japaneseTimes.push_back(Rewrite(japanese, rows));
      } else {
        japaneseTimes.push_back(Rewrite(japanese, rows));
        legacyTimes.push_back(Rewrite(legacy, rows));
      }
    }
    const double l = Median(legacyTimes), j = Median(japaneseTimes);
    std::printf("rewrite of 32,765 rows, median of %d: General Legacy %.3f s, Japanese %.3f s, ratio %.3f (aim <= 1.1)\n", rounds, l,
                j, j / l);
  } catch (const pendra::PlatformError& e) {
    std::fprintf(stderr, "pendra_japanese_rewrite_bench: %ld %s\n", e.Number(), e.Description().c_str());
    fs::remove_all(folder);
    return 1;
  }
  fs::remove_all(folder);
  return 0;
}
