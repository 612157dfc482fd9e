#include "TagMasterUpdate.h"

namespace pendra::tagimport {

// The import is built in its own change; until then the handler does nothing.
void Command1_Click(UserInterface&) {}

}  // namespace pendra::tagimport
