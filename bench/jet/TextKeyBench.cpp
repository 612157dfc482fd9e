// Keying the texts of a text index, as the index builder will: 100,000
// texts (equipment codes in mixed case, Japanese names, a few emoji) keyed
// in General Legacy and the keys sorted, against SQLite building an index
// over the same texts in memory (CREATE INDEX ... COLLATE NOCASE, which also
// folds and sorts). The two are run alternately, several rounds; the
// medians and their ratio are printed, and the time the first key takes
// (reading the embedded code table).
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Measure.h"
#include "jet/JetText.h"
#include "jet/TextKey.h"

using namespace pendra::jet;

namespace {

using pendra::bench::Median;
using pendra::bench::Seconds;

std::vector<std::u16string> Texts(std::size_t count) {
  std::mt19937 random(20261207);
  const std::u16string kana = u"あいうえおかきくけこがぎぐげごアイウエオカキクケコｱｲｳｴｵ";
  const std::u16string kanji = u"漢字仮名交文機器点検設備管理番号東京大阪";
  std::vector<std::u16string> texts;
  for (std::size_t i = 0; i < count; ++i) {
    std::u16string text;
    switch (random() % 4) {
      case 0:  // an equipment code, mixed case
        text = (random() % 2 ? u"T" : u"t") + std::u16string(u"-");
        for (int d = 0; d < 6; ++d) text += static_cast<char16_t>(u'0' + random() % 10);
        break;
      case 1:
      case 2:  // a Japanese name
        for (int k = 0, n = 3 + static_cast<int>(random() % 8); k < n; ++k)
          text += k % 3 == 0 ? kanji[random() % kanji.size()] : kana[random() % kana.size()];
        break;
      default:  // words, some with an emoji
        text = u"Pump Station ";
        text += static_cast<char16_t>(u'A' + random() % 26);
        if (random() % 4 == 0) text += u" 😀";
        break;
    }
    texts.push_back(std::move(text));
  }
  return texts;
}

// Returns the time of the keying alone in `keying`.
double KeyAndSort(const std::vector<std::u16string>& texts, double& keying) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> keys(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) AppendTextKey(texts[i], SortOrder::GeneralLegacy, keys[i]);
  keying = Seconds(start);
  std::sort(keys.begin(), keys.end());
  return Seconds(start);
}

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error);
    std::exit(1);
  }
}

double SqliteIndex(sqlite3* db) {
  const auto start = std::chrono::steady_clock::now();
  Exec(db, "CREATE INDEX k ON t(x COLLATE NOCASE)");
  const double seconds = Seconds(start);
  Exec(db, "DROP INDEX k");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  pendra::bench::CommandLine line("pendra_textkey_bench",
                                  "Keying and sorting the texts of a text index in General Legacy, against SQLite building an\n"
                                  "index over the same texts (COLLATE NOCASE), in alternated rounds; the medians count.");
  line.Count("texts", 100000, 2000, "texts keyed");
  line.Count("pairs", 7, 1, "alternated rounds");
  line.Parse(argc, argv);
  const auto count = static_cast<std::size_t>(line.CountOf("texts"));
  const int rounds = static_cast<int>(line.CountOf("pairs"));
  const std::vector<std::u16string> texts = Texts(count);

  auto start = std::chrono::steady_clock::now();
  std::string first;
  AppendTextKey(u"a", SortOrder::GeneralLegacy, first);
  const double firstKey = Seconds(start);

  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  Exec(db, "CREATE TABLE t(x TEXT)");
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?)", -1, &insert, nullptr);
  for (const std::u16string& text : texts) {
    const std::string utf8 = pendra::jet::Utf16ToUtf8(text);
    sqlite3_bind_text(insert, 1, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");

  pendra::bench::Pairs times;
  std::vector<double> keyingOnly;
  for (int round = 0; round < rounds; ++round) {
    double keying = 0;
    const double ours = KeyAndSort(texts, keying);
    keyingOnly.push_back(keying);
    times.Add(ours, SqliteIndex(db));
  }
  sqlite3_close(db);

  const double a = times.MedianA(), b = times.MedianB();
  std::printf("texts: %zu, rounds: %d\n", count, rounds);
  std::printf("first key (reads the code table): %.2f ms\n", firstKey * 1e3);
  const double k = Median(keyingOnly);
  std::printf("keys alone (General Legacy):       %.1f ms median (%.0f ns per text)\n", k * 1e3,
              k * 1e9 / static_cast<double>(count));
  std::printf("keys + sort:                       %.1f ms median\n", a * 1e3);
  std::printf("SQLite CREATE INDEX COLLATE NOCASE: %.1f ms median\n", b * 1e3);
  std::printf("keys/SQLite: %s\n", times.RatioText().c_str());
  return 0;
}
