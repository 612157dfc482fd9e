// pendra: the batch command. Runs the same job code as the window, through
// a console implementation of the jobs' user interface.
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ConsoleUi.h"
#include "core/PlatformError.h"
#include "ScheduleJobs.h"
#include "TagMasterUpdate.h"
#include "Usage.h"
#include "excel/Excel.h"

namespace {

constexpr int kCompleted = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// The folder of the executable itself; through a link in /usr/bin this is
// still the installation folder, since /proc resolves the link.
std::string ExecutableFolder() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : exe.parent_path().string();
}

int UsageError(const std::string& what) {
  std::cerr << "pendra: " << what << "\n\n" << pendra::cli::kUsage;
  return kUsageError;
}

// Test hook: PENDRA_PROBE_ONLY_PIDS, a list of process IDs separated by
// commas (possibly empty), narrows the probe for a running office to those
// processes. The test suites run this command while other tests start
// stand-in user offices for a few milliseconds; the hook keeps those from
// turning a run into a refusal. Unset, as in every real use, the probe looks
// at every process of the user. Only this command reads it.
void NarrowProbeForTests() {
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

// A positive whole number given to an option, or nothing.
std::optional<long> PositiveNumber(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value <= 0) return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  pendra::cli::ConsoleOptions options;
  pendra::excel::OfficeLimits limits = pendra::excel::OfficeLimitsFromEnvironment();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << pendra::cli::kUsage;
      return kCompleted;
    } else if (arg == "--version") {
      std::cout << "pendra (Pendra_Set) 1.00\n";
      return kCompleted;
    } else if (arg == "--yes" || arg == "-y") {
      options.assumeYes = true;
    } else if (arg == "--base") {
      if (++i == argc) return UsageError("--base needs a folder");
      options.baseFolder = argv[i];
    } else if (arg.rfind("--base=", 0) == 0) {
      options.baseFolder = arg.substr(7);
    } else if (arg == "--office-memory" || arg == "--office-seconds") {
      if (++i == argc) return UsageError(arg + " needs a number");
      const auto value = PositiveNumber(argv[i]);
      if (!value) return UsageError(arg + " needs a positive whole number");
      if (arg == "--office-memory") limits.memoryMegabytes = static_cast<size_t>(*value);
      else limits.time = std::chrono::seconds(*value);
    } else if (arg.rfind("--", 0) == 0) {
      return UsageError("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return UsageError("expected a command and one argument");

  NarrowProbeForTests();
  pendra::excel::SetOfficeLimits(limits);
  const std::string& command = positional[0];
  const std::string& argument = positional[1];
  if (options.baseFolder.empty()) options.baseFolder = ExecutableFolder();
  while (options.baseFolder.size() > 1 && options.baseFolder.back() == '/')
    options.baseFolder.pop_back();

  // The jobs report their own outcomes; anything that still escapes one (a
  // fault no job foresaw) is told on standard error instead of aborting.
  auto run = [&](auto job) {
    pendra::cli::ConsoleUi ui(options);
    try {
      job(ui);
    } catch (const pendra::PlatformError& e) {
      std::cerr << "pendra: ｴﾗｰ番号 " << e.Number() << ":" << e.Description() << "\n";
      return kFailed;
    } catch (const std::exception& e) {
      std::cerr << "pendra: " << e.what() << "\n";
      return kFailed;
    }
    return ui.Failed() ? kFailed : kCompleted;
  };
  if (command == "output") {
    const std::string target = std::filesystem::absolute(argument).string();
    return run([&](pendra::UserInterface& ui) { pendra::schedule::subDbToXls(ui, target); });
  }
  if (command == "expand") {
    // An empty argument stays empty, so the job asks for a workbook.
    options.pathBox = argument.empty() ? argument : std::filesystem::absolute(argument).string();
    return run([](pendra::UserInterface& ui) { pendra::schedule::Command3_Click(ui); });
  }
  if (command == "import-csv") {
    options.pathBox = argument;
    return run([](pendra::UserInterface& ui) { pendra::tagimport::Command1_Click(ui); });
  }
  return UsageError("unknown command " + command);
}
