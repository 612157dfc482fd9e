#include "TransferCounts.h"

namespace pendra::schedule {

namespace {

std::string Rows(long count) { return std::to_string(count) + " 行"; }

}  // namespace

std::string ExpansionCountsLine(const std::vector<SheetTransfer>& sheets) {
  std::string line;
  long fallbacks = 0, ignored = 0;
  for (const SheetTransfer& sheet : sheets) {
    line += (line.empty() ? "" : "、") + sheet.table + ": " + Rows(sheet.before) + " → " + Rows(sheet.stored);
    fallbacks += sheet.fallbacks;
    ignored += sheet.ignoredRows;
  }
  return line + " (既定値にしたセル " + std::to_string(fallbacks) + "、表の終わりより下で保存しなかった行 " +
         std::to_string(ignored) + ")";
}

std::string OutputCountsLine(const std::vector<std::pair<std::string, long>>& rowsPerTable) {
  std::string line;
  for (const auto& [table, rows] : rowsPerTable) line += (line.empty() ? "" : "、") + table + ": " + Rows(rows);
  return line + "を書き出しました。";
}

std::vector<std::string> LossQuestions(const SheetTransfer& sheet) {
  std::vector<std::string> questions;
  if (sheet.ignoredRows > 0) {
    questions.push_back(sheet.table + " の " + std::to_string(sheet.endRow) + " 行目で表が終わります。" +
                        std::to_string(sheet.firstIgnoredRow) + " 行目以降の " + Rows(sheet.ignoredRows) +
                        "は保存されません。続けますか？");
  }
  if (sheet.stored == 0 && sheet.before > 0) {
    questions.push_back(sheet.table + " のシートの " + std::to_string(sheet.endRow) + " 行目 (1 列目) が空のため、" +
                        sheet.table + " は空になります (いまの " + Rows(sheet.before) + "は削除されます)。続けますか？");
  }
  return questions;
}

}  // namespace pendra::schedule
