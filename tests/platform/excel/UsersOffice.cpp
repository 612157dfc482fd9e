#include "UsersOffice.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace pendra::excel::test {

UsersOffice::UsersOffice(const std::string& folder, const std::string& profileArgument,
                         const std::vector<std::string>& extraArguments) {
  const std::string exe = folder + "/soffice.bin";
  if (!fs::exists(exe)) fs::copy_file("/bin/sh", exe);
  fs::permissions(exe, fs::perms::owner_all);
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> args = {exe, "-c", "read x", profileArgument};
  args.insert(args.end(), extraArguments.begin(), extraArguments.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(fds[0], 0);
    close(fds[1]);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(fds[0]);
  writeEnd_ = fds[1];
  // Until exec has happened the process still looks like the test.
  for (int i = 0; i < 400; ++i) {
    std::error_code ec;
    const auto target = fs::read_symlink("/proc/" + std::to_string(pid_) + "/exe", ec);
    if (!ec && target.filename() == "soffice.bin") break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

UsersOffice::~UsersOffice() {
  close(writeEnd_);
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

}  // namespace pendra::excel::test
