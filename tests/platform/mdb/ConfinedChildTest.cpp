// The child that reads Access files: what it may not do (write or create a
// file, open a socket, start a program), what it may (read a file), what
// it keeps (no descriptor of its parent's), what it may send (no more than
// its budget) and that it dies with its parent. Each action runs in the
// same confined child the reader runs libmdb in.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "DamagedCopies.h"
#include "core/PlatformError.h"
#include "mdb/AccessFile.h"
#include "mdb/ConfinedChild.h"

namespace pendra::mdb::detail {
namespace {

namespace fs = std::filesystem;

const fs::path kData = PENDRA_ACCESS_TESTDATA;

// Runs `action` confined and returns what it returned, or how the child ended.
std::string InChild(const std::function<std::string()>& action, ChildLimits limits = {}) {
  limits.time = std::chrono::seconds(20);
  const ChildReply reply = RunConfined(action, limits);
  if (reply.end != ChildReply::End::Whole) return "child ended " + std::to_string(static_cast<int>(reply.end));
  return reply.bytes;
}

// The result of a system call as "-1 errno" or "ok".
std::string Result(long result) { return result < 0 ? "-1 " + std::to_string(errno) : "ok"; }

TEST(ConfinedChild, CannotWriteCreateOrRemoveAFileNorConnectNorStartAProgram) {
  const test::TemporaryFolder folder;
  const std::string existing = folder.File("existing");
  std::ofstream(existing) << "kept";
  const std::string created = folder.File("created");
  const std::string refused = "-1 " + std::to_string(EPERM);
  const struct {
    const char* what;
    std::function<long()> call;
  } cases[] = {
      {"create a file", [&] { return static_cast<long>(open(created.c_str(), O_WRONLY | O_CREAT, 0600)); }},
      {"create a file opened for reading", [&] { return static_cast<long>(open(created.c_str(), O_RDONLY | O_CREAT, 0600)); }},
      {"open a file for writing", [&] { return static_cast<long>(open(existing.c_str(), O_WRONLY)); }},
      {"open a file for reading and writing", [&] { return static_cast<long>(open(existing.c_str(), O_RDWR)); }},
      {"empty a file", [&] { return static_cast<long>(open(existing.c_str(), O_RDONLY | O_TRUNC)); }},
      {"append to a file", [&] { return static_cast<long>(open(existing.c_str(), O_RDONLY | O_APPEND)); }},
      {"remove a file", [&] { return static_cast<long>(unlink(existing.c_str())); }},
      {"rename a file", [&] { return static_cast<long>(rename(existing.c_str(), created.c_str())); }},
      {"make a folder", [&] { return static_cast<long>(mkdir(created.c_str(), 0700)); }},
      {"open a network socket", [] { return static_cast<long>(socket(AF_INET, SOCK_STREAM, 0)); }},
      {"open a local socket", [] { return static_cast<long>(socket(AF_UNIX, SOCK_STREAM, 0)); }},
      {"start a process", [] { return static_cast<long>(fork()); }},
      {"run a program", [] {
         char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
         return static_cast<long>(execv("/bin/true", argv));
       }},
      {"signal its parent", [] { return static_cast<long>(kill(getppid(), 0)); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InChild([&] { return Result(c.call()); }), refused) << c.what;
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
  const std::string reply = InChild([&] {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return text;
  });
  EXPECT_EQ(reply, "some bytes");
}

TEST(ConfinedChild, KeepsNoDescriptorOfItsParent) {
  const test::TemporaryFolder folder;
  const std::string file = folder.File("open in the parent");
  std::ofstream(file) << "x";
  const int inherited = open(file.c_str(), O_RDWR);  // no O_CLOEXEC: a fork keeps it
  ASSERT_GE(inherited, 0);
  const std::string closed = "-1 " + std::to_string(EBADF);
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO, inherited}) {
    EXPECT_EQ(InChild([fd] {
                struct stat st {};
                return Result(fstat(fd, &st));
              }),
              closed)
        << "descriptor " << fd;
  }
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
    const ChildReply reply = RunConfined([&] { return std::string(c.sent, 'x'); }, limits);
    EXPECT_EQ(static_cast<int>(reply.end), static_cast<int>(c.end)) << c.sent;
    EXPECT_EQ(reply.bytes.size(), c.end == ChildReply::End::Whole ? c.sent : 0) << c.sent;
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
  const ChildReply whole = RunConfinedStreaming(
      [](const Send& send) {
        for (int i = 0; i < 1000; ++i) send(std::to_string(i) + ";");
      },
      [&](std::string_view piece) { taken.append(piece); }, limits);
  EXPECT_EQ(static_cast<int>(whole.end), static_cast<int>(ChildReply::End::Whole));
  std::string sent;
  for (int i = 0; i < 1000; ++i) sent += std::to_string(i) + ";";
  EXPECT_EQ(taken, sent);

  size_t received = 0;
  const auto start = std::chrono::steady_clock::now();
  try {
    RunConfinedStreaming(
        [](const Send& send) {
          while (true) send(std::string(4096, 'x'));
        },
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
    RunConfined(
        []() -> std::string {
          while (true) sched_yield();
        },
        limits);
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
