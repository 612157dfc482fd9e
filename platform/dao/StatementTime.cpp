#include "StatementTime.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdio>

#include "core/PlatformError.h"

namespace pendra::dao {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kDefaultLimit{60000};
// Instructions between two looks at the clock: often enough to stop within
// milliseconds, rare enough to cost nothing measurable.
constexpr int kInstructionsPerCheck = 4096;

std::atomic<std::chrono::milliseconds::rep> g_limit{kDefaultLimit.count()};

// A connection is used by one thread at a time, and SQLite calls the
// progress handler on the thread that steps: the deadline of the statement
// running is the thread's.
struct Running {
  sqlite3_stmt* stmt = nullptr;   // the statement whose run is being timed
  Clock::time_point start;
  Clock::time_point deadline;
  bool bounded = false;           // inside Step or Exec
};
thread_local Running t_running;

int PastDeadline(void*) { return t_running.bounded && Clock::now() > t_running.deadline ? 1 : 0; }

// Bounds the code in between; nested uses keep the outer deadline.
class Bounded {
 public:
  explicit Bounded(Clock::time_point deadline) : was_(t_running.bounded), previous_(t_running.deadline) {
    if (!was_) t_running.deadline = deadline;
    t_running.bounded = true;
  }
  ~Bounded() {
    t_running.bounded = was_;
    t_running.deadline = previous_;
  }
  Bounded(const Bounded&) = delete;
  Bounded& operator=(const Bounded&) = delete;

 private:
  bool was_;
  Clock::time_point previous_;
};

}  // namespace

std::chrono::milliseconds StatementTimeLimit() { return std::chrono::milliseconds(g_limit.load()); }

std::chrono::milliseconds SetStatementTimeLimit(std::chrono::milliseconds limit) {
  return std::chrono::milliseconds(g_limit.exchange(limit.count()));
}

void BoundStatementTime(sqlite3* db) { sqlite3_progress_handler(db, kInstructionsPerCheck, PastDeadline, nullptr); }

int Step(sqlite3_stmt* stmt) {
  // A statement that is not mid-run (new, reset, or done) starts a new run;
  // one that already returned rows goes on with the time it started with.
  const Clock::time_point now = Clock::now();
  if (t_running.stmt != stmt || !sqlite3_stmt_busy(stmt)) {
    t_running.stmt = stmt;
    t_running.start = now;
  }
  int rc;
  {
    Bounded bounded(t_running.start + StatementTimeLimit());
    rc = sqlite3_step(stmt);
  }
  if (rc != SQLITE_ROW && t_running.stmt == stmt) t_running.stmt = nullptr;
  return rc;
}

int Exec(sqlite3* db, const char* sql) {
  Bounded bounded(Clock::now() + StatementTimeLimit());
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

void RaiseStatementTimeout() {
  const auto seconds = std::chrono::duration<double>(StatementTimeLimit()).count();
  char limit[32];
  std::snprintf(limit, sizeof limit, "%g", seconds);
  Raise(err::kQueryTimeout, StandardDescription(err::kQueryTimeout) + " (データベースの処理が上限の " + limit +
                                " 秒を超えたため中止しました。ファイルにこのプログラムのものではない内容があるか、"
                                "ファイルが壊れています。)");
}

}  // namespace pendra::dao
