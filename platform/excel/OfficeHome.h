// The home an office instance runs in: a folder of its own inside its
// private profile, named by HOME, GNUPGHOME and the XDG base folders. What
// the office starts on a workbook's behalf (the signature check of a signed
// document runs gpg, gpgsm and gpgconf, which import the document's key
// into a keyring) writes there and nowhere else: never into the user's own
// keyring or settings, and it goes with the profile when the instance ends.
// The keyring's settings forbid starting gpg-agent, a daemon that would
// outlive the instance.
#pragma once

#include <string>
#include <vector>

namespace pendra::excel {

// Creates the home's folders and keyring settings (0700) inside profileDir.
// False when any of them cannot be made.
bool PrepareOfficeHome(const std::string& profileDir);

// The environment entries that point the office at that home; they replace
// the parent's entries of the same names.
std::vector<std::string> OfficeHomeEnvironment(const std::string& profileDir);

// Whether an environment entry ("NAME=value") is one of those names, or
// another pointer into the user's keyring or agent.
bool IsHomeVariable(const std::string& entry);

}  // namespace pendra::excel
