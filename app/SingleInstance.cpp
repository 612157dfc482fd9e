#include "SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/Fnv1a.h"

namespace pendra::app {

std::string ExecutablePath() {
  std::error_code ec;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

std::string LockDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    std::error_code ec;
    if (std::filesystem::is_directory(runtime, ec)) return runtime;
  }
  return "/tmp";
}

std::string LockFilePath(const std::string& executablePath, const std::string& directory) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx",
                static_cast<unsigned long long>(Fnv1a64(executablePath)));
  std::string name = "Pendra_Set-";
  // $XDG_RUNTIME_DIR belongs to one user; /tmp is shared, so the user's id
  // keeps two users' instances apart.
  if (directory == "/tmp") name += std::to_string(getuid()) + "-";
  return directory + "/" + name + hash + ".lock";
}

std::string RaiseSocketPath(const std::string& lockFile) {
  const std::string suffix = ".lock";
  const bool locked = lockFile.size() >= suffix.size() &&
                      lockFile.compare(lockFile.size() - suffix.size(), suffix.size(), suffix) == 0;
  return (locked ? lockFile.substr(0, lockFile.size() - suffix.size()) : lockFile) + ".raise";
}

bool AskToRaise(const std::string& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (connected) {
      // The connection is the request; the word is for a person reading a
      // trace. The listener may have hung up already: no SIGPIPE for that.
      ::send(fd, "raise\n", 6, MSG_NOSIGNAL);
      ::close(fd);
      return true;
    }
    ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

InstanceLock::InstanceLock(const std::string& lockFile) {
  // O_CLOEXEC: processes started by the program must not inherit the lock.
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    fd_ = fd;  // kept open, never unlinked: unlinking would let a third start lock a new file
    return;
  }
  anotherRuns_ = (errno == EWOULDBLOCK);
  ::close(fd);
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace pendra::app
