// Copies of a database kept before a job changes it, and putting one back.
// A job takes its copy right after its transaction began (BEGIN IMMEDIATE:
// no other writer can change the file meanwhile), through SQLite's online
// backup, so the copy is exactly what the job starts from. Copies lie in
// "backup/" beside the database, named after the database, the time and the
// job ("Orvik-20261207-120102-345-expand.mdb"); the newest ten are kept (or
// PENDRA_BACKUPS_KEEP), older ones are removed only once a new copy is
// complete. A copy that cannot be written stops the job before it changes
// anything.
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

// A consistent copy of the database file at from, written to to.
void CopyDatabaseFile(const std::string& from, const std::string& to);

// Removes the oldest copies of the database at databasePath beyond the
// number to keep; never the one at spared (a copy being restored).
void PruneBackups(const std::string& databasePath, const std::string& spared = "");

// How many copies to keep per database: PENDRA_BACKUPS_KEEP when it holds a
// positive whole number, else 10.
int BackupsToKeep();

// Takes the copy of db for job; returns its path. Raises 3043 with the
// reason when it cannot be written.
std::string BackUp(Database& db, std::string_view job);

// The copies of the database at databasePath, oldest first.
std::vector<BackupFile> ListBackups(const std::string& databasePath);

// Puts the copy at backupPath back into the database at databasePath, in
// one step that other connections see whole, after taking a copy of the
// current state (job "restore"). Returns that copy's path. Raises 3260 when
// a job holds the database, 3343 when backupPath is not a copy of it.
std::string Restore(const std::string& databasePath, const std::string& backupPath);

}  // namespace pendra::dao
