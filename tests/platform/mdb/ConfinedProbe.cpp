// A confined program for the tests: it confines itself as the reading
// program does, then does what it is told and writes what came of it.
//
//   confined-probe try CALL [PATH [PATH]]  one system call: "ok" or "-1 errno"
//   confined-probe read PATH               the file's first line
//   confined-probe send N                  N bytes, 4 KiB at a time
//   confined-probe count N                 "0;1;…;N-1;"
//   confined-probe spin                    nothing, for ever
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "mdb/ConfinedChild.h"

namespace {

using pendra::mdb::detail::SendTo;

long Try(const std::string& call, const char* path, const char* other) {
  if (call == "create") return open(path, O_WRONLY | O_CREAT, 0600);
  if (call == "create-for-reading") return open(path, O_RDONLY | O_CREAT, 0600);
  if (call == "open-for-writing") return open(path, O_WRONLY);
  if (call == "open-for-reading-and-writing") return open(path, O_RDWR);
  if (call == "empty") return open(path, O_RDONLY | O_TRUNC);
  if (call == "append") return open(path, O_RDONLY | O_APPEND);
  if (call == "remove") return unlink(path);
  if (call == "rename") return rename(path, other);
  if (call == "make-folder") return mkdir(path, 0700);
  if (call == "network-socket") return socket(AF_INET, SOCK_STREAM, 0);
  if (call == "local-socket") return socket(AF_UNIX, SOCK_STREAM, 0);
  if (call == "fork") return fork();
  if (call == "run") {
    char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
    return execv("/bin/true", argv);
  }
  if (call == "signal-parent") return kill(getppid(), 0);
  if (call == "fstat") {
    struct stat st {};
    return fstat(std::atoi(path), &st);
  }
  std::_Exit(3);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!pendra::mdb::detail::ConfineThisProcess(STDOUT_FILENO)) _exit(pendra::mdb::detail::kUnconfinedExit);
  const auto send = SendTo(STDOUT_FILENO);
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "try" && argc >= 3) {
    const long result = Try(argv[2], argc > 3 ? argv[3] : "", argc > 4 ? argv[4] : "");
    send(result < 0 ? "-1 " + std::to_string(errno) : "ok");
  } else if (what == "read" && argc == 3) {
    std::ifstream in(argv[2]);
    std::string line;
    std::getline(in, line);
    send(line);
  } else if (what == "send" && argc == 3) {
    for (unsigned long long left = std::strtoull(argv[2], nullptr, 10); left > 0;) {
      const auto piece = std::min<unsigned long long>(left, 4096);
      send(std::string(piece, 'x'));
      left -= piece;
    }
  } else if (what == "count" && argc == 3) {
    for (long i = 0; i < std::atol(argv[2]); ++i) send(std::to_string(i) + ";");
  } else if (what == "spin") {
    while (true) sched_yield();
  } else {
    _exit(2);
  }
  _exit(0);
}
