#include "OfficeLimits.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace pendra::excel {

namespace {

using namespace std::chrono_literals;

// Often enough that memory growing at a gigabyte a second overshoots the
// limit by a few tens of megabytes at most; rarely enough to cost nothing.
constexpr auto kPollInterval = 50ms;

std::mutex gLimitsMutex;
OfficeLimits gLimits;
std::optional<PlatformError> gLastReached;

PlatformError MemoryLimitError(size_t megabytes) {
  return PlatformError(err::kOutOfMemory,
                       StandardDescription(err::kOutOfMemory) +
                           " スプレッドシート アプリケーションがメモリの上限 (" + std::to_string(megabytes) +
                           " MB) に達したため終了させました。");
}

PlatformError TimeLimitError(std::chrono::seconds seconds) {
  return PlatformError(err::kAutomationError,
                       StandardDescription(err::kAutomationError) +
                           " スプレッドシート アプリケーションが時間の上限 (" + std::to_string(seconds.count()) +
                           " 秒) に達したため終了させました。");
}

// A positive whole number from the environment, or nothing.
std::optional<long> PositiveFromEnvironment(const char* name) {
  const char* text = std::getenv(name);
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value <= 0) return std::nullopt;
  return value;
}

}  // namespace

void SetOfficeLimits(const OfficeLimits& limits) {
  std::lock_guard lock(gLimitsMutex);
  gLimits = limits;
}

OfficeLimits GetOfficeLimits() {
  std::lock_guard lock(gLimitsMutex);
  return gLimits;
}

OfficeLimits OfficeLimitsFromEnvironment(OfficeLimits limits) {
  if (auto mb = PositiveFromEnvironment("PENDRA_OFFICE_MEMORY_MB")) limits.memoryMegabytes = static_cast<size_t>(*mb);
  if (auto s = PositiveFromEnvironment("PENDRA_OFFICE_SECONDS")) limits.time = std::chrono::seconds(*s);
  return limits;
}

LimitWatch::LimitWatch(pid_t pid, OfficeLimits limits) : pid_(pid), limits_(limits) {
  thread_ = std::thread([this] { Watch(); });
}

LimitWatch::~LimitWatch() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void LimitWatch::Forget() {
  std::lock_guard lock(mutex_);
  pid_ = -1;
}

std::optional<PlatformError> LimitWatch::Reached() const {
  std::lock_guard lock(mutex_);
  return reached_;
}

void LimitWatch::StopClock() {
  std::lock_guard lock(mutex_);
  clockStopped_ = true;
}

void LimitWatch::RestartClock() {
  std::lock_guard lock(mutex_);
  start_ = std::chrono::steady_clock::now();
  clockStopped_ = false;
}

size_t LimitWatch::ResidentBytes() const {
  // statm: size resident shared text lib data dt, in pages.
  const std::string path = "/proc/" + std::to_string(pid_) + "/statm";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  unsigned long size = 0, resident = 0;
  const int n = std::fscanf(f, "%lu %lu", &size, &resident);
  std::fclose(f);
  return n == 2 ? resident * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

void LimitWatch::Watch() {
  std::unique_lock lock(mutex_);
  while (!stop_ && pid_ > 0 && !reached_) {
    wake_.wait_for(lock, kPollInterval);
    if (stop_ || pid_ <= 0) break;
    if (ResidentBytes() > limits_.memoryMegabytes * 1024 * 1024) {
      reached_ = MemoryLimitError(limits_.memoryMegabytes);
    } else if (!clockStopped_ && std::chrono::steady_clock::now() - start_ > limits_.time) {
      reached_ = TimeLimitError(limits_.time);
    }
    if (reached_) {
      {
        std::lock_guard last(gLimitsMutex);
        gLastReached = reached_;
      }
      // With the helpers it runs in its group (it leads the group, and
      // cannot have been reaped while pid_ is set).
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
    }
  }
}

std::optional<PlatformError> LastLimitReached() {
  std::lock_guard lock(gLimitsMutex);
  return gLastReached;
}

void ClearLastLimitReached() {
  std::lock_guard lock(gLimitsMutex);
  gLastReached.reset();
}

}  // namespace pendra::excel
