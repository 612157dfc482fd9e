#include "NetworkIsolation.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace pendra::excel {

namespace {

// What the child tells the parent before it runs the office.
struct Answer {
  char outcome;  // see below
  int error;     // errno of the step that failed
};
constexpr char kIsolated = 'N';
constexpr char kNotAllowed = '0';   // no namespace could be made: runs without
constexpr char kHalfInside = 'X';   // a user namespace without its ID maps: ends

std::atomic<bool> gOff{false};  // a child was left half inside once
std::atomic<bool> gToldNotAllowed{false};
std::atomic<bool> gToldHalfInside{false};
std::mutex gTestMapMutex;
std::optional<std::string> gTestUidMap;

// No allocation here: the child of a threaded process may not call malloc.
// errno is kept for the answer.
bool WriteProcFile(const char* path, const char* text, size_t size) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text, size) == static_cast<ssize_t>(size);
  const int error = errno;
  close(fd);
  errno = error;
  return ok;
}

void Tell(int fd, char outcome, int error) {
  const Answer answer{outcome, error};
  (void)!write(fd, &answer, sizeof answer);
}

void SayOnce(std::atomic<bool>& told, const std::string& why) {
  if (told.exchange(true)) return;
  std::fprintf(stderr,
               "Pendra_Set: the spreadsheet application runs without a network namespace of its own (%s); "
               "its profile still keeps links from being updated and linked images of untrusted documents "
               "from loading.\n",
               why.c_str());
}

}  // namespace

NetworkIsolation NetworkIsolation::Prepare() {
  NetworkIsolation isolation;
  isolation.enabled_ = !gOff;
  if (!isolation.enabled_) return isolation;
  isolation.uidMap_ = std::to_string(getuid()) + " " + std::to_string(getuid()) + " 1\n";
  isolation.gidMap_ = std::to_string(getgid()) + " " + std::to_string(getgid()) + " 1\n";
  {
    std::lock_guard lock(gTestMapMutex);
    if (gTestUidMap) {
      isolation.uidMap_ = *gTestUidMap;
      isolation.userNamespaceOnly_ = true;
    }
  }
  // Without the pipe the child could not say what became of it: it runs
  // without namespaces rather than unheard.
  if (pipe2(isolation.answer_, O_CLOEXEC) != 0) isolation.enabled_ = false;
  return isolation;
}

NetworkIsolation::NetworkIsolation(NetworkIsolation&& other) noexcept
    : enabled_(other.enabled_),
      userNamespaceOnly_(other.userNamespaceOnly_),
      uidMap_(std::move(other.uidMap_)),
      gidMap_(std::move(other.gidMap_)) {
  for (int i = 0; i < 2; ++i) {
    answer_[i] = other.answer_[i];
    other.answer_[i] = -1;
  }
}

NetworkIsolation::~NetworkIsolation() {
  for (int fd : answer_)
    if (fd >= 0) close(fd);
}

bool NetworkIsolation::EnterInChild() const {
  if (!enabled_) return true;
  const int to = answer_[1];
  if (!userNamespaceOnly_ && unshare(CLONE_NEWNET) == 0) {
    Tell(to, kIsolated, 0);
    return true;
  }
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    Tell(to, kNotAllowed, errno);
    return true;
  }
  // Without these maps every file would appear to belong to nobody inside.
  // setgroups is missing on old kernels, where the gid map needs no denial.
  WriteProcFile("/proc/self/setgroups", "deny", 4);
  if (!WriteProcFile("/proc/self/uid_map", uidMap_.data(), uidMap_.size()) ||
      !WriteProcFile("/proc/self/gid_map", gidMap_.data(), gidMap_.size())) {
    Tell(to, kHalfInside, errno);
    return false;
  }
  Tell(to, kIsolated, 0);
  return true;
}

bool NetworkIsolation::ConfirmInParent() {
  if (!enabled_) return true;
  close(answer_[1]);
  answer_[1] = -1;
  Answer answer{kIsolated, 0};
  ssize_t n;
  do {
    n = read(answer_[0], &answer, sizeof answer);
  } while (n < 0 && errno == EINTR);
  // No answer: the child died before it got that far; the start fails on
  // its own.
  if (n != static_cast<ssize_t>(sizeof answer)) return true;
  if (answer.outcome == kNotAllowed) SayOnce(gToldNotAllowed, std::string("unshare: ") + std::strerror(answer.error));
  if (answer.outcome != kHalfInside) return true;
  gOff = true;
  SayOnce(gToldHalfInside, std::string("its user ID map could not be written: ") + std::strerror(answer.error));
  return false;
}

void NetworkIsolation::SetUidMapForTests(std::optional<std::string> map) {
  std::lock_guard lock(gTestMapMutex);
  gOff = false;
  gToldHalfInside = false;
  gTestUidMap = std::move(map);
}

}  // namespace pendra::excel
