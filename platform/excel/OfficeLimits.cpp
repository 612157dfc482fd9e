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

std::string MemoryLimitReason(size_t megabytes) {
  return "スプレッドシート アプリケーションがメモリの上限 (" + std::to_string(megabytes) +
         " MB) に達したため終了させました。";
}

std::string TimeLimitReason(std::chrono::seconds seconds) {
  return "スプレッドシート アプリケーションが時間の上限 (" + std::to_string(seconds.count()) +
         " 秒) に達したため終了させました。";
}

// A whole number from least to most written as text, or nothing. Digits
// only: no sign, no spaces, no units; a number too long to count is out of
// range like any other.
std::optional<long long> WholeNumberIn(const std::string& text, long long least, long long most) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const long long value = std::stoll(text);
  if (value < least || value > most) return std::nullopt;
  return value;
}

}  // namespace

std::optional<size_t> OfficeMemoryFromText(const std::string& text) {
  const auto value = WholeNumberIn(text, kLeastOfficeMemoryMegabytes, kMostOfficeMemoryMegabytes);
  if (!value) return std::nullopt;
  return static_cast<size_t>(*value);
}

std::optional<std::chrono::seconds> OfficeSecondsFromText(const std::string& text) {
  const auto value = WholeNumberIn(text, 1, kMostOfficeSeconds);
  if (!value) return std::nullopt;
  return std::chrono::seconds(*value);
}

std::string OfficeMemoryRange() {
  return std::to_string(kLeastOfficeMemoryMegabytes) + " to " + std::to_string(kMostOfficeMemoryMegabytes);
}

std::string OfficeSecondsRange() { return "1 to " + std::to_string(kMostOfficeSeconds); }

std::string RefusedLimitVariable::Describe() const {
  const bool memory = name == "PENDRA_OFFICE_MEMORY_MB";
  return name + "=" + value + " is not a whole number from " + (memory ? OfficeMemoryRange() : OfficeSecondsRange()) +
         (memory ? " (megabytes)" : " (seconds)");
}

void SetOfficeLimits(const OfficeLimits& limits) {
  std::lock_guard lock(gLimitsMutex);
  gLimits = limits;
}

OfficeLimits GetOfficeLimits() {
  std::lock_guard lock(gLimitsMutex);
  return gLimits;
}

OfficeLimits OfficeLimitsFromEnvironment(OfficeLimits limits, std::vector<RefusedLimitVariable>* refused) {
  // Set but empty counts as not set, as for most variables.
  auto variable = [](const char* name) -> std::optional<std::string> {
    const char* text = std::getenv(name);
    if (!text || !*text) return std::nullopt;
    return std::string(text);
  };
  if (const auto text = variable("PENDRA_OFFICE_MEMORY_MB")) {
    if (const auto mb = OfficeMemoryFromText(*text))
      limits.memoryMegabytes = *mb;
    else if (refused)
      refused->push_back({"PENDRA_OFFICE_MEMORY_MB", *text});
  }
  if (const auto text = variable("PENDRA_OFFICE_SECONDS")) {
    if (const auto seconds = OfficeSecondsFromText(*text))
      limits.time = *seconds;
    else if (refused)
      refused->push_back({"PENDRA_OFFICE_SECONDS", *text});
  }
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
  if (!anyReached_.load(std::memory_order_acquire)) return std::nullopt;
  std::lock_guard lock(mutex_);
  return reached_;
}

std::optional<std::string> LimitWatch::ReachedReason() const {
  std::lock_guard lock(mutex_);
  return reason_;
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
    // Compared in megabytes and in seconds as double: a limit of any size
    // never overflows into one that ends the office at once.
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (static_cast<double>(ResidentBytes()) / (1024 * 1024) > static_cast<double>(limits_.memoryMegabytes)) {
      reason_ = MemoryLimitReason(limits_.memoryMegabytes);
      reached_ = PlatformError(err::kOutOfMemory, StandardDescription(err::kOutOfMemory) + " " + *reason_);
    } else if (!clockStopped_ && elapsed > static_cast<double>(limits_.time.count())) {
      reason_ = TimeLimitReason(limits_.time);
      reached_ = PlatformError(err::kAutomationError, StandardDescription(err::kAutomationError) + " " + *reason_);
    }
    if (reached_) {
      anyReached_.store(true, std::memory_order_release);
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
