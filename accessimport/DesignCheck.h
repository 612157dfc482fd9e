// The design of an Access table against ours: which columns are carried,
// and every difference a user should know of before the data comes over.
#pragma once

#include <string>
#include <vector>

#include "dao/Dao.h"
#include "mdb/AccessFile.h"

namespace pendra::accessimport {

struct CarriedColumn {
  size_t accessIndex;   // in the Access row
  std::string name;     // as our table spells it
};

struct DesignComparison {
  std::vector<CarriedColumn> carried;
  std::vector<std::string> differences;  // one line each, for the report
  std::string unreadable;                // a carried column whose values cannot be read
};

DesignComparison CompareDesign(const mdb::AccessTable& access, const std::vector<dao::FieldDef>& ours);

}  // namespace pendra::accessimport
