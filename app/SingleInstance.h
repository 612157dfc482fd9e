// The single-instance rule: a second start of the same program ends at once.
// Decided before any window or application object exists, with an advisory
// lock (flock) on a file named after the executable's path. The kernel drops
// the lock when its holder ends in any way, a crash included, so a stale
// lock can never keep the program from starting.
#pragma once

#include <string>

namespace pendra::app {

// The executable's own path (/proc/self/exe), or an empty text.
std::string ExecutablePath();

// $XDG_RUNTIME_DIR when set to a folder, else /tmp.
std::string LockDirectory();

// The lock file for the given executable in the given folder: the name holds
// a hash of the path (and, in a shared folder like /tmp, the user's id).
std::string LockFilePath(const std::string& executablePath, const std::string& directory);

// The socket beside the lock file on which the running instance listens for
// a second start: a connection asks it to bring its window to the front.
std::string RaiseSocketPath(const std::string& lockFile);

// The second start's request to the running instance, retried for up to a
// second (the first may still be starting). False when nobody answered.
bool AskToRaise(const std::string& socketPath);

class InstanceLock {
 public:
  // Tries to take the lock of the given file without waiting.
  explicit InstanceLock(const std::string& lockFile);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // True when another process holds the lock: this start must end.
  // False when this process holds it, and also when the lock file cannot be
  // used at all (the program then runs rather than refuse to start).
  bool AnotherInstanceRuns() const { return anotherRuns_; }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  bool anotherRuns_ = false;
};

}  // namespace pendra::app
