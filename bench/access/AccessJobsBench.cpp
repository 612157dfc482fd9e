// The jobs on a genuine Access database against the same jobs on our own
// SQLite database, alternated in one run (medians of the pairs):
//   expansion  1000 + 32765 rows into OV_DataBase/Orvik.mdb   (aim <= 1.1)
//   tag import 100,000 records (50,000 tags, each added then updated) into
//              VL_Database/Velmora.mdb: time (aim <= 1.5) and peak memory,
//              the job's process and the reading child together (aim
//              <= 96 MiB). Each import runs in a process of its own (this
//              program again, --import-once), so that its peak is its own.
// The Access file is a copy of tests/data/access/ja_V2016.accdb (ACE 16);
// its size is printed before, after one job and after every round.
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "LargeTables.h"
#include "Measure.h"
#include "TemporaryFolder.h"
#include "ScheduleJobs.h"
#include "excel/Excel.h"
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

// records over records / 2 tags: the first of each adds, the second updates.
void WriteMasterFile(const fs::path& path, long records) {
  std::ofstream csv(path, std::ios::binary);
  csv << "TAG_ID,TAG,TAG_NAME,DIGIT,MAX,MIN,L_NO,M_NO,S_NO,UNIT_NO,COLLECT,TOTAL_FLG,AVE_FLG,MAX_FLG,MIN_FLG,TYPE,"
         "P_TYPE,P_MAX,FACTOR,A,B,C,D,E,F,CALC\r\n";
  const long tags = std::max(1L, records / 2);
  for (long i = 0; i < records; ++i) {
    const long tag = i % tags;
    csv << ToCp932(std::to_string(i + 1) + ",TAG-" + std::to_string(tag) + ",ﾀﾝｸ" + std::to_string(tag % 97) +
                   "号 流量① " + std::to_string(i) + ",X.0," + std::to_string(100 + i % 900) +
                   ",0,1,2,3,4,1,-1,0,-1,,1,0,,1.5,A,,,,,,")
        << "\r\n";
  }
}

size_t Size(const std::string& path) { return static_cast<size_t>(fs::file_size(path)); }

// The child's side of a measured import: the job once on the base folder,
// then "seconds selfMiB childrenMiB" on standard output. Exits 1 when the
// job did not complete.
int ImportOnce(const std::string& base, const std::string& master) {
  QuietUi ui(base);
  ui.path = master;
  pendra::JobOutcome outcome;
  const double took = TimeOf([&] { outcome = pendra::tagimport::Command1_Click(ui); });
  if (!outcome.IsCompleted()) {
    std::fprintf(stderr, "pendra-bench-access: the import did not complete: %s\n", ui.last.c_str());
    return 1;
  }
  std::printf("%.6f %.3f %.3f\n", took, PeakSelfMiB(), PeakChildrenMiB());
  return 0;
}

struct Import {
  double seconds = 0, selfMiB = 0, childMiB = 0;
  double Peak() const { return selfMiB + childMiB; }
};

