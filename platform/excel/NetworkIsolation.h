// Puts the office process into a network namespace of its own, where no
// interface is up: whatever a workbook links to (an image on a web server,
// an external reference, a web function) cannot be fetched, and the office
// cannot reach this machine's loopback either. The office still talks to
// us: its pipe is a socket in the file system, which namespaces do not
// divide.
//
// As root the namespace is made directly; an ordinary user makes a user
// namespace with it, in which the user's own IDs map to themselves, so the
// files the office writes keep their owner. Where the kernel allows
// neither, the office runs as before, behind its own settings (links never
// updated, linked images of untrusted documents blocked).
#pragma once

#include <string>

namespace pendra::excel {

class NetworkIsolation {
 public:
  // Everything the child needs, prepared before fork.
  static NetworkIsolation Prepare();
  // In the forked child, before exec: async-signal-safe calls only.
  // True when the child now has a network namespace of its own.
  bool EnterInChild() const;

 private:
  std::string uidMap_;
  std::string gidMap_;
};

}  // namespace pendra::excel
