// Work on untrusted bytes done in a program of our own that can do no
// harm: it keeps no descriptor but the pipe to its parent, gains no
// privileges, may only read files, use memory and write to that pipe (a
// seccomp filter refuses everything else with EPERM: no file written, no
// socket, no process started), dumps no core and dies with its parent. The
// parent takes what the program sends under a time limit and a byte budget.
//
// The work runs in a program started afresh, never in a plain fork of the
// caller: the caller has other threads (the window's, the office's bridge,
// a job's helpers), and a fork copies every lock they held at that moment
// held for ever (iconv's, GLib's, the sanitizers' allocator's). A forked
// child that needed one of them waited until its time limit. Between the
// fork and the start of the program only async-signal-safe calls run.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pendra::mdb::detail {

struct ChildLimits {
  std::chrono::milliseconds time{30000};
  size_t replyBytes = size_t{64} << 20;  // the most the child may send
};

struct ChildReply {
  enum class End {
    Whole,       // the child sent its reply and ended well
    TimedOut,    // killed at the time limit
    OverBudget,  // killed when it sent more than the budget
    Failed,      // it died or ended with a failure
    Unconfined,  // it could not be confined, and did no work
    NotStarted,  // no pipe or no process could be made, or the program not run
  };
  End end = End::Failed;
};

// How a confined program ends when it could not be confined (before any
// work), and how its start ends when the program could not be run.
constexpr int kUnconfinedExit = 97;
constexpr int kNotRunExit = 96;

// Confines the calling process; the first thing a confined program does,
// before it looks at its arguments. `reply` is the one descriptor it keeps
// to write to. False when it could not be confined: it must then end with
// kUnconfinedExit, having done nothing.
bool ConfineThisProcess(int reply);

// Runs the program argv[0] (a path) with the arguments that follow, with
// this process's environment; it dies with the calling thread. What it
// writes to its standard output is its reply, given to `received` piece by
// piece as it arrives (the program blocks while the parent is busy with
// what came before), so neither side holds the whole reply. When `received` throws, the program is ended and the
// exception goes on to the caller.
ChildReply RunConfinedProgram(const std::vector<std::string>& argv,
                              const std::function<void(std::string_view)>& received, const ChildLimits& limits);

// How a confined program writes its reply: all of it, or it ends.
using Send = std::function<void(std::string_view)>;
Send SendTo(int reply);

}  // namespace pendra::mdb::detail
