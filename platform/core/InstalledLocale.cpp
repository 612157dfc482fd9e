#include "InstalledLocale.h"

#include <clocale>
#include <cstdlib>

namespace pendra {

bool UseInstalledLocale() {
  if (std::setlocale(LC_ALL, "") != nullptr) return false;
  setenv("LC_ALL", "C.UTF-8", 1);
  std::setlocale(LC_ALL, "");
  return true;
}

}  // namespace pendra
