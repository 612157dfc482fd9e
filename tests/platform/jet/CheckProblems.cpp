#include "CheckProblems.h"

namespace pendra::jet::test {

std::string Problems(const FileCheck& check) {
  std::string text;
  for (const std::string& p : check.problems) text += p + "\n";
  for (const TableCheck& t : check.tables)
    for (const std::string& p : t.problems) text += t.name + ": " + p + "\n";
  return text;
}

}  // namespace pendra::jet::test
