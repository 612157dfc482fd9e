// A stand-in for a user's own LibreOffice, as the probe for a running office
// sees it: a copy of sh named soffice.bin, waiting on a pipe, with a profile
// argument. Alive until destroyed. Shared by the tests of the spreadsheet
// layer, the schedule jobs and the batch command.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace pendra::excel::test {

inline constexpr const char* kUsersProfile =
    "-env:UserInstallation=file:///home/user/.config/libreoffice/4";

class UsersOffice {
 public:
  // The copy of sh is made in folder; profileArgument is what the process
  // shows of its profile.
  // extraArguments follow the profile argument (a headless one: "--headless").
  explicit UsersOffice(const std::string& folder, const std::string& profileArgument = kUsersProfile,
                       const std::vector<std::string>& extraArguments = {});
  ~UsersOffice();
  UsersOffice(const UsersOffice&) = delete;
  UsersOffice& operator=(const UsersOffice&) = delete;

  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int writeEnd_ = -1;
};

}  // namespace pendra::excel::test
