#include "ConfinedChild.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <vector>

// AddressSanitizer reserves terabytes of address space for its shadow: under
// it the child's address-space limit would fail every allocation. It also
// writes its reports to files of its own, which the child may not open: they
// go to the parent's standard error instead, on a descriptor kept for them.
// And the sanitizers tell readable memory (checking a vtable pointer, say)
// by writing it to a pipe of their own: under them the child may make pipes
// and write to any descriptor it holds (it can open none for writing).
#if defined(__SANITIZE_ADDRESS__)
#define PENDRA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PENDRA_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef PENDRA_ADDRESS_SANITIZER
#define PENDRA_ADDRESS_SANITIZER 0
#endif
#if PENDRA_ADDRESS_SANITIZER
#include <sanitizer/common_interface_defs.h>
#endif

namespace pendra::mdb::detail {

namespace {

using Clock = std::chrono::steady_clock;

#if defined(__x86_64__)
constexpr uint32_t kArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t kArchitecture = AUDIT_ARCH_AARCH64;
#else
#error "the confined child's system call filter knows x86-64 and AArch64 only"
#endif

#if !PENDRA_ADDRESS_SANITIZER
// The child may hold this much memory at most: a damaged file cannot make
// it take the machine's.
constexpr rlim_t kChildMemory = rlim_t{4} << 30;
#endif

// Opening a file in any of these ways could change it.
constexpr uint32_t kWritingOpenFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND | (O_TMPFILE & ~O_DIRECTORY);

// A seccomp program: every system call not allowed here fails with EPERM,
// and a call made through another architecture's numbers ends the process.
class SyscallFilter {
 public:
  explicit SyscallFilter(const std::vector<int>& writableFds) {
    Load(offsetof(seccomp_data, arch));
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArchitecture, 1, 0));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
    Load(offsetof(seccomp_data, nr));
#if defined(__x86_64__)
    // The x32 numbers of the same calls.
    Add(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 0, 1));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
#endif
    for (const int call : kAllowed) Allow(call);
    AllowWritingTo(writableFds);
#ifdef __NR_open
    AllowOpeningForReading(__NR_open, 1);
#endif
    AllowOpeningForReading(__NR_openat, 2);
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)));
  }

  bool Install() {
    const sock_fprog program{static_cast<unsigned short>(code_.size()), code_.data()};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
  }

 private:
  // Reading files, memory, the runtime's own needs (locks, clocks, random
  // seeds, signal returns) and the end.
  static constexpr int kAllowed[] = {
      __NR_read, __NR_readv, __NR_pread64, __NR_preadv, __NR_lseek, __NR_fstat, __NR_newfstatat, __NR_statx,
      __NR_faccessat, __NR_readlinkat, __NR_getdents64, __NR_close,
#ifdef __NR_stat
      __NR_stat, __NR_lstat, __NR_access, __NR_readlink,
#endif
      __NR_brk, __NR_mmap, __NR_munmap, __NR_mremap, __NR_mprotect, __NR_madvise,
      __NR_futex, __NR_sched_yield, __NR_getpid, __NR_gettid, __NR_clock_gettime, __NR_gettimeofday,
      __NR_getrandom, __NR_rt_sigreturn, __NR_rt_sigprocmask, __NR_sigaltstack,
      __NR_exit, __NR_exit_group,
#if PENDRA_ADDRESS_SANITIZER
      __NR_pipe2, __NR_write,
#ifdef __NR_pipe
      __NR_pipe,
#endif
#endif
  };

  void Add(sock_filter instruction) { code_.push_back(instruction); }
  void Load(uint32_t offset) { Add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset)); }
  // The low 32 bits of argument `index` (the machines here are little-endian).
  static uint32_t Argument(int index) {
    return static_cast<uint32_t>(offsetof(seccomp_data, args) + sizeof(uint64_t) * static_cast<size_t>(index));
  }
  void Allow(int call) {
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 1));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  }
  // write() to the given descriptors only; the call number is gone from
  // the accumulator afterwards, so every way out of the block returns.
  void AllowWritingTo(const std::vector<int>& fds) {
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_write, 0, static_cast<uint8_t>(2 + 2 * fds.size())));
    Load(Argument(0));
    for (const int fd : fds) Allow(fd);
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)));
  }
  void AllowOpeningForReading(int call, int flagsArgument) {
    Add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 4));
    Load(Argument(flagsArgument));
    Add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kWritingOpenFlags, 0, 1));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)));
    Add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  }

  std::vector<sock_filter> code_;
};

