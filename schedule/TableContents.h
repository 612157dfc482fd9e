// What the schedule tables hold, read through the open database, inside the
// job's transaction: every row, exactly, past the column the job stamps on
// every row it writes. Two takes, before the job's statements and after
// them, are equal exactly when the job changed no value: then its backup
// copy would hold nothing the database does not, and is not kept.
#pragma once

#include "core/OrderFreeDigest.h"
#include "dao/Dao.h"

namespace pendra::schedule {

// Each row as one text (its table's name, then every compared value with
// its kind, exactly: no rounding of a number), told whatever the rows'
// order.
using TableContents = OrderFreeDigest;

TableContents ScheduleTableContents(dao::Database& db);

}  // namespace pendra::schedule
