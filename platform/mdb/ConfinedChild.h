// Work on untrusted bytes done in a child process that can do no harm:
// it keeps no descriptor but the pipe to its parent, gains no privileges,
// may only read files, use memory and write to that pipe (a seccomp
// filter refuses everything else with EPERM: no file written, no socket,
// no process started), dumps no core and dies with its parent. The parent
// takes what the child sends under a time limit and a byte budget.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

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
    NotStarted,  // no pipe or no process could be made
  };
  End end = End::Failed;
  std::string bytes;  // what it sent (up to the budget)
};

// Runs `work` in a confined child and returns what it sent. `work` must
// not throw; what it returns is the reply.
ChildReply RunConfined(const std::function<std::string()>& work, const ChildLimits& limits);

// The same, the reply taken as it comes: `work` sends its bytes piece by
// piece (send blocks while the parent is busy with what came before), and
// `received` is given each piece as it arrives, so neither side holds the
// whole reply. The reply's bytes stay empty. When `received` throws, the
// child is ended and the exception goes on to the caller.
using Send = std::function<void(std::string_view)>;
ChildReply RunConfinedStreaming(const std::function<void(const Send& send)>& work,
                                const std::function<void(std::string_view)>& received, const ChildLimits& limits);

}  // namespace pendra::mdb::detail
