// The confined program that reads Access files: what it may not do (write
// or create a file, open a socket, start a program), what it may (read a
// file), what it keeps (no descriptor of its parent's), what it may send
// (no more than its budget), that it dies with its parent and that locks
// the parent's other threads hold never reach it. Each action runs in a
// probe program confined as the reading program is.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>
#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "DamagedCopies.h"
#include "core/PlatformError.h"
#include "mdb/AccessFile.h"
#include "mdb/ConfinedChild.h"

namespace pendra::mdb::detail {
namespace {

namespace fs = std::filesystem;

const fs::path kData = PENDRA_ACCESS_TESTDATA;

const std::string kProbe = PENDRA_CONFINED_PROBE;

// Runs the probe with these arguments, confined, and returns what it sent,
// or how it ended.
std::string InChild(std::vector<std::string> args, ChildLimits limits = {}) {
  limits.time = std::chrono::seconds(20);
  args.insert(args.begin(), kProbe);
  std::string bytes;
  const ChildReply reply = RunConfinedProgram(args, [&](std::string_view piece) { bytes.append(piece); }, limits);
  if (reply.end != ChildReply::End::Whole) return "child ended " + std::to_string(static_cast<int>(reply.end));
  return bytes;
}

TEST(ConfinedChild, CannotWriteCreateOrRemoveAFileNorConnectNorStartAProgram) {
  const test::TemporaryFolder folder;
  const std::string existing = folder.File("existing");
  std::ofstream(existing) << "kept";
  const std::string created = folder.File("created");
  const std::string refused = "-1 " + std::to_string(EPERM);
  const std::vector<std::vector<std::string>> cases = {
      {"create", created},
      {"create-for-reading", created},
      {"open-for-writing", existing},
      {"open-for-reading-and-writing", existing},
      {"empty", existing},
      {"append", existing},
      {"remove", existing},
      {"rename", existing, created},
      {"make-folder", created},
      {"network-socket"},
      {"local-socket"},
      {"fork"},
      {"run"},
      {"signal-parent"},
  };
  for (auto args : cases) {
    const std::string what = args[0];
    args.insert(args.begin(), "try");
    EXPECT_EQ(InChild(args), refused) << what;
  }
  std::string kept;
  std::getline(std::ifstream(existing), kept);
  EXPECT_EQ(kept, "kept");
  EXPECT_FALSE(fs::exists(created));
}

TEST(ConfinedChild, ReadsAFile) {
  const test::TemporaryFolder folder;
  const std::string file = folder.File("readable");
  std::ofstream(file) << "some bytes";
  EXPECT_EQ(InChild({"read", file}), "some bytes");
}

TEST(ConfinedChild, KeepsNoDescriptorOfItsParent) {
  const test::TemporaryFolder folder;
  const std::string file = folder.File("open in the parent");
  std::ofstream(file) << "x";
  const int inherited = open(file.c_str(), O_RDWR);  // no O_CLOEXEC: the program would keep it
  ASSERT_GE(inherited, 0);
  const std::string closed = "-1 " + std::to_string(EBADF);
  // Its standard output is the pipe its reply goes through.
  for (const int fd : {STDIN_FILENO, STDERR_FILENO, inherited})
    EXPECT_EQ(InChild({"try", "fstat", std::to_string(fd)}), closed) << "descriptor " << fd;
  close(inherited);
}

TEST(ConfinedChild, SendsNoMoreThanItsBudget) {
  ChildLimits limits;
  limits.time = std::chrono::seconds(20);
  limits.replyBytes = 1000;
  const struct {
    size_t sent;
    ChildReply::End end;
  } cases[] = {
      {1000, ChildReply::End::Whole},
      {1001, ChildReply::End::OverBudget},
      {size_t{16} << 20, ChildReply::End::OverBudget},  // more than the pipe holds: the child is ended
  };
  for (const auto& c : cases) {
    size_t taken = 0;
    const ChildReply reply = RunConfinedProgram({kProbe, "send", std::to_string(c.sent)},
                                                [&](std::string_view piece) { taken += piece.size(); }, limits);
    EXPECT_EQ(static_cast<int>(reply.end), static_cast<int>(c.end)) << c.sent;
    EXPECT_LE(taken, limits.replyBytes) << c.sent;
  }
}

// Taken as it comes: the pieces arrive in order while the child still
// sends, and a receiver that refuses a piece ends the child at once (it
// would send for ever) with its error, leaving no process behind.
TEST(ConfinedChild, AReplyTakenAsItComesEndsTheChildWhenTheReceiverRefuses) {
  ChildLimits limits;
  limits.time = std::chrono::seconds(20);
  limits.replyBytes = size_t{1} << 40;
  std::string taken;
  const ChildReply whole =
      RunConfinedProgram({kProbe, "count", "1000"}, [&](std::string_view piece) { taken.append(piece); }, limits);
  EXPECT_EQ(static_cast<int>(whole.end), static_cast<int>(ChildReply::End::Whole));
  std::string sent;
  for (int i = 0; i < 1000; ++i) sent += std::to_string(i) + ";";
  EXPECT_EQ(taken, sent);

  size_t received = 0;
  const auto start = std::chrono::steady_clock::now();
  try {
    RunConfinedProgram(
        {kProbe, "send", std::to_string(size_t{1} << 50)},  // without end, as far as the test goes
        [&](std::string_view piece) {
          received += piece.size();
          if (received > (size_t{1} << 20)) Raise(3049, "refused");
        },
        limits);
    ADD_FAILURE() << "the receiver's refusal was lost";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), 3049);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  std::ifstream children("/proc/self/task/" + std::to_string(getpid()) + "/children");
  pid_t left = 0;
  EXPECT_FALSE(children >> left) << "child " << left << " left behind";
}

TEST(ConfinedChild, AProgramThatCannotBeRunIsNotStarted) {
  const ChildReply reply = RunConfinedProgram({kProbe + ".missing"}, [](std::string_view) {}, {});
  EXPECT_EQ(static_cast<int>(reply.end), static_cast<int>(ChildReply::End::NotStarted));
}

// While other threads of the program convert text and allocate through
// GLib (as the window's and the office bridge's threads do), every reading
// ends in time: a reading child forked off the program could inherit their
// locks held and wait for ever (1 reading in 8 timed out so).
TEST(ConfinedChild, LocksOtherThreadsHoldNeverHoldUpAReading) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  busy.emplace_back([&] {
    while (!stop) {
      const iconv_t conversion = iconv_open("CP932", "UTF-8");
      if (conversion != reinterpret_cast<iconv_t>(-1)) iconv_close(conversion);
    }
  });
  busy.emplace_back([&] {
    while (!stop) {
      g_slice_free1(48, g_slice_alloc(48));
      g_free(g_strdup_printf("%d", 1));
    }
  });
  ReadOptions options;
  options.timeLimit = std::chrono::seconds(5);
  for (int i = 0; i < 40; ++i) {
    try {
      ReadAccessFile((kData / "ja_V2000.mdb").string(), options);
    } catch (const PlatformError& e) {
      ADD_FAILURE() << "reading " << i << ": " << e.Description();
    }
  }
  stop = true;
  for (auto& thread : busy) thread.join();
}

