#include "JapaneseRelabel.h"

#include <fstream>

#include "core/AccessType.h"
#include "jet/Catalog.h"
#include "jet/JetFile.h"
#include "jet/TableDefinition.h"

namespace pendra::jet::fixture {

void RelabelJapanese(const std::string& path) {
  JetFile file(path);
  for (const CatalogEntry& entry : ReadCatalog(file)) {
    if (entry.system) continue;
    const TableDefinition table = ReadTableDefinition(file, entry.definitionPage);
    for (const Column& column : table.columns) {
      if (column.type != static_cast<int>(AccessType::Text) && column.type != static_cast<int>(AccessType::Memo))
        continue;
      const DefinitionPlace place = PlaceOf(file, table, column.descriptorAt + file.layout().columnSortOrder);
      const size_t at = static_cast<size_t>(place.page) * file.PageSize() + place.offset;
      file.bytes()[at] = static_cast<char>(1041 & 0xFF);
      file.bytes()[at + 1] = static_cast<char>(1041 >> 8);
      file.bytes()[at + 3] = 0;
    }
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file.bytes();
}

}  // namespace pendra::jet::fixture
