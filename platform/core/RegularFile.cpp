#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

RegularFile ReadRegularFile(const std::string& path, uintmax_t maxSize) {
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
    Raise(err::kCannotOpenFile, "ファイル '" + path + "' を開けません (" + std::strerror(errno) + ")。");
  }
  RequireRegular(path, named);
  // O_NONBLOCK: a FIFO put in the file's place between stat and open does
  // not hold the open; fstat then refuses it.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) Raise(err::kCannotOpenFile, "ファイル '" + path + "' を開けません (" + std::strerror(errno) + ")。");
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) Raise(err::kCannotOpenFile, "ファイル '" + path + "' を開けません (" + std::strerror(errno) + ")。");
  RequireRegular(path, info);
  const auto size = static_cast<uintmax_t>(info.st_size);
  if (size > maxSize) Raise(err::kUnrecognizedFormat, "'" + path + "' は大きすぎるため、読みません (" + std::to_string(size) + " バイト)。");
  const uintmax_t allocated = static_cast<uintmax_t>(info.st_blocks) * 512;
  if (size > allocated && size - allocated > kMaxHoleBytes)
    Raise(err::kUnrecognizedFormat, "'" + path + "' は大部分が空き (穴) のファイルのため、読みません (大きさ " + std::to_string(size) +
                                        " バイト、中身 " + std::to_string(allocated) + " バイト)。");
  RegularFile file;
  file.identity = IdentityOf(info);
  file.bytes.resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < file.bytes.size()) {
    const ssize_t n = ::read(fd.get(), file.bytes.data() + done, file.bytes.size() - done);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) Raise(err::kDiskIO, "ファイル '" + path + "' を読めません (" + std::strerror(errno) + ")。");
    if (n == 0) break;   // shortened meanwhile: what there is
    done += static_cast<size_t>(n);
  }
  file.bytes.resize(done);
  return file;
}

}  // namespace pendra
