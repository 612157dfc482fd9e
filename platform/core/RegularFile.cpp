#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <utility>

#include "PlatformError.h"

namespace pendra {

namespace {

FileIdentity IdentityOf(const struct stat& info) {
  return {info.st_dev, info.st_ino, info.st_size, static_cast<int64_t>(info.st_mtim.tv_sec), info.st_mtim.tv_nsec};
}

void RequireRegular(const std::string& path, const struct stat& info) {
  if (S_ISDIR(info.st_mode)) Raise(err::kNotValidPath, "'" + path + "' はフォルダーです。");
  if (!S_ISREG(info.st_mode)) Raise(err::kCannotOpenFile, "'" + path + "' は通常のファイルではないため、読みません。");
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens the file with every check made; `info` is what fstat gave then.
Descriptor OpenChecked(const std::string& path, uintmax_t maxSize, struct stat& info) {
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
    Raise(err::kCannotOpenFile, "ファイル '" + path + "' を開けません (" + std::strerror(errno) + ")。");
  }
  RequireRegular(path, named);
  // O_NONBLOCK: a FIFO put in the file's place between stat and open does
  // not hold the open; fstat then refuses it.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) Raise(err::kCannotOpenFile, "ファイル '" + path + "' を開けません (" + std::strerror(errno) + ")。");
  if (::fstat(fd.get(), &info) != 0) Raise(err::kCannotOpenFile, "ファイル '" + path + "' を開けません (" + std::strerror(errno) + ")。");
  RequireRegular(path, info);
  const auto size = static_cast<uintmax_t>(info.st_size);
  if (size > maxSize) Raise(err::kUnrecognizedFormat, "'" + path + "' は大きすぎるため、読みません (" + std::to_string(size) + " バイト)。");
  const uintmax_t allocated = static_cast<uintmax_t>(info.st_blocks) * 512;
  if (size > allocated && size - allocated > kMaxHoleBytes)
    Raise(err::kUnrecognizedFormat, "'" + path + "' は大部分が空き (穴) のファイルのため、読みません (大きさ " + std::to_string(size) +
                                        " バイト、中身 " + std::to_string(allocated) + " バイト)。");
  return fd;
}

// Reads into `into` until it is full or the file ends (shortened meanwhile:
// what there is); returns the bytes read.
size_t ReadUpTo(const Descriptor& fd, const std::string& path, char* into, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd.get(), into + done, size - done);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) Raise(err::kDiskIO, "ファイル '" + path + "' を読めません (" + std::strerror(errno) + ")。");
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

RegularFile ReadRegularFile(const std::string& path, uintmax_t maxSize) {
  struct stat info {};
  const Descriptor fd = OpenChecked(path, maxSize, info);
  RegularFile file;
  file.identity = IdentityOf(info);
  file.bytes.resize(static_cast<size_t>(info.st_size));
  file.bytes.resize(ReadUpTo(fd, path, file.bytes.data(), file.bytes.size()));
  return file;
}

FileIdentity ReadRegularFileInPieces(const std::string& path, uintmax_t maxSize,
                                     const std::function<void(std::string_view)>& take) {
  struct stat info {};
  const Descriptor fd = OpenChecked(path, maxSize, info);
  constexpr size_t kPiece = size_t{1} << 20;
  std::string piece(kPiece, '\0');
  for (uintmax_t left = static_cast<uintmax_t>(info.st_size); left > 0;) {
    const auto want = static_cast<size_t>(std::min<uintmax_t>(left, kPiece));
    const size_t n = ReadUpTo(fd, path, piece.data(), want);
    if (n > 0) take(std::string_view(piece.data(), n));
    if (n < want) break;   // shortened meanwhile: what there is
    left -= n;
  }
  return IdentityOf(info);
}

}  // namespace pendra
