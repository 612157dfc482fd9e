#include "NetworkIsolation.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace pendra::excel {

namespace {

// No allocation here: the child of a threaded process may not call malloc.
bool WriteProcFile(const char* path, const char* text, size_t size) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text, size) == static_cast<ssize_t>(size);
  close(fd);
  return ok;
}

}  // namespace

NetworkIsolation NetworkIsolation::Prepare() {
  NetworkIsolation isolation;
  isolation.uidMap_ = std::to_string(getuid()) + " " + std::to_string(getuid()) + " 1\n";
  isolation.gidMap_ = std::to_string(getgid()) + " " + std::to_string(getgid()) + " 1\n";
  return isolation;
}

bool NetworkIsolation::EnterInChild() const {
  if (unshare(CLONE_NEWNET) == 0) return true;
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
  // Without these maps every file would appear to belong to nobody inside.
  WriteProcFile("/proc/self/setgroups", "deny", 4);
  return WriteProcFile("/proc/self/uid_map", uidMap_.data(), uidMap_.size()) &&
         WriteProcFile("/proc/self/gid_map", gidMap_.data(), gidMap_.size());
}

}  // namespace pendra::excel
