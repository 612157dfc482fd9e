// What the reading child sends its parent: the database read, or the error
// that ended the reading, as bytes.
#pragma once

#include <string>

#include "AccessFile.h"
#include "core/PlatformError.h"

namespace pendra::mdb::detail {

std::string Encode(const AccessDatabase& database);
std::string Encode(const PlatformError& error);
// Raises the error that was sent, or 3049 for bytes that are not whole.
AccessDatabase Decode(const std::string& bytes);

}  // namespace pendra::mdb::detail
