// pendra: the batch command. Runs the same job code as the window, through
// a console implementation of the jobs' user interface.
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "BatchCommand.h"
#include "core/InstalledLocale.h"

namespace {

// The folder of the executable itself; through a link in /usr/bin this is
// still the installation folder, since /proc resolves the link.
std::string ExecutableFolder() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : exe.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  pendra::UseInstalledLocale();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return pendra::cli::RunBatchCommand(args, pendra::cli::ConsoleStreams::Standard(), ExecutableFolder());
}
