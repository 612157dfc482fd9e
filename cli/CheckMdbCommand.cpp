#include "CheckMdbCommand.h"

#include <ostream>

#include "Commands.h"
#include "core/PlatformError.h"
#include "jet/Checker.h"

namespace pendra::cli {

int CheckMdbCommand(const std::string& argument, const ConsoleOptions&, const ConsoleStreams& streams) {
  jet::FileCheck check;
  try {
    check = jet::CheckAccessFile(argument);
  } catch (const PlatformError& e) {
    streams.err << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
    return kFailed;
  }
  size_t problems = check.problems.size();
  streams.out << argument << " (" << check.format << ")\n";
  for (const jet::TableCheck& table : check.tables) {
    streams.out << table.name << ": " << (table.problems.empty() ? "OK" : "問題あり") << "\n";
    for (const std::string& note : table.notes) streams.out << "  " << note << "\n";
    for (const std::string& problem : table.problems) streams.out << "  問題: " << problem << "\n";
    problems += table.problems.size();
  }
  for (const std::string& problem : check.problems) streams.out << "問題: " << problem << "\n";
  // Not a problem: Access's keys for values our encoder has none for (a
  // kanji never seen in the Japanese order); a rewrite keeps them as they are.
  if (check.keysNotCompared > 0)
    streams.out << "キーを照合していないエントリー: " << check.keysNotCompared
                << " 件 (Access と同じキーを作れない値のもの。問題ではありません。これらの値の行を変えない限り書き込めます)\n";
  if (problems == 0) {
    streams.out << "問題は見つかりませんでした。\n";
    return kCompleted;
  }
  streams.out << "問題が " << problems << " 件見つかりました。\n";
  return kFailed;
}

}  // namespace pendra::cli
