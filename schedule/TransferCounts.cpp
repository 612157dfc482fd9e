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

std::string OutputCountsLines(const std::vector<TableWritten>& tables) {
  std::string line, keyless;
  long keylessRows = 0, zeroLength = 0;
  for (const TableWritten& table : tables) {
    line += (line.empty() ? "" : "、") + table.table + ": " + Rows(table.rows);
    if (table.keylessRows > 0)
      keyless += (keyless.empty() ? "" : "、") + table.table + " " + Rows(table.keylessRows) + " (" + table.keyColumn + " が空)";
    keylessRows += table.keylessRows;
    zeroLength += table.zeroLengthCells;
  }
  line += "を書き出しました。";
  if (keylessRows > 0)
    line += "\n1 列目が空の行 " + std::to_string(keylessRows) + " (" + keyless +
            ") は表の最後に書きました。1 列目が空の行で表が終わるため、展開してもこの行は戻りません。";
  if (zeroLength > 0)
    line += "\n長さ 0 の文字列のセル " + std::to_string(zeroLength) +
            " は、ワークブックでは空のセルになるため、展開すると Null になります。";
  return line;
}

std::vector<std::string> LossQuestions(const SheetTransfer& sheet) {
  std::vector<std::string> questions;
  if (sheet.ignoredRows > 0) {
    std::string keyless;
    if (sheet.keylessRows > 0) {
      std::string numbers;
      for (long row : sheet.keylessRowNumbers) numbers += (numbers.empty() ? "" : "、") + std::to_string(row);
      if (sheet.keylessRows > static_cast<long>(sheet.keylessRowNumbers.size())) numbers += "、…";
      keyless = " (うち " + sheet.keyColumn + " が空の行 " + std::to_string(sheet.keylessRows) + ": " + numbers + " 行目)";
    }
    questions.push_back(sheet.table + " の " + std::to_string(sheet.endRow) + " 行目で表が終わります。" +
                        std::to_string(sheet.firstIgnoredRow) + " 行目以降の " + Rows(sheet.ignoredRows) +
                        "は保存されません" + keyless + "。続けますか？");
  }
  if (sheet.stored == 0 && sheet.before > 0) {
    questions.push_back(sheet.table + " のシートの " + std::to_string(sheet.endRow) + " 行目 (1 列目) が空のため、" +
                        sheet.table + " は空になります (いまの " + Rows(sheet.before) + "は削除されます)。続けますか？");
  }
  return questions;
}

}  // namespace pendra::schedule
