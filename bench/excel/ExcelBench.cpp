// Writes 32765 rows x 4 columns (a full KikiMaster sheet) through
// Cells().Value, one call per cell as the jobs do, saves the workbook as
// .xls, reads every cell back, and compares with the reference measured in
// the same run, in alternated pairs: `soffice --headless --convert-to xls`
// of the same rows as CSV, on a warm private profile. The medians count.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Measure.h"
#include "OfficeProfile.h"
#include "TemporaryFolder.h"
#include "core/PlatformError.h"
#include "excel/Excel.h"

namespace {

using namespace pendra;
using namespace pendra::bench;
namespace fs = std::filesystem;

Variant Cell(long row, int column) {
  switch (column) {
    case 1: return Variant("TAG-" + std::to_string(100000 + row));
    case 2: return Variant("機器名称" + std::to_string(row));
    case 3: return Variant(static_cast<int16_t>(row % 2));
    default: return Variant(static_cast<double>(row) / 4.0);
  }
}

std::string ReferenceCommand(const fs::path& dir, long rows) {
  const fs::path csv = dir / "rows.csv";
  std::ofstream out(csv);
  for (long r = 2; r < 2 + rows; ++r)
    out << Cell(r, 1).StringValue() << ',' << Cell(r, 2).StringValue() << ',' << r % 2 << ',' << Cell(r, 4).ToText()
        << '\n';
  return "soffice --headless --norestore -env:UserInstallation=file://" + (dir / "profile").string() +
         " --infilter=CSV:44,34,76,1 --convert-to xls --outdir '" + (dir / "out").string() + "' '" + csv.string() +
         "' >/dev/null 2>&1";
}

struct LayerRun {
  double start = 0, add = 0, cells = 0, save = 0, open = 0, read = 0, all = 0;
  long mismatches = 0;
};

LayerRun Layer(const fs::path& dir, long rows) {
  LayerRun run;
  const fs::path saved = dir / "layer.xls";
  fs::remove(saved);
  const auto total = Clock::now();
  auto app = excel::CreateObject();
  run.start = Seconds(total);
  const auto adding = Clock::now();
  auto workbook = app->Workbooks().Add();
  run.add = Seconds(adding);
  auto sheet = workbook->Sheets("Sheet1");
  const auto writing = Clock::now();
  for (long r = 2; r < 2 + rows; ++r)
    for (int c = 1; c <= 4; ++c) sheet.Cells(static_cast<int16_t>(r), static_cast<int16_t>(c)).SetValue(Cell(r, c));
  workbook->Windows("Book1").SetVisible(true);  // the cells go over here
  run.cells = Seconds(writing);
  const auto saving = Clock::now();
  workbook->SaveAs(saved.string());
  run.save = Seconds(saving);

  const auto reading = Clock::now();
  auto reopened = excel::GetObject(saved.string());
  run.open = Seconds(reading);
  auto readSheet = reopened->Sheets("Sheet1");
  const auto readCells = Clock::now();
  for (long r = 2; r < 2 + rows; ++r)
    for (int c = 1; c <= 4; ++c) {
      Variant expected = Cell(r, c);
      if (c == 3) expected = Variant(static_cast<double>(r % 2));
      if (!(readSheet.Cells(static_cast<int16_t>(r), static_cast<int16_t>(c)).Value() == expected)) ++run.mismatches;
    }
  run.read = Seconds(readCells);
  app->Quit();
  run.all = Seconds(total);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line("pendra-bench-excel",
                   "Cells written one call each through the spreadsheet layer and saved as .xls, against soffice\n"
                   "--convert-to xls of the same rows as CSV, in alternated pairs; every cell is read back and checked.");
  line.Count("rows", 32765, 100, "rows of 4 cells");
  line.PairsOption(5);
  line.Count("warmup", 1, 0, "unmeasured rounds first (the reference's profile is made)", 0);
  line.Parse(argc, argv);
  const long rows = line.CountOf("rows");
  const int pairs = line.PairCount();

  try {
    const TemporaryFolder dir("pendra-bench");
    const std::string reference = ReferenceCommand(dir.Path(), rows);
    const std::string loadBefore = LoadAverage();
    for (long i = 0; i < line.CountOf("warmup"); ++i) {
      Layer(dir.Path(), rows);
      Run(reference);
    }
    RecordOfficeVersion(dir.Path() / "profile");
    Pairs writes;  // start + write + SaveAs against the reference
    std::vector<LayerRun> runs;
    long mismatches = 0;
    const auto layer = [&] {
      const LayerRun& run = runs.emplace_back(Layer(dir.Path(), rows));
      mismatches += run.mismatches;
      return run.start + run.add + run.cells + run.save;
    };
    // The median of one part of the layer's runs.
    const auto median = [&runs](double LayerRun::*part) {
      std::vector<double> values;
      for (const LayerRun& run : runs) values.push_back(run.*part);
      return Median(values);
    };
    const auto convert = [&] {
      const double took = Timed(reference);
      if (!fs::exists(dir / "out" / "rows.xls")) throw std::runtime_error("the reference wrote no rows.xls");
      return took;
    };
    writes.Take(pairs, layer, convert);

    std::printf("cells: %ld rows x 4 columns = %ld, median of %d alternated pairs\n", rows, rows * 4, pairs);
    std::printf("  load average before %s, after %s\n", loadBefore.c_str(), LoadAverage().c_str());
    std::printf("reference  soffice --convert-to xls (CSV, warm profile): %.2f s\n", writes.MedianB());
    std::printf("layer      start instance:                 %.2f s\n", median(&LayerRun::start));
    std::printf("layer      new blank workbook:             %.2f s\n", median(&LayerRun::add));
    std::printf("layer      write cells (one call each):    %.2f s\n", median(&LayerRun::cells));
    std::printf("layer      SaveAs .xls:                    %.2f s\n", median(&LayerRun::save));
    std::printf("layer      start + new + write + SaveAs:   %.2f s  %s\n", writes.MedianA(), writes.RatioText().c_str());
    std::printf("layer      open .xls:                      %.2f s\n", median(&LayerRun::open));
    std::printf("layer      read cells (one call each):     %.2f s\n", median(&LayerRun::read));
    std::printf("layer      whole run incl. read and Quit:  %.2f s\n", median(&LayerRun::all));
    std::printf("mismatches on read back: %ld\n", mismatches);
    return mismatches == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra-bench-excel: %s\n", e.what());
    return 1;
  }
}
