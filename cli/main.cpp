// pendra: the batch command. Runs the same job code as the window, through
// a console implementation of the jobs' user interface.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "BatchCommand.h"
#include "Commands.h"
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
  // RunBatchCommand tells a command's failures itself; this is for what
  // remains (memory running out while the arguments are read): a message
  // and the failure status, not an abort.
  try {
    pendra::UseInstalledLocale();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return pendra::cli::RunBatchCommand(args, pendra::cli::ConsoleStreams::Standard(), ExecutableFolder());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendra: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "pendra: unexpected error\n");
  }
  return pendra::cli::kFailed;
}
