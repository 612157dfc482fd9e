// The problems an integrity check found, as text for a failed expectation:
// the file's own first, then each table's with the table's name.
#pragma once

#include <string>

#include "jet/Checker.h"

namespace pendra::jet::test {

// One problem a line; empty for a clean check.
std::string Problems(const FileCheck& check);

}  // namespace pendra::jet::test
