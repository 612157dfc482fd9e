// The tag master import: the click handler of "CSV展開実行" as one job, so the
// window and the batch command run the same code.
#pragma once

#include "core/JobOutcome.h"
#include "core/UserInterface.h"

namespace pendra::tagimport {

// Path test, confirmation, then every record of the master CSV file named
// in the path box into M_TAG of the tag master database. Completed only
// when every record was stored; the counts say how many were and were not.
JobOutcome Command1_Click(UserInterface& ui);

}  // namespace pendra::tagimport