TEST(ConfinedChild, AReadingOverItsBudgetIsRefused) {
  ReadOptions options;
  options.replyBudget = 1000;
  try {
    ReadAccessFile((kData / "ja_V2000.mdb").string(), options);
    ADD_FAILURE() << "read within 1000 bytes";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), 3049);
    EXPECT_NE(e.Description().find("上限 (1000 バイト)"), std::string::npos) << e.Description();
  }
}

bool Gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const auto state = line.find(") ");
  return state != std::string::npos && line[state + 2] == 'Z';
}

TEST(ConfinedChild, DiesWithItsParent) {
  const pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    ChildLimits limits;
    limits.time = std::chrono::seconds(60);
    RunConfinedProgram({kProbe, "spin"}, [](std::string_view) {}, limits);
    _exit(0);
  }
  // The confined child, once started.
  pid_t child = 0;
  for (int tries = 0; tries < 200 && child == 0; ++tries) {
    std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
    if (!(children >> child)) child = 0;
    if (child == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_GT(child, 0);
  kill(parent, SIGKILL);
  waitpid(parent, nullptr, 0);
  bool gone = false;
  for (int tries = 0; tries < 250 && !gone; ++tries) {
    gone = Gone(child);
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(gone) << "the confined child " << child << " outlived its parent";
  if (!gone) kill(child, SIGKILL);
}

}  // namespace
}  // namespace pendra::mdb::detail