Import MeasuredImport(const std::string& base, const std::string& master) {
  const auto run = RunChild({SelfPath(), "--import-once", "--base", base, "--master", master}, true);
  Import import;
  std::istringstream in(run.output);
  if (!(in >> import.seconds >> import.selfMiB >> import.childMiB)) throw std::runtime_error("no figures: " + run.output);
  return import;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line("pendra-bench-access",
                   "The expansion and the tag import on a genuine Access database (ACE 16) against the same jobs\n"
                   "on our own SQLite database, in alternated pairs; the import's peak memory with its reading child.");
  line.PairsOption(5);
  line.Count("groups", 1000, 10, "GroupMaster rows of the expansion");
  line.Count("kiki", 32765, 100, "KikiMaster rows of the expansion");
  line.Count("records", 100000, 200, "records of the tag import (half of them updates)");
  line.Text("only", "expansion or tagimport: that job alone");
  line.Flag("import-once", "(used by the benchmark itself) one import on --base with --master, in this process");
  line.Text("base", "(with --import-once) the base folder");
  line.Text("master", "(with --import-once) the master file");
  line.Parse(argc, argv);
  if (line.FlagOf("import-once")) return ImportOnce(line.TextOf("base"), line.TextOf("master"));
  const std::string only = line.TextOf("only");
  if (!only.empty() && only != "expansion" && only != "tagimport") {
    std::fprintf(stderr, "pendra-bench-access: --only takes expansion or tagimport\n");
    return 2;
  }
  const bool expansions = only != "tagimport", imports = only != "expansion";
  const int pairs = line.PairCount();
  const TableSizes sizes{line.CountOf("groups"), line.CountOf("kiki")};
  const long records = line.CountOf("records");

  // Offices of others on a shared machine (other test runs, a person's
  // Calc) must not turn a round into a refusal.
  pendra::excel::SetProbeScope([](pid_t) { return false; });
  try {
    const TemporaryFolder dir("pendra-bench-access");
    const auto ours = LargeBaseFolder(dir / "sqlite", sizes);
    const auto theirs = LargeBaseFolder(dir / "access", sizes);
    const std::string access = PENDRA_ACCESS_TESTDATA "/ja_V2016.accdb";
    CopyWritable(access, theirs.scheduleDb, true);
    CopyWritable(access, theirs.tagMasterDb, true);
    std::printf("jobs on a genuine Access database (ACE 16) against our own SQLite database, median of %d alternated pairs\n",
                pairs);
    std::printf("  load average before %s\n", LoadAverage().c_str());

    if (imports) {
      const fs::path master = dir / "ﾏｽﾀｰ情報.csv";
      WriteMasterFile(master, records);
      const fs::path pristineTags = dir / "velmora-pristine", pristineAccess = dir / "access-pristine";
      fs::copy_file(ours.tagMasterDb, pristineTags);
      fs::copy_file(theirs.tagMasterDb, pristineAccess);
      const size_t tagsBefore = Size(theirs.tagMasterDb);
      size_t tagsAfter = 0;
      Pairs times;
      Import accessPeak, sqlitePeak;
      auto measured = [&](const pendra::fixture::BaseFolder& base, const fs::path& pristine) {
        fs::copy_file(pristine, base.tagMasterDb, fs::copy_options::overwrite_existing);
        return MeasuredImport(base.folder, master.string());
      };
      times.Take(
          pairs,
          [&] {
            const Import a = measured(theirs, pristineAccess);
            if (a.Peak() > accessPeak.Peak()) accessPeak = a;
            tagsAfter = Size(theirs.tagMasterDb);
            return a.seconds;
          },
          [&] {
            const Import s = measured(ours, pristineTags);
            if (s.Peak() > sqlitePeak.Peak()) sqlitePeak = s;
            return s.seconds;
          });
      std::printf("  tag import %ld records   Access %.2f s   SQLite %.2f s   %s (aim <= 1.5)\n", records, times.MedianA(),
                  times.MedianB(), times.RatioText().c_str());
      std::printf("             peak memory   Access %.1f MiB (job %.1f + reading child %.1f)   SQLite %.1f MiB (aim <= 96)\n",
                  accessPeak.Peak(), accessPeak.selfMiB, accessPeak.childMiB, sqlitePeak.Peak());
      std::printf("             Velmora.mdb %zu bytes before, %zu after the import\n", tagsBefore, tagsAfter);
    }

    if (expansions) {
      // The workbook both expansions read: the output of our own database.
      const fs::path workbook = dir / "Pendra情報.xls";
      {
        QuietUi ui(ours.folder);
        Require(pendra::schedule::subDbToXls(ui, workbook.string()), ui, "the output");
      }
      const size_t scheduleBefore = Size(theirs.scheduleDb);
      size_t scheduleAfterOne = 0;
      auto expansion = [&](const pendra::fixture::BaseFolder& base) {
        QuietUi ui(base.folder);
        pendra::JobOutcome outcome;
        const double took = TimeOf([&] { outcome = pendra::schedule::subXlsToDb(ui, workbook.string()); });
        Require(outcome, ui, "the expansion");
        return took;
      };
      Pairs times;
      times.Take(
          pairs,
          [&] {
            const double took = expansion(theirs);
            if (scheduleAfterOne == 0) scheduleAfterOne = Size(theirs.scheduleDb);
            return took;
          },
          [&] { return expansion(ours); });
      std::printf("  expansion  %ld + %ld rows   Access %.2f s   SQLite %.2f s   %s (aim <= 1.1)\n", sizes.groups, sizes.kiki,
                  times.MedianA(), times.MedianB(), times.RatioText().c_str());
      std::printf("             Orvik.mdb %zu bytes before, %zu after one expansion, %zu after %d\n", scheduleBefore,
                  scheduleAfterOne, Size(theirs.scheduleDb), pairs);
    }
    std::printf("  load average after %s\n", LoadAverage().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra-bench-access: %s\n", e.what());
    return 1;
  }
  return 0;
}
