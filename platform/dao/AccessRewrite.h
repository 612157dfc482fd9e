// Writing changed tables back into a genuine Access file: all of them or
// none, the file as it was kept as a backup where one is asked for.
#pragma once

#include <string>
#include <vector>

#include "core/Variant.h"

namespace pendra::dao::detail {

struct AccessTableRows {
  std::string table;
  std::vector<std::vector<Variant>> rows;   // in the table's column order
};

// Replaces all rows of each table in the Access file at path. The tables
// are written into a copy beside the file, which is synced and renamed over
// it (owner and mode kept): a crash leaves the old file or the new one.
// Raises with the file unchanged on any refusal.
void RewriteAccessTables(const std::string& path, const std::vector<AccessTableRows>& tables);

// Puts a copy of the file at source in place of the file at path, the
// same way (copy beside, sync, rename), keeping the old one at backupPath.
void ReplaceAccessFile(const std::string& path, const std::string& source, const std::string& backupPath);

}  // namespace pendra::dao::detail
