#include "OfficeHome.h"

#include <cerrno>
#include <fstream>
#include <sys/stat.h>

namespace pendra::excel {

namespace {

std::string HomeOf(const std::string& profileDir) { return profileDir + "/home"; }

struct HomeVariable {
  const char* name;
  const char* folder;  // under the home; nullptr: the home itself
};

constexpr HomeVariable kVariables[] = {
    {"HOME", nullptr},
    {"GNUPGHOME", ".gnupg"},
    {"XDG_CONFIG_HOME", ".config"},
    {"XDG_DATA_HOME", ".local/share"},
    {"XDG_CACHE_HOME", ".cache"},
    {"XDG_STATE_HOME", ".local/state"},
};

// Read by gpg and gpgsm: a key the document carries may still be imported
// into this keyring, but no agent daemon is started for it.
constexpr const char* kKeyringSettings[] = {"gpg.conf", "gpgsm.conf"};

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && chmod(path.c_str(), 0700) == 0;
}

}  // namespace

bool PrepareOfficeHome(const std::string& profileDir) {
  const std::string home = HomeOf(profileDir);
  if (!MakeFolder(home) || !MakeFolder(home + "/.local")) return false;
  for (const HomeVariable& v : kVariables)
    if (v.folder && !MakeFolder(home + "/" + v.folder)) return false;
  for (const char* name : kKeyringSettings) {
    std::ofstream settings(home + "/.gnupg/" + name, std::ios::trunc);
    settings << "no-autostart\n";
    if (!settings.flush()) return false;
  }
  return true;
}

std::vector<std::string> OfficeHomeEnvironment(const std::string& profileDir) {
  const std::string home = HomeOf(profileDir);
  std::vector<std::string> entries;
  for (const HomeVariable& v : kVariables)
    entries.push_back(std::string(v.name) + "=" + home + (v.folder ? std::string("/") + v.folder : ""));
  return entries;
}

bool IsHomeVariable(const std::string& entry) {
  for (const HomeVariable& v : kVariables)
    if (entry.rfind(std::string(v.name) + "=", 0) == 0) return true;
  // An agent of the user's that a gpg started by the office would talk to.
  for (const char* name : {"GPG_AGENT_INFO=", "SSH_AUTH_SOCK="})
    if (entry.rfind(name, 0) == 0) return true;
  return false;
}

}  // namespace pendra::excel
