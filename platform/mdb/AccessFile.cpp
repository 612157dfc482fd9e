#include "AccessFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <limits>

#include "ConfinedChild.h"
#include "MdbReader.h"
#include "Wire.h"
#include "core/PlatformError.h"

namespace pendra::mdb {

namespace {

uintmax_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(path, ec);
  return ec ? 0 : bytes;
}

std::chrono::seconds DefaultTimeLimit(uintmax_t fileBytes) {
  return std::chrono::seconds(30 + static_cast<long>(fileBytes >> 20));
}

// What the reading sends back grows with the file: a stored value is never
// smaller than a bit (a Yes/No or a Null), and is sent in at most 9 bytes
// plus its text, so even a table of nothing but Yes/No columns sends less
// than 16 times its pages. Beyond 32 times the file, the file makes libmdb
// read the same bytes over and over: it is damaged.
size_t DefaultReplyBudget(uintmax_t fileBytes) {
  constexpr size_t kFloor = size_t{64} << 20;
  constexpr uintmax_t kTimesTheFile = 32;
  const uintmax_t most = std::numeric_limits<size_t>::max() / 2;
  return static_cast<size_t>(std::min<uintmax_t>(most, kFloor + std::min(most / kTimesTheFile, fileBytes) * kTimesTheFile));
}

// The reading program lies beside every program of this tool (in the build
// tree too, as a link).
const std::string& ReadingProgram() {
  static const std::string path = [] {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : (self.parent_path() / "pendra-mdb-read").string();
  }();
  return path;
}

// The program's arguments: the file and which tables' rows to send.
std::vector<std::string> ReadingArguments(const std::string& path, const ReadOptions& options) {
  std::vector<std::string> argv{ReadingProgram(), path, options.rowsOf ? "only" : "all"};
  if (options.rowsOf) argv.insert(argv.end(), options.rowsOf->begin(), options.rowsOf->end());
  return argv;
}

}  // namespace

AccessDatabase ReadAccessFile(const std::string& path, const ReadOptions& options) {
  AccessDatabase database;
  detail::CollectedDatabase collected(database);
  ReadAccessFile(path, options, collected);
  return database;
}

void ReadAccessFile(const std::string& path, const ReadOptions& options, RowReceiver& receiver) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
  if (!S_ISREG(st.st_mode)) Raise(err::kUnrecognizedFormat, "データベース形式 '" + path + "' を認識できません。");
  const uintmax_t fileBytes = FileSize(path);
  detail::ChildLimits limits;
  const auto time = options.timeLimit.count() > 0 ? options.timeLimit : DefaultTimeLimit(fileBytes);
  limits.time = time;
  limits.replyBytes = options.replyBudget > 0 ? options.replyBudget : DefaultReplyBudget(fileBytes);

  detail::DatabaseDecoder decoder(receiver);
  const auto reply = detail::RunConfinedProgram(ReadingArguments(path, options),
                                                [&](std::string_view bytes) { decoder.Feed(bytes); }, limits);
  using End = detail::ChildReply::End;
  switch (reply.end) {
    case End::Whole: break;
    case End::TimedOut:
      Raise(3049, "データベース '" + path + "' の読み取りが時間の上限 (" + std::to_string(time.count()) +
                      " 秒) を超えました。ファイルが破損している可能性があります。");
    case End::OverBudget:
      Raise(3049, "データベース '" + path + "' から読み取った内容がファイルの大きさに見合う上限 (" +
                      std::to_string(limits.replyBytes) + " バイト) を超えました。ファイルが破損している可能性があります。");
    case End::NotStarted:
      Raise(err::kOutOfMemory, "Access ファイルを読み取るプログラム '" + ReadingProgram() +
                                   "' を起動できませんでした。インストールを確かめて下さい。");
    case End::Unconfined:
      Raise(err::kOutOfMemory, "データベース '" + path + "' を読み取る子プロセスを制限できないため、読み取りませんでした。");
    case End::Failed:
      Raise(3049, "データベース '" + path + "' を読み取れませんでした (読み取りが異常終了しました)。ファイルが破損している可能性があります。");
  }
  decoder.Finish();
}

}  // namespace pendra::mdb
