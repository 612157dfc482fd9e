// What the reliability tests share: figures printed where the suite script
// shows them, database files looked at the way the next program to open them
// would (a journal left by a killed writer is rolled back first), the large
// schedule workbook and the large master CSV file, both made once per run.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "PendraRun.h"

namespace pendra::reliability {

// Prints "  figure: <text>" on standard output at once: the suite script
// shows these lines, and each test prints its own.
void Figure(const std::string& text);

// A database file as the next user finds it: opened for writing (which
// rolls back a hot journal), its integrity check, and every row of a table
// in stored order with all its columns (or with `columns` only).
struct DbLook {
  bool journalLeft = false;      // a rollback journal or WAL was there before opening
  std::string integrity;         // "ok" when sound
};
// An SQLite file or a genuine Access file (its integrity check; a work
// file of an unfinished rewrite beside it counts as the journal).
DbLook LookAt(const std::string& db);
bool AccessWorkFileBeside(const std::string& db);
std::vector<std::string> Dump(const std::string& db, const std::string& table,
                              const std::string& columns = "*");

// Both schedule tables, all columns in stored order: equal means the tables
// hold exactly the rows they held.
std::vector<std::string> ScheduleDump(const std::string& db);
// Both schedule tables without the timestamp that a refill sets anew: equal
// means a refill wrote the same rows.
std::vector<std::string> ScheduleContentDump(const std::string& db);

// Replaces a database file by saved bytes, dropping any journal beside it.
void Restore(const std::string& db, const std::string& bytes);

// The large schedule workbook: kLargeGroups rows on "GroupMaster" and
// kLargeKiki rows on "KikiMaster", made from the template through the
// spreadsheet layer once per process (a few seconds) and copied on request.
inline constexpr int kLargeGroups = 1000;
inline constexpr int kLargeKiki = 32765;
std::string LargeWorkbook(const std::string& templatePath);

// Fills both schedule tables of db directly with the same rows as the large
// workbook (for output runs that take long enough to be hit).
void FillLargeTables(const std::string& db);

// A master CSV file of `records` new tags (code page 932, CR LF), with a
// header line.
void WriteLargeCsv(const std::string& path, int records);

// Office processes of pendra run `pid`, waited for to be gone.
bool OfficesGone(pid_t pid, int waitMs);

}  // namespace pendra::reliability
