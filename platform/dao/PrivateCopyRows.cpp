#include "PrivateCopyRows.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "Connection.h"
#include "FieldType.h"
#include "Sqlite.h"
#include "TableInfo.h"

namespace pendra::dao::detail {

namespace {

constexpr size_t kRowsPerBatch = 256;
constexpr size_t kBatches = 4;

struct Batch {
  std::vector<PrivateCopyRows::Row> rows;  // reused: only the first count hold this batch's rows
  size_t count = 0;
};

// The batches between the thread that reads the private copy and the one
// that encodes its rows. A few batches exist at all and go back and forth,
// so the reader is never more than kBatches * kRowsPerBatch rows ahead.
class RowsInFlight {
 public:
  RowsInFlight() : batches_(kBatches) {
    for (Batch& batch : batches_) free_.push_back(&batch);
  }

  // The reading thread: fills batches until next finds no row, or the
  // encoding side stopped. An error reaches the encoding side.
  void Fill(const std::function<bool(PrivateCopyRows::Row&)>& next) {
    try {
      for (bool more = true; more;) {
        Batch* batch = Take(free_, stopped_);
        if (batch == nullptr) return;
        batch->count = 0;
        while (batch->count < kRowsPerBatch) {
          if (batch->rows.size() == batch->count) batch->rows.emplace_back();
          more = next(batch->rows[batch->count]);
          if (!more) break;
          ++batch->count;
        }
        Give(full_, batch);
      }
      End(nullptr);
    } catch (...) {
      End(std::current_exception());
    }
  }

  // The encoding side: the next batch, or none after the last; the
  // reader's error is raised here.
  Batch* NextFull() {
    Batch* batch = Take(full_, done_);
    if (batch == nullptr) {
      const std::lock_guard lock(mutex_);
      if (error_) std::rethrow_exception(error_);
    }
    return batch;
  }
  void Done(Batch* batch) { Give(free_, batch); }

  // The encoding side ends early (an error of its own): the reader stops
  // at its next batch.
  void Stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  // The list's first batch, waiting for one; none once `over` holds and the
  // list is empty.
  Batch* Take(std::deque<Batch*>& list, const bool& over) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !list.empty() || over; });
    if (list.empty()) return nullptr;
    Batch* batch = list.front();
    list.pop_front();
    return batch;
  }
  void Give(std::deque<Batch*>& list, Batch* batch) {
    const std::lock_guard lock(mutex_);
    list.push_back(batch);
    changed_.notify_all();
  }
  void End(std::exception_ptr error) {
    const std::lock_guard lock(mutex_);
    done_ = true;
    error_ = std::move(error);
    changed_.notify_all();
  }

  std::vector<Batch> batches_;
  std::deque<Batch*> free_, full_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false, done_ = false;
  std::exception_ptr error_;
};

}  // namespace

PrivateCopyRows::PrivateCopyRows(Connection& connection, const std::string& table)
    : connection_(connection),
      table_(table),
      info_(connection.Table(table)),
      places_(connection.access->places[table]),
      original_(connection.access->original[table]),
      touched_(connection.access->touched[table]) {}

bool PrivateCopyRows::Next(sqlite3_stmt* stmt, Row& row, bool withValues) const {
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) RaiseSqlite(connection_.db, rc, Operation::Read);
  const sqlite3_int64 rowid = sqlite3_column_int64(stmt, 0);
  const size_t asRead = static_cast<size_t>(rowid) - 1;
  const bool touched = asRead < touched_.size() && touched_[asRead];
  row.kept = false;
  row.place = 0;
  row.values.clear();
  if (rowid >= 1 && !touched && asRead < places_.size()) {
    row.kept = true;
    row.place = places_[asRead];
  } else if (rowid >= 1 && !touched && asRead < original_.size()) {
    if (withValues) row.values = original_.Row(asRead);
  } else if (withValues) {
    for (size_t i = 0; i < info_->columns.size(); ++i)
      row.values.push_back(ReadStored(stmt, static_cast<int>(i) + 1, info_->columns[i].spec.type));
  }
  return true;
}

void PrivateCopyRows::ForEach(const std::function<void(const jet::GivenRow&)>& take, bool withValues) const {
  Statement select(connection_.db, (withValues ? "SELECT _rowid_, * FROM " : "SELECT _rowid_ FROM ") + Quote(table_) +
                                       " ORDER BY _rowid_");
  sqlite3_stmt* stmt = select.get();
  if (!withValues) {
    for (Row row; Next(stmt, row, false);) take(row.Given());
    return;
  }
  // The connection is the reader's alone until it is joined: take never
  // touches the private copy.
  RowsInFlight rows;
  std::thread reader([&] { rows.Fill([&](Row& row) { return Next(stmt, row, true); }); });
  struct Joined {
    RowsInFlight& rows;
    std::thread& reader;
    ~Joined() {
      rows.Stop();
      reader.join();
    }
  } joined{rows, reader};
  while (Batch* batch = rows.NextFull()) {
    for (size_t i = 0; i < batch->count; ++i) take(batch->rows[i].Given());
    rows.Done(batch);
  }
}

}  // namespace pendra::dao::detail
