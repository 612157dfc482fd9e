// Writes 32765 rows x 4 columns (a full KikiMaster sheet) through
// Cells().Value, one call per cell as the jobs do, saves the workbook as
// .xls, reads every cell back, and compares with the reference measured in
// the same run: `soffice --headless --convert-to xls` of the same rows as
// CSV, on a warm private profile.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>

#include "core/PlatformError.h"
#include "excel/Excel.h"

namespace {

using namespace pendra;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kRows = 32765;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

Variant Cell(int row, int column) {
  switch (column) {
    case 1: return Variant("TAG-" + std::to_string(100000 + row));
    case 2: return Variant("機器名称" + std::to_string(row));
    case 3: return Variant(static_cast<int16_t>(row % 2));
    default: return Variant(static_cast<double>(row) / 4.0);
  }
}

double Reference(const fs::path& dir) {
  const fs::path csv = dir / "rows.csv";
  {
    std::ofstream out(csv);
    for (int r = 2; r < 2 + kRows; ++r) {
      out << Cell(r, 1).StringValue() << ',' << Cell(r, 2).StringValue() << ',' << r % 2 << ','
          << Cell(r, 4).ToText() << '\n';
    }
  }
  const std::string command = "soffice --headless --norestore -env:UserInstallation=file://" + (dir / "profile").string() +
                              " --infilter=CSV:44,34,76,1 --convert-to xls --outdir '" + (dir / "out").string() + "' '" +
                              csv.string() + "' >/dev/null 2>&1";
  // The first run creates the profile; the best of the next two counts.
  if (std::system(command.c_str()) != 0) throw std::runtime_error("soffice --convert-to failed");
  double best = 1e9;
  for (int i = 0; i < 2; ++i) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) throw std::runtime_error("soffice --convert-to failed");
    best = std::min(best, Seconds(start));
  }
  if (!fs::exists(dir / "out" / "rows.xls")) throw std::runtime_error("no rows.xls written");
  return best;
}

}  // namespace

int main() {
  std::string pattern = (fs::temp_directory_path() / "pendra-bench-XXXXXX").string();
  const fs::path dir = mkdtemp(pattern.data());
  try {
    const double reference = Reference(dir);

    const auto total = Clock::now();
    auto app = excel::CreateObject();
    const double start = Seconds(total);
    auto workbook = app->Workbooks().Add();
    auto sheet = workbook->Sheets("Sheet1");
    const auto writing = Clock::now();
    for (int r = 2; r < 2 + kRows; ++r)
      for (int c = 1; c <= 4; ++c) sheet.Cells(static_cast<int16_t>(r), static_cast<int16_t>(c)).SetValue(Cell(r, c));
    workbook->Windows("Book1").SetVisible(true);  // the cells go over here
    const double cells = Seconds(writing);
    const auto saving = Clock::now();
    workbook->SaveAs((dir / "layer.xls").string());
    const double save = Seconds(saving);
    const double write = Seconds(writing);

    const auto reading = Clock::now();
    auto saved = excel::GetObject((dir / "layer.xls").string());
    const double open = Seconds(reading);
    auto readSheet = saved->Sheets("Sheet1");
    long mismatches = 0;
    const auto readCells = Clock::now();
    for (int r = 2; r < 2 + kRows; ++r)
      for (int c = 1; c <= 4; ++c) {
        Variant expected = Cell(r, c);
        if (c == 3) expected = Variant(static_cast<double>(r % 2));
        if (!(readSheet.Cells(static_cast<int16_t>(r), static_cast<int16_t>(c)).Value() == expected)) ++mismatches;
      }
    const double read = Seconds(readCells);
    app->Quit();
    const double all = Seconds(total);

    std::printf("cells: %d rows x 4 columns = %d\n", kRows, kRows * 4);
    std::printf("reference  soffice --convert-to xls (CSV, warm profile): %.2f s\n", reference);
    std::printf("layer      start instance:                 %.2f s\n", start);
    std::printf("layer      write cells (one call each):    %.2f s\n", cells);
    std::printf("layer      SaveAs .xls:                    %.2f s\n", save);
    std::printf("layer      write + SaveAs:                 %.2f s  ratio %.2f\n", write, write / reference);
    std::printf("layer      start + write + SaveAs:         %.2f s  ratio %.2f\n", start + write, (start + write) / reference);
    std::printf("layer      open .xls:                      %.2f s\n", open);
    std::printf("layer      read cells (one call each):     %.2f s  ratio %.2f\n", read, read / reference);
    std::printf("layer      whole run incl. read and Quit:  %.2f s\n", all);
    std::printf("mismatches on read back: %ld\n", mismatches);
    fs::remove_all(dir);
    return mismatches == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra-bench-excel: %s\n", e.what());
    fs::remove_all(dir);
    return 1;
  }
}
