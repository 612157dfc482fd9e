// Reading an untrusted file whole, bounded: only a regular file is read (a
// FIFO, a device such as /dev/zero, a folder are refused before a byte is
// read, and nothing blocks on opening one), the read stops at the size the
// file had when it was opened, and a file larger than the caller allows is
// refused unread.
//
// A sparse file is refused when its holes exceed kMaxHoleBytes: its bytes
// would cost memory for every hole, and written back they would occupy the
// disk in full. Programs that write our files (Access, SQLite, our own
// writers) never leave holes; a file with large ones was made by something
// else, and its holes read as zero pages are no data anyone wrote.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pendra {

// What identifies a file's state on the disk without reading it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t modifiedSeconds = 0;
  long modifiedNanoseconds = 0;
  bool operator==(const FileIdentity&) const = default;
};

inline constexpr uintmax_t kMaxHoleBytes = 16ull * 1024 * 1024;

struct RegularFile {
  std::string bytes;
  FileIdentity identity;   // as fstat gave it when the file was opened
};

// Raises 3024 (no such file), 3044 (a folder), 3051 (not a regular file, or
// it cannot be opened), 3343 (larger than maxSize, or mostly holes).
RegularFile ReadRegularFile(const std::string& path, uintmax_t maxSize);

// The same, the bytes handed to `take` a piece at a time (a multiple of 32
// bytes each but the last) instead of held whole.
FileIdentity ReadRegularFileInPieces(const std::string& path, uintmax_t maxSize,
                                     const std::function<void(std::string_view)>& take);

}  // namespace pendra
