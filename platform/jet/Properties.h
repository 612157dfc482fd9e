// The properties Access keeps for a table and its columns: a blob in the
// table's MSysObjects row (column LvProp): "MR2\0" (Jet 3: "KKD\0"), a
// block of property names, then one block per object (the table, or a
// column by name) of values naming their property by its index.
#pragma once

#include <string>
#include <vector>

#include "JetFile.h"

namespace pendra::jet {

struct PropertyValue {
  std::string object;  // "" for the table itself, else the column's name
  std::string name;
  std::string text;    // the value as UTF-8 when it is text, else its bytes
};

// Raises nothing: a blob that does not parse gives what was read up to there.
std::vector<PropertyValue> ReadProperties(const JetFile& file, const std::string& blob);

// The first validation rule among the properties, as "the table's rule
// '…'" or "column X's rule '…'"; empty when there is none.
std::string ValidationRuleOf(const std::vector<PropertyValue>& properties);

// The table's properties (its catalogue row's LvProp), read from the file.
std::vector<PropertyValue> TableProperties(const JetFile& file, const std::string& table);

}  // namespace pendra::jet
