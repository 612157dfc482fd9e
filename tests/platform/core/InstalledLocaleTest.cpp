// The fall-back to C.UTF-8 for a locale that is not installed, in a child
// process each time (the locale belongs to the whole process).
#include <gtest/gtest.h>

#include <langinfo.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/InstalledLocale.h"

namespace pendra {
namespace {

// Runs UseInstalledLocale() in a child with LANG set and LC_* removed;
// the child's exit status says what it found: bit 0 fell back, bit 1 the
// character set is UTF-8, bit 2 LC_ALL=C.UTF-8 in the environment.
int InChild(const char* lang) {
  const pid_t pid = fork();
  if (pid == 0) {
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    unsetenv("LC_MESSAGES");
    setenv("LANG", lang, 1);
    const bool fell = UseInstalledLocale();
    const bool utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    const char* all = std::getenv("LC_ALL");
    const bool exported = all != nullptr && std::string(all) == "C.UTF-8";
    _exit((fell ? 1 : 0) | (utf8 ? 2 : 0) | (exported ? 4 : 0));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstalledLocale, AMissingLocaleFallsBackToCUtf8AndAnInstalledOneIsKept) {
  // xx_YY is generated nowhere; C.UTF-8 everywhere.
  EXPECT_EQ(InChild("xx_YY.UTF-8"), 1 | 2 | 4);
  EXPECT_EQ(InChild("ja_JP.UTF-8") & 2, 2);  // whether generated here or not: UTF-8 either way
  EXPECT_EQ(InChild("C.UTF-8"), 2);           // kept, nothing exported
  EXPECT_EQ(InChild("C"), 0);                 // installed, though not UTF-8: the office handles that
}

}  // namespace
}  // namespace pendra
