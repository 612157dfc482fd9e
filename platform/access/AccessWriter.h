// Writing changed tables into a genuine Access file: the one place that
// does it, in this order.
//   1. The folder lock (FolderLock.h), held by the caller for its whole
//      transaction (the database layer) or taken here (RewriteTable).
//   2. The fingerprint of the file as the job read it (Fingerprint.h).
//   3. The lock-file rule (LockFile.h), for the database's own name.
//   4. The backup: a second name for the file, taken by the job at its start
//      (dao/Backup.h) or here for a restore (RestoreCopy.h).
//   5. Every changed table rewritten on ONE file image in memory
//      (jet::RewriteTable), the image read again and compared with the
//      fingerprint first.
//   6. The check, as check-mdb checks a file (inside jet::RewriteTable).
//   7. The fingerprint and the lock file checked again just before the
//      rename.
//   8. The atomic replace (core/AtomicFile.h).
// Every message names the database; there is no work file to name.
#pragma once

#include <string>
#include <vector>

#include "Fingerprint.h"
#include "core/Variant.h"
#include "jet/TableRewrite.h"

namespace pendra::access {

// A table and its rows, given one at a time.
using TableRows = jet::TableToWrite;

// Rows written, and the file's size before and after.
using WriteStats = jet::RewriteStats;

// Replaces all rows of each table of the Access file at path, all of them
// or none. The caller holds the folder lock. Raises with the file unchanged
// on any refusal: 3197 when the file is not the one read (asRead), 3260
// while Access has it open, 3051 when it or its folder is read-only, 3026
// when the disk is full, and whatever jet::RewriteTable refuses. `ahead`,
// when given, was learnt from the file as read (asRead).
WriteStats WriteTables(const std::string& path, const Fingerprint& asRead, const std::vector<TableRows>& tables,
                       const jet::ReadAhead* ahead = nullptr);

// One table, the whole protocol here (the folder lock, the file as it is
// now): for the tests, the benchmarks and tools.
WriteStats RewriteTable(const std::string& path, const std::string& table, const std::vector<std::vector<Variant>>& rows);

// Raises 3051 when the file or its folder is read-only (by its mode bits,
// which even a privileged user's writer respects), before anything is done.
void RequireWritable(const std::string& path);

}  // namespace pendra::access