// Closes the descriptors from `first` to `last`; one by one on a kernel
// without close_range.
bool CloseRange(unsigned first, unsigned last) {
  if (close_range(first, last, 0) == 0) return true;
  if (errno != ENOSYS) return false;
  rlimit open{};
  if (getrlimit(RLIMIT_NOFILE, &open) != 0) return false;
  for (rlim_t fd = first; fd <= last && fd < open.rlim_cur; ++fd) close(static_cast<int>(fd));
  return true;
}

// Closes every descriptor but those kept (in ascending order).
bool CloseAllBut(const std::vector<int>& kept) {
  unsigned from = 0;
  for (const int fd : kept) {
    if (static_cast<unsigned>(fd) > from && !CloseRange(from, static_cast<unsigned>(fd) - 1)) return false;
    from = static_cast<unsigned>(fd) + 1;
  }
  return CloseRange(from, ~0U);
}

}  // namespace

bool ConfineThisProcess(int reply) {
  std::vector<int> writable{reply};
#if PENDRA_ADDRESS_SANITIZER
  const int reports = fcntl(STDERR_FILENO, F_DUPFD, reply + 1);
  if (reports >= 0) {
    // The sanitizers' interface takes the descriptor as a pointer.
    // NOLINTNEXTLINE(performance-no-int-to-ptr): it is never dereferenced.
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(reports)));
    writable.push_back(reports);
  }
#endif
  if (!CloseAllBut(writable)) return false;
  const rlimit noCore{0, 0};
#if PENDRA_ADDRESS_SANITIZER
  const bool memoryLimited = true;
#else
  const rlimit memory{kChildMemory, kChildMemory};
  const bool memoryLimited = setrlimit(RLIMIT_AS, &memory) == 0;
#endif
  return memoryLimited && setrlimit(RLIMIT_CORE, &noCore) == 0 && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         SyscallFilter(writable).Install();
}

Send SendTo(int reply) {
  return [reply](std::string_view bytes) {
    for (size_t at = 0; at < bytes.size();) {
      const ssize_t n = write(reply, bytes.data() + at, bytes.size() - at);
      if (n <= 0) _exit(1);
      at += static_cast<size_t>(n);
    }
  };
}

ChildReply RunConfinedProgram(const std::vector<std::string>& args,
                              const std::function<void(std::string_view)>& received, const ChildLimits& limits) {
  ChildReply reply;
  reply.end = ChildReply::End::NotStarted;
  // Everything the child needs is made before the fork.
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2];
  if (args.empty() || pipe2(pipeFds, O_CLOEXEC) != 0) return reply;
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return reply;
  }
  if (child == 0) {
    // Ends with the thread that started it, which waits for it; the parent
    // may have gone already. The pipe becomes its standard output, kept
    // open across the exec.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(kNotRunExit);
    if (pipeFds[1] == STDOUT_FILENO ? fcntl(STDOUT_FILENO, F_SETFD, 0) != 0
                                    : dup2(pipeFds[1], STDOUT_FILENO) != STDOUT_FILENO)
      _exit(kNotRunExit);
    execve(argv[0], argv.data(), environ);
    _exit(kNotRunExit);
  }
  close(pipeFds[1]);
  // What the child sends, until it closes the pipe, the time is up or it
  // sends more than the budget.
  reply.end = ChildReply::End::Whole;
  const auto deadline = Clock::now() + limits.time;
  std::vector<char> buffer(1 << 16);
  size_t taken = 0;
  const auto end = [&] {
    close(pipeFds[0]);
    if (reply.end != ChildReply::End::Whole) kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  };
  try {
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        reply.end = ChildReply::End::TimedOut;
        break;
      }
      pollfd p{pipeFds[0], POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000))) <= 0) continue;
      // One byte more than the budget allows tells an overrun.
      const size_t room = limits.replyBytes - std::min(limits.replyBytes, taken) + 1;
      const ssize_t n = read(pipeFds[0], buffer.data(), std::min(buffer.size(), room));
      if (n <= 0) break;
      if (static_cast<size_t>(n) >= room) {
        reply.end = ChildReply::End::OverBudget;
        break;
      }
      taken += static_cast<size_t>(n);
      received(std::string_view(buffer.data(), static_cast<size_t>(n)));
    }
  } catch (...) {
    reply.end = ChildReply::End::Failed;
    end();
    throw;
  }
  const int status = end();
  if (reply.end == ChildReply::End::Whole && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    const int exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    reply.end = exit == kUnconfinedExit ? ChildReply::End::Unconfined
                : exit == kNotRunExit   ? ChildReply::End::NotStarted
                                        : ChildReply::End::Failed;
  }
  return reply;
}

}  // namespace pendra::mdb::detail
