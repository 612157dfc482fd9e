#include "ScheduleTestSupport.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "ExcelInternal.h"
#include "core/ProcessFile.h"
#include "UnoSupport.h"
#include "excel/Excel.h"

namespace fs = std::filesystem;

namespace pendra::schedule::test {

namespace {

// The folder of the built template, removed when the test process ends
// (every test runs in a process of its own: hundreds of folders otherwise).
struct TemplateFolder {
  std::string path;
  ~TemplateFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

// The template is built once per test process by the real builder and
// copied into each base folder.
const std::string& BuiltTemplate() {
  static TemplateFolder folder;
  static const std::string path = [] {
    std::string dir = (fs::temp_directory_path() / "pendra-template-XXXXXX").string();
    if (!mkdtemp(dir.data())) throw std::runtime_error("mkdtemp");
    folder.path = dir;
    const std::string out = dir + "/Pendra_原紙.xls";
    const std::string command = std::string("'") + PENDRA_MAKE_TEMPLATE + "' '" + out + "' >/dev/null";
    if (std::system(command.c_str()) != 0 || !fs::exists(out))
      throw std::runtime_error("the template builder failed");
    return out;
  }();
  return path;
}

}  // namespace

BaseFolder::BaseFolder(bool demoRows) {
  std::string pattern = (fs::temp_directory_path() / "pendra-sched-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  root_ = pattern;
  paths_ = fixture::WriteBaseFolder((root_ / "基準 フォルダー").string(), demoRows);
  fs::copy_file(BuiltTemplate(), Template());
}

BaseFolder::~BaseFolder() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

MsgBoxResult ScriptedUi::MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                                std::string_view title) {
  boxes.push_back({std::string(prompt), buttons, std::string(title), waitPointer});
  if (buttons == MsgBoxButtons::OkOnly) return MsgBoxResult::Ok;
  if (answers.empty()) {
    ADD_FAILURE() << "unexpected question: " << prompt;
    return MsgBoxResult::No;
  }
  const MsgBoxResult answer = answers.front();
  answers.pop_front();
  return answer;
}

void ScriptedUi::DoEvents() {
  ++doEvents;
  if (onDoEvents) onDoEvents(doEvents);
}

std::vector<std::string> ScriptedUi::FirstLines() const {
  std::vector<std::string> lines;
  for (const auto& p : Prompts()) lines.push_back(p.substr(0, p.find('\n')));
  return lines;
}

std::vector<std::string> ScriptedUi::Prompts() const {
  std::vector<std::string> prompts;
  for (const auto& box : boxes) prompts.push_back(box.prompt);
  return prompts;
}

ProbeScope::ProbeScope() : pids_(std::make_shared<std::set<pid_t>>()) {
  auto pids = pids_;
  excel::SetProbeScope([pids](pid_t pid) { return pids->count(pid) > 0; });
}

ProbeScope::~ProbeScope() { excel::SetProbeScope(nullptr); }

std::vector<std::string> Rows(const std::string& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + db);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(handle);
    sqlite3_close(handle);
    throw std::runtime_error(message);
  }
  std::vector<std::string> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::string row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      if (c) row += "|";
      const auto* text = sqlite3_column_text(stmt, c);
      row += text ? reinterpret_cast<const char*>(text) : "NULL";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(handle);
  return rows;
}

void Exec(const std::string& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    throw std::runtime_error("cannot open " + db);
  char* error = nullptr;
  const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(handle);
  if (rc != SQLITE_OK) throw std::runtime_error(message);
}

void FillLargestTables(const std::string& db) {
  Exec(db,
       "DELETE FROM GroupMaster; DELETE FROM KikiMaster;"
       " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000)"
       " INSERT INTO GroupMaster (GPno, GP名称, 有効) SELECT i, 'グループ' || i, -(i % 2) FROM n;"
       " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 32765)"
       " INSERT INTO KikiMaster (タグ名, 機器名称, 開始操作値, 終了操作値)"
       " SELECT printf('TAG-%06d', i), '機器名称' || i, i % 100, i % 7 FROM n;");
}

std::vector<pid_t> OurOfficeProcesses() {
  // Our instances run soffice.bin on a profile named after this process.
  const std::string marker = "/" + std::to_string(getpid()) + "-";
  std::vector<pid_t> pids;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string all = ReadProcessFile(entry.path() / "cmdline");
    std::ifstream stat(entry.path() / "stat");
    std::string statLine;
    std::getline(stat, statLine);
    const auto close = statLine.rfind(')');
    const bool zombie = close != std::string::npos && statLine.size() > close + 2 && statLine[close + 2] == 'Z';
    if (!zombie && all.find("soffice.bin") != std::string::npos &&
        all.find("pendra-office-") != std::string::npos && all.find(marker) != std::string::npos)
      pids.push_back(std::stoi(name));
  }
  return pids;
}

void WriteWorkbook(const std::string& templatePath, const std::string& target,
                   const std::vector<SheetRows>& sheets, const std::vector<std::string>& removeSheets) {
  auto app = excel::CreateObject();
  auto workbook = excel::GetObject(templatePath);
  for (const auto& sheet : sheets) {
    auto xlSheet = workbook->Sheets(sheet.sheet);
    for (size_t r = 0; r < sheet.rows.size(); ++r)
      for (size_t c = 0; c < sheet.rows[r].size(); ++c)
        xlSheet.Cells(static_cast<int16_t>(r + 2), static_cast<int16_t>(c + 1)) = sheet.rows[r][c];
  }
  if (!removeSheets.empty()) {
    excel::DocumentState& state = excel::WorkbookAccess::State(*workbook);
    state.FlushAll();
    for (const auto& name : removeSheets) state.document->getSheets()->removeByName(excel::ToOU(name));
  }
  workbook->SaveAs(target);
  app->Quit();
}

SavedWorkbook::SavedWorkbook(const std::string& path)
    : app_(excel::CreateObject()), book_(excel::GetObject(path)) {}

SavedWorkbook::~SavedWorkbook() {
  book_.reset();
  try {
    app_->Quit();
  } catch (...) {
  }
}

Variant SavedWorkbook::Cell(const std::string& sheet, int16_t row, int16_t column) {
  return book_->Sheets(sheet).Cells(row, column).Value();
}

std::vector<std::vector<Variant>> SavedWorkbook::Table(const std::string& sheet, int16_t columns) {
  auto xlSheet = book_->Sheets(sheet);
  std::vector<std::vector<Variant>> rows;
  for (int16_t row = 2; !EqualsEmptyText(xlSheet.Cells(row, 1).Value()); ++row) {
    std::vector<Variant> cells;
    for (int16_t c = 1; c <= columns; ++c) cells.push_back(xlSheet.Cells(row, c).Value());
    rows.push_back(cells);
  }
  return rows;
}

}  // namespace pendra::schedule::test
