// Replacing a file as a whole, the one way every writer of the program does
// it (Access files, backups, workbooks): the new bytes go to a temporary
// file beside the target (same file system, so the rename is one step),
// are flushed to the disk, take the target's owner and mode, and are
// renamed over it; then the folder is flushed so the rename lasts. A crash
// or kill at any point leaves the old file or the new one, never a mixture;
// a failure leaves the target as it was and no temporary file behind.
// Messages name the target, never the temporary file.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <string_view>

namespace pendra {

class AtomicFile {
 public:
  // Creates the temporary file beside target. Raises 3051 when the folder
  // cannot be written.
  explicit AtomicFile(std::string target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // For a writer that fills the file by name (SQLite's backup).
  const std::string& TemporaryPath() const { return temporary_; }
  // For a writer that fills the file through a mapping of its own.
  int Fd() const { return fd_; }
  // Appends bytes. Raises 3026 when the disk is full, 3043 on another error.
  void Write(std::string_view bytes);
  // Flushes, gives the file the target's owner and mode (when the target
  // exists), runs lastCheck (which may raise to leave the target as it
  // is), renames the file over the target and flushes the folder.
  // displaced, when given: the file is exchanged with the target instead,
  // and displaced is shown the file put aside; when it raises, the target
  // is put back as it was and the error goes on.
  void Commit(const std::function<void()>& lastCheck = {}, const std::function<void(const struct stat&)>& displaced = {});

 private:
  [[noreturn]] void Fail(const char* step, int error);

  std::string target_;
  std::string temporary_;
  int fd_ = -1;
};

// The error for a write towards target that failed at `step` with errno
// `error`: 3026 when the disk is full, 3043 otherwise; the target is unchanged.
[[noreturn]] void RaiseWriteFailed(const std::string& target, const char* step, int error);

// The whole of bytes as the file at target, through an AtomicFile.
void WriteFileAtomically(const std::string& target, std::string_view bytes, const std::function<void()>& lastCheck = {});

// Temporary files beside target left by a killed run of ours: removed once
// the process that made them is gone.
void RemoveStaleTemporaries(const std::string& target);

// The folder a file lies in ("." for a bare name).
std::string FolderOf(const std::string& path);

}  // namespace pendra
