// pendra as the child-process tests run it: the shipped program's command
// line, with one test seam. PENDRA_PROBE_ONLY_PIDS, a list of process IDs
// separated by commas (possibly empty), narrows the probe for a running
// office to those processes: other tests start stand-in user offices for
// a few milliseconds, which must not turn a run into a refusal. The shipped
// program (cli/main.cpp) reads no such variable.
#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BatchCommand.h"
#include "core/InstalledLocale.h"
#include "excel/Excel.h"

namespace {

void NarrowProbe() {
  const char* list = std::getenv("PENDRA_PROBE_ONLY_PIDS");
  if (!list) return;
  auto pids = std::make_shared<std::set<pid_t>>();
  for (const char* p = list; *p;) {
    char* end = nullptr;
    const long pid = std::strtol(p, &end, 10);
    if (end == p) {
      ++p;
      continue;
    }
    if (pid > 0) pids->insert(static_cast<pid_t>(pid));
    p = end;
  }
  pendra::excel::SetProbeScope([pids](pid_t pid) { return pids->count(pid) > 0; });
}

}  // namespace

int main(int argc, char** argv) {
  NarrowProbe();
  pendra::UseInstalledLocale();
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return pendra::cli::RunBatchCommand(args, pendra::cli::ConsoleStreams::Standard(),
                                      error ? std::string(".") : exe.parent_path().string());
}
