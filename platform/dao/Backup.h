// Copies of a database kept before a job changes it, and putting one back.
// A job takes its copy right after its transaction began (BEGIN IMMEDIATE:
// no other writer can change the file meanwhile), through SQLite's online
// backup, so the copy is exactly what the job starts from. Copies lie in
// "backup/" beside the database, named after the database, the time and the
// job ("Orvik-20261207-120102-345-expand.mdb"); the newest ten are kept (or
// PENDRA_BACKUPS_KEEP). A copy stays only when its job committed a change,
// and older ones are removed only then: a failed, cancelled or empty job
// leaves the kept copies as they were. A copy that cannot be written stops
// the job before it changes anything.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dao/Dao.h"

namespace pendra::dao {

struct BackupFile {
  std::string path;
  std::string database;  // the database's name: "Orvik", "Velmora"
  std::string time;      // "2026-12-07 12:01:02"
  std::string job;       // "expand", "import-csv", "import-mdb", "restore"
  uintmax_t size = 0;
};

// The folder the copies of the database at databasePath lie in.
std::string BackupFolder(const std::string& databasePath);

// The file's change counter (header bytes 24 to 27): SQLite adds one at
// every commit that wrote the file, so an equal count means the file was
// not changed in between. Raises 3024 when it cannot be read.
uint32_t FileChangeCounter(const std::string& databasePath);

// A consistent copy of the database file at from, written to to.
void CopyDatabaseFile(const std::string& from, const std::string& to);

// How many copies to keep per database: PENDRA_BACKUPS_KEEP when it holds a
// positive whole number, else 10.
int BackupsToKeep();

// The copy a job takes of its database, under its transaction, before it
// changes anything. Dropped without Keep() (the job failed, was cancelled or
// changed nothing) the copy is removed; so ten failed attempts never push
// out the copy of the data as it was before them. Raises 3043 with the
// reason when the copy cannot be written.
class JobBackup {
 public:
  JobBackup(const std::string& databasePath, std::string_view job);
  ~JobBackup();
  JobBackup(const JobBackup&) = delete;
  JobBackup& operator=(const JobBackup&) = delete;

  // Where the copy lies once kept. Until then it lies under a hidden name
  // that no listing shows, so a job whose process ends mid-way (終了 ends
  // the window at once) leaves no copy behind that pushes kept ones out;
  // the next job of the database removes what such a process left.
  const std::string& Path() const { return path_; }
  // Where the copy lies now: its hidden name until kept.
  const std::string& CopyPath() const { return kept_ ? path_ : hidden_; }
  // The job committed its change: the copy stays, and the oldest copies
  // beyond the number to keep are removed, never `spared` (the copy a
  // restore came from). Raises 3043 when the copy cannot get its name.
  void Keep(const std::string& spared = "");

 private:
  void Drop();

  std::string databasePath_;
  std::string path_;
  std::string hidden_;
  bool createdFolder_ = false;  // "backup/" was made for this copy
  bool kept_ = false;
};

// A copy of db taken and kept at once, for work that is not a job
// (benchmarks); returns its path.
std::string BackUp(Database& db, std::string_view job);

// The copies of the database at databasePath, oldest first.
std::vector<BackupFile> ListBackups(const std::string& databasePath);

// Why the copy at backupPath cannot be put back into the database at
// databasePath as the files lie now, told from their first bytes before
// anything is read or asked: a copy of the other engine (the database was
// an SQLite file when the copy was taken and is a genuine Access file now,
// or the other way round), or no database file at all. Empty when a
// restore may be tried (Restore still checks the copy in full).
std::string WhyNotRestorable(const std::string& databasePath, const std::string& backupPath);

// Puts the rows of the copy at backupPath back into the database at
// databasePath. One transaction holds the database from the first check to
// the last row, so no job's change can slip in between and be lost; the
// current state is copied first (job "restore") and kept only when the
// restore succeeded, and the copy restored from is never removed. The copy
// must be one of this database: the same tables with the same columns and
// declared types, no views, no triggers, the rollback journal (not WAL).
// Only rows come over: the database's design and journal stay its own,
// less any trigger (the tool's databases hold none; one there came from a
// file put back before, and would rewrite the rows restored).
// Returns the path of the copy of the state before. Raises 3260 when a job
// holds the database, 3343 when backupPath is not a copy of it, 3234 when
// reading it runs past the time a statement may take.
std::string Restore(const std::string& databasePath, const std::string& backupPath);

}  // namespace pendra::dao
