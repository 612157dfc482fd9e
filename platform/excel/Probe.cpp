// Is the user's own LibreOffice running? A scan of /proc for soffice.bin and
// oosplash processes of this user that are not ours and that can hold a
// document the user edits: a user's office opens no pipe we could try, so
// connecting is no test. A headless office (a converter, a document server,
// another program's private instance) shows no window and holds no
// document of the user's: it does not count.
#include <dirent.h>
#include <functional>
#include <iterator>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "OfficeProcess.h"
#include "core/ProcessFile.h"
#include "excel/Excel.h"

namespace pendra::excel {

namespace {

std::mutex gScopeMutex;
std::function<bool(pid_t)> gScope;

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsOfficeName(const std::string& name) { return name == "soffice.bin" || name == "oosplash"; }

// The options that make an office run without a window: --headless and
// --invisible, and those that imply --headless (conversion, printing to a
// file, --cat). LibreOffice takes them with one dash as well. Any argument
// a process shows can come here: "-" and "--" are dashes with no name.
bool IsHeadlessOption(const std::string& arg) {
  const size_t start = arg.find_first_not_of('-');
  if (start == 0 || start == std::string::npos) return false;
  const std::string name = arg.substr(start, arg.find('=', start) - start);
  return name == "headless" || name == "invisible" || name == "convert-to" || name == "print-to-file" ||
         name == "cat";
}

bool IsUsersOffice(pid_t pid, const std::string& ownProfiles) {
  const std::string dir = "/proc/" + std::to_string(pid);
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0 || st.st_uid != getuid()) return false;
  const std::string cmdline = ReadProcessFile(dir + "/cmdline");
  std::vector<std::string> args;
  for (size_t start = 0; start < cmdline.size();) {
    const size_t end = cmdline.find('\0', start);
    args.push_back(cmdline.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  char exe[4096];
  const ssize_t n = readlink((dir + "/exe").c_str(), exe, sizeof exe - 1);
  const std::string exeName = n > 0 ? BaseName(std::string(exe, static_cast<size_t>(n))) : "";
  if (!IsOfficeName(exeName) && (args.empty() || !IsOfficeName(BaseName(args[0])))) return false;
  for (const auto& a : args)
    if (IsHeadlessOption(a)) return false;
  // Our own instances run on profiles under our profile root. An instance
  // of another Pendra run (a batch command started with another runtime
  // folder) has its profile in a folder of the same name: it is no user's
  // office either.
  const std::string marker = "-env:UserInstallation=";
  const std::string pendraProfiles = "/pendra-office-" + std::to_string(getuid()) + "/";
  for (const auto& a : args) {
    if (a.rfind(marker, 0) != 0) continue;
    std::string url = a.substr(marker.size());
    if (url.rfind("file://", 0) == 0) url = url.substr(7);
    if (url.rfind(ownProfiles + "/", 0) == 0) return false;
    if (url.find(pendraProfiles) != std::string::npos) return false;
  }
  return true;
}

}  // namespace

void SetProbeScope(std::function<bool(pid_t pid)> inScope) {
  std::lock_guard lock(gScopeMutex);
  gScope = std::move(inScope);
}

void GetRunningObject() {
  std::function<bool(pid_t)> scope;
  {
    std::lock_guard lock(gScopeMutex);
    scope = gScope;
  }
  const auto own = OwnPids();
  const std::string& profiles = ProfileRoot();
  if (DIR* proc = opendir("/proc")) {
    bool found = false;
    while (dirent* entry = readdir(proc)) {
      char* end = nullptr;
      const long value = std::strtol(entry->d_name, &end, 10);
      if (*end != '\0' || value <= 0) continue;
      const pid_t pid = static_cast<pid_t>(value);
      if (own.count(pid) || (scope && !scope(pid))) continue;
      if (IsUsersOffice(pid, profiles)) {
        found = true;
        break;
      }
    }
    closedir(proc);
    if (found) return;
  }
  Raise(err::kCannotCreateObject, StandardDescription(err::kCannotCreateObject));
}

}  // namespace pendra::excel
