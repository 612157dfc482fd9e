// The jobs on a genuine Access database against the same jobs on our own
// SQLite database, alternated in one run (median of the rounds):
//   expansion  1000 + 32765 rows into OV_DataBase/Orvik.mdb   (aim <= 1.5)
//   tag import 100,000 records (50,000 tags, each added then updated) into
//              VL_Database/Velmora.mdb, where the whole M_TAG is rewritten
//              (aim <= 3)
// The Access file is a copy of tests/data/access/ja_V2016.accdb (ACE 16);
// its size is printed before, after one job and after every round.
// Usage: pendra-bench-access [rounds]   (default 5)
#include <iconv.h>
#include <stdlib.h>

#include <algorithm>
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
#include "TagMasterUpdate.h"

using namespace pendra::bench;

namespace {

std::string ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size(), outLeft = out.size();
  char* to = out.data();
  if (iconv(cd, &in, &inLeft, &to, &outLeft) == static_cast<size_t>(-1)) throw std::runtime_error("iconv");
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// 100,000 records over 50,000 tags: the first of each adds, the second updates.
void WriteMasterFile(const fs::path& path) {
  std::ofstream csv(path, std::ios::binary);
  csv << "TAG_ID,TAG,TAG_NAME,DIGIT,MAX,MIN,L_NO,M_NO,S_NO,UNIT_NO,COLLECT,TOTAL_FLG,AVE_FLG,MAX_FLG,MIN_FLG,TYPE,"
         "P_TYPE,P_MAX,FACTOR,A,B,C,D,E,F,CALC\r\n";
  for (int i = 0; i < 100000; ++i) {
    const int tag = i % 50000;
    csv << ToCp932(std::to_string(i + 1) + ",TAG-" + std::to_string(tag) + ",ﾀﾝｸ" + std::to_string(tag % 97) +
                   "号 流量① " + std::to_string(i) + ",X.0," + std::to_string(100 + i % 900) +
                   ",0,1,2,3,4,1,-1,0,-1,,1,0,,1.5,A,,,,,,")
        << "\r\n";
  }
}

size_t Size(const std::string& path) { return static_cast<size_t>(fs::file_size(path)); }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::string pattern = (fs::temp_directory_path() / "pendra-bench-access-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path dir = pattern;
  try {
    const auto ours = LargeBaseFolder(dir / "sqlite");
    const auto theirs = LargeBaseFolder(dir / "access");
    const std::string access = PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb";
    fs::copy_file(access, theirs.scheduleDb, fs::copy_options::overwrite_existing);
    fs::copy_file(access, theirs.tagMasterDb, fs::copy_options::overwrite_existing);

    // The workbook both expansions read: the output of our own database.
    const fs::path workbook = dir / "Pendra情報.xls";
    {
      QuietUi ui(ours.folder);
      pendra::schedule::subDbToXls(ui, workbook.string());
      Expect(ui, pendra::schedule::msg::kOutputDone);
    }
    const size_t scheduleBefore = Size(theirs.scheduleDb);
    size_t scheduleAfterOne = 0;
    std::vector<double> sqliteExpansion, accessExpansion;
    for (int i = 0; i < rounds; ++i) {
      for (const auto* base : {&ours, &theirs}) {
        QuietUi ui(base->folder);
        const auto start = Clock::now();
        pendra::schedule::subXlsToDb(ui, workbook.string());
        (base == &ours ? sqliteExpansion : accessExpansion).push_back(Seconds(start));
        Expect(ui, pendra::schedule::msg::kExpansionDone);
      }
      if (i == 0) scheduleAfterOne = Size(theirs.scheduleDb);
    }

    const fs::path master = dir / "ﾏｽﾀｰ情報.csv";
    WriteMasterFile(master);
    const fs::path pristineTags = dir / "velmora-pristine", pristineAccess = dir / "access-pristine";
    fs::copy_file(ours.tagMasterDb, pristineTags);
    fs::copy_file(theirs.tagMasterDb, pristineAccess);
    const size_t tagsBefore = Size(theirs.tagMasterDb);
    size_t tagsAfter = 0;
    std::vector<double> sqliteImport, accessImport;
    for (int i = 0; i < rounds; ++i) {
      for (const auto* base : {&ours, &theirs}) {
        fs::copy_file(base == &ours ? pristineTags : pristineAccess, base->tagMasterDb, fs::copy_options::overwrite_existing);
        QuietUi ui(base->folder);
        ui.path = master.string();
        const auto start = Clock::now();
        const auto outcome = pendra::tagimport::Command1_Click(ui);
        (base == &ours ? sqliteImport : accessImport).push_back(Seconds(start));
        if (!outcome.IsCompleted()) throw std::runtime_error("the import did not complete: " + ui.last);
      }
      tagsAfter = Size(theirs.tagMasterDb);
    }

    const double e = Median(accessExpansion), es = Median(sqliteExpansion);
    const double t = Median(accessImport), ts = Median(sqliteImport);
    std::printf("jobs on a genuine Access database (ACE 16) against our own SQLite database, median of %d alternated rounds\n", rounds);
    std::printf("  expansion  %d + %d rows   Access %.2f s   SQLite %.2f s   ratio %.2f (aim <= 1.5)\n", kGroups, kKiki, e, es, e / es);
    std::printf("             Orvik.mdb %zu bytes before, %zu after one expansion, %zu after %d\n", scheduleBefore,
                scheduleAfterOne, Size(theirs.scheduleDb), rounds);
    std::printf("  tag import 100000 records   Access %.2f s   SQLite %.2f s   ratio %.2f (aim <= 3)\n", t, ts, t / ts);
    std::printf("             Velmora.mdb %zu bytes before, %zu after the import\n", tagsBefore, tagsAfter);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra-bench-access: %s\n", e.what());
    fs::remove_all(dir);
    return 1;
  }
  fs::remove_all(dir);
  return 0;
}
