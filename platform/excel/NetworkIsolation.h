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
//
// A user namespace whose ID maps cannot be written (a security module may
// allow the one and forbid the other) cannot be left again, and inside it
// the user's files belong to nobody: a child left there never runs the
// office. It ends, the parent learns why through a pipe, and from then on
// this process starts its offices without namespaces. Both ways of running
// without them are said once on standard error, the program's log.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace pendra::excel {

class NetworkIsolation {
 public:
  // Everything the child needs, prepared before fork.
  static NetworkIsolation Prepare();
  NetworkIsolation(NetworkIsolation&& other) noexcept;
  NetworkIsolation& operator=(NetworkIsolation&&) = delete;
  ~NetworkIsolation();

  // In the forked child, before exec: async-signal-safe calls only. False
  // when the child was left half inside (it must end without running
  // anything); the parent hears of it either way.
  bool EnterInChild() const;
  // In the parent, once the child is forked: false when the child was left
  // half inside; it has ended then, and later starts go without namespaces.
  bool ConfirmInParent();

  // For tests: the user ID map the next starts write in place of the
  // user's own, taking the way an ordinary user takes also as root (a map
  // the kernel refuses makes the write fail, as a security module's refusal
  // does). Each call lets namespaces be tried again; nothing restores the
  // user's own map.
  static void SetUidMapForTests(std::optional<std::string> map);

 private:
  NetworkIsolation() = default;

  bool enabled_ = true;
  bool userNamespaceOnly_ = false;
  std::string uidMap_;
  std::string gidMap_;
  int answer_[2] = {-1, -1};  // the child's answer: read end, write end
};

}  // namespace pendra::excel
