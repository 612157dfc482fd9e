#include "MasterCsvReader.h"
#include "Utf8Detection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/PlatformError.h"

namespace pendra::tagimport {

namespace {

constexpr long kBadFileNameOrNumber = 52;

[[noreturn]] void RaiseOpenError(int error) {
  switch (error) {
    case ENOENT:
      Raise(err::kFileNotFound);
    case ENOTDIR:
      Raise(err::kPathNotFound);
    case EACCES:
    case EPERM:
      Raise(err::kPermissionDenied);
    case EMFILE:
    case ENFILE:
      Raise(67, "ファイルが多すぎます。");
    default:  // EISDIR, ENAMETOOLONG, ELOOP, ...
      Raise(err::kPathFileAccessError);
  }
}

[[noreturn]] void RaiseNotARegularFile(const std::string& path) {
  Raise(err::kPathFileAccessError, "'" + path + "' は通常のファイルではありません (フォルダー、デバイス、パイプなど)。");
}

bool IsAscii(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<unsigned char>(p[i]) >= 0x80) return false;
  }
  return true;
}

}  // namespace

MasterCsvReader::MasterCsvReader(size_t readBytes, size_t maxLineBytes)
    : readBytes_(std::max<size_t>(readBytes, 1)), maxLineBytes_(maxLineBytes) {}

MasterCsvReader::~MasterCsvReader() { Close(); }

void MasterCsvReader::Open(const std::string& path) {
  if (fd_ >= 0) Raise(err::kFileAlreadyOpen);
  if (path.empty()) Raise(err::kPathFileAccessError);
  // Only a regular file is read: a device never ends (/dev/zero would be
  // read for ever under the import's lock) and a FIFO blocks at its open.
  // Looked at before opening, since opening some special files does
  // something; opened without blocking, and the file opened looked at
  // again, for one put in the path's place meanwhile.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) RaiseNotARegularFile(path);
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    // A missing file in a missing folder is "path not found", as the
    // runtime reports it; a missing file in an existing folder "file not found".
    if (error == ENOENT) {
      const auto slash = path.find_last_of('/');
      const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
      struct stat st {};
      if (::stat(folder.c_str(), &st) != 0) Raise(err::kPathNotFound);
    }
    RaiseOpenError(error);
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    RaiseNotARegularFile(path);
  }
  // Reads of a regular file never block; the flag goes all the same, so
  // that the reading loop sees the file as any other.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  buf_.assign(readBytes_, '\0');
  begin_ = end_ = 0;
  eof_ = false;
  line_ = 0;
  pending_ = false;
  if (!decoder_) decoder_.emplace();
}

void MasterCsvReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_ = false;
  std::vector<char>().swap(buf_);
  begin_ = end_ = 0;
  eof_ = true;
}

bool MasterCsvReader::Fill() {
  if (eof_) return false;
  // Keep the unread part, at the front of the buffer.
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buf_.size() - end_ < readBytes_) buf_.resize(end_ + readBytes_);
  for (;;) {
    ssize_t got = ::read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (got > 0) {
      end_ += static_cast<size_t>(got);
      return true;
    }
    if (got == 0) {
      eof_ = true;
      return false;
    }
    if (errno != EINTR) Raise(err::kDeviceIOError);
  }
}

bool MasterCsvReader::FetchLine() {
  if (pending_) return true;
  if (fd_ < 0) Raise(kBadFileNameOrNumber, "ファイル名または番号が不正です。");
  for (;;) {
    // Look for the end of the line that starts at begin_.
    size_t scanned = 0;      // bytes of the line looked at so far
    size_t dropped = 0;      // bytes of an overlong line thrown away
    size_t lineEnd = 0;      // offset in buf_ of the line end
    size_t endLength = 0;    // 0 (end of file), 1 (CR or LF) or 2 (CR LF)
    for (;;) {
      const char* p = buf_.data() + begin_ + scanned;
      const char* stop = buf_.data() + end_;
      while (p < stop && *p != '\n' && *p != '\r') ++p;
      if (p < stop) {
        lineEnd = static_cast<size_t>(p - buf_.data());
        if (*p == '\r' && lineEnd + 1 == end_ && !eof_) {
          // A CR at the end of what was read: the LF may follow.
          scanned = lineEnd - begin_;
          Fill();
          continue;
        }
        endLength = (*p == '\r' && lineEnd + 1 < end_ && buf_[lineEnd + 1] == '\n') ? 2 : 1;
        break;
      }
      scanned = end_ - begin_;
      if (scanned > maxLineBytes_) {
        // Far longer than any record: keep nothing of it but its length.
        dropped += scanned;
        begin_ = end_;
        scanned = 0;
      }
      if (!Fill()) {
        if (begin_ == end_ && dropped == 0) return false;
        lineEnd = end_;
        endLength = 0;
        break;
      }
    }

    const char* line = buf_.data() + begin_;
    const size_t length = lineEnd - begin_;
    begin_ = lineEnd + endLength;
    ++line_;

    if (dropped > 0 || length > maxLineBytes_) {
      current_.SetMalformed(line_, "行が長すぎます（" + std::to_string(dropped + length) + " バイト）");
      return pending_ = true;
    }
    if (length == 0) continue;  // an empty line carries nothing
    if (std::memchr(line, '\0', length) != nullptr) {
      const auto at = static_cast<const char*>(std::memchr(line, '\0', length)) - line;
      current_.SetMalformed(line_, "NUL 文字 (0x00) があります（" + std::to_string(at + 1) + " バイト目）");
      return pending_ = true;
    }
    if (IsAscii(line, length)) {
      // ASCII is the same in code page 932 and UTF-8.
      current_.Parse(std::string_view(line, length), line_);
      return pending_ = true;
    }
    std::string problem;
    if (!decoder_->Decode(std::string_view(line, length), decoded_, problem)) {
      current_.SetMalformed(line_, std::move(problem));
      return pending_ = true;
    }
    current_.Parse(decoded_, line_);
    return pending_ = true;
  }
}

bool MasterCsvReader::SavedAsUtf8() const {
  if (fd_ < 0) return false;
  std::string start(kUtf8SniffBytes, '\0');
  size_t got = 0;
  while (got < start.size()) {
    const ssize_t n = ::pread(fd_, start.data() + got, start.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  start.resize(got);
  return LooksLikeUtf8(start);
}

bool MasterCsvReader::EndOfFile() { return !FetchLine(); }

const MasterCsvRecord& MasterCsvReader::NextRecord() {
  if (!FetchLine()) Raise(62);
  pending_ = false;
  return current_;
}

}  // namespace pendra::tagimport
