#include "AccessFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "MdbReader.h"
#include "Wire.h"
#include "core/PlatformError.h"

// AddressSanitizer reserves terabytes of address space for its shadow: under
// it the child's address-space limit would fail every allocation.
#if defined(__SANITIZE_ADDRESS__)
#define PENDRA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PENDRA_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef PENDRA_ADDRESS_SANITIZER
#define PENDRA_ADDRESS_SANITIZER 0
#endif

namespace pendra::mdb {

namespace {

using Clock = std::chrono::steady_clock;

// The reading child may hold this much memory at most: a damaged file
// cannot make it take the machine's.
constexpr rlim_t kChildMemory = rlim_t{4} << 30;

std::chrono::seconds DefaultTimeLimit(const std::string& path) {
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(path, ec);
  return std::chrono::seconds(30 + (ec ? 0 : static_cast<long>(bytes >> 20)));
}

[[noreturn]] void ChildMain(int out, const std::string& path, const ReadOptions& options) {
#if !PENDRA_ADDRESS_SANITIZER
  const rlimit memory{kChildMemory, kChildMemory};
  setrlimit(RLIMIT_AS, &memory);
#endif
  std::string bytes;
  try {
    bytes = detail::Encode(detail::ReadInThisProcess(path, options));
  } catch (const PlatformError& e) {
    bytes = detail::Encode(e);
  } catch (const std::bad_alloc&) {
    bytes = detail::Encode(PlatformError(err::kOutOfMemory, StandardDescription(err::kOutOfMemory)));
  }
  for (size_t at = 0; at < bytes.size();) {
    const ssize_t n = write(out, bytes.data() + at, bytes.size() - at);
    if (n <= 0) _exit(1);
    at += static_cast<size_t>(n);
  }
  _exit(0);
}

}  // namespace

AccessDatabase ReadAccessFile(const std::string& path, const ReadOptions& options) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
  if (!S_ISREG(st.st_mode)) Raise(err::kUnrecognizedFormat, "データベース形式 '" + path + "' を認識できません。");
  const auto limit = options.timeLimit.count() > 0 ? options.timeLimit : DefaultTimeLimit(path);

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) Raise(err::kOutOfMemory);
  const pid_t child = fork();
  if (child < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    Raise(err::kOutOfMemory);
  }
  if (child == 0) {
    close(pipeFds[0]);
    // libmdb prints warnings of its own about odd files: the errors that
    // matter come back through the pipe.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) dup2(null, STDERR_FILENO);
    ChildMain(pipeFds[1], path, options);
  }
  close(pipeFds[1]);

  // Read what the child sends until it closes the pipe, or the time is up.
  std::string bytes;
  bool timedOut = false;
  const auto deadline = Clock::now() + limit;
  char buffer[1 << 16];
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{pipeFds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000))) <= 0) continue;
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  if (timedOut) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (timedOut) {
    Raise(3049, "データベース '" + path + "' の読み取りが時間の上限 (" + std::to_string(limit.count()) +
                    " 秒) を超えました。ファイルが破損している可能性があります。");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Raise(3049, "データベース '" + path + "' を読み取れませんでした (読み取りが異常終了しました)。ファイルが破損している可能性があります。");
  }
  return detail::Decode(bytes);
}

}  // namespace pendra::mdb
