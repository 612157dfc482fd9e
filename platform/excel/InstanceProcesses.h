// Every process an office instance started, wherever it went. The office
// runs helpers of its own (gpg and gpgsm for a signed document, among
// others), and a helper may turn into a daemon: it leaves the office's
// process group and session and is adopted by init, so neither killing the
// office nor killing its group ends it. Each instance therefore carries a
// mark in its environment, which every process it starts inherits; ending
// the instance kills its process group and then every process of this user
// that carries the mark, until none is left.
#pragma once

#include <sys/types.h>

#include <string>

namespace pendra::excel {

// A handle on the process (-1 when it is gone), by which a signal reaches
// it and no other even once its PID is reused; and SIGKILL through it.
int PidfdOpen(pid_t pid);
bool PidfdKill(int pidfd);

// The environment entry ("NAME=value") that marks the processes of the
// instance whose private profile is profileDir.
std::string InstanceMark(const std::string& profileDir);

// Kills every process of this user that carries `mark`; returns how many
// it killed. Signals go through pidfds, so a PID that was reused in the
// meantime is never hit. (The group is killed by whoever still holds its
// leader unreaped: a group's ID is free for reuse once the leader is
// reaped and its last member gone.)
int KillInstanceProcesses(const std::string& mark);

}  // namespace pendra::excel
