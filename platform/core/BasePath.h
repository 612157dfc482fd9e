// The installation's fixed places under the base folder, and the paths
// made of them. They are written the way the program has always named them,
// with backslashes ("\OV_DataBase\Orvik.mdb"); on Linux each backslash
// becomes the path separator, and the text is appended to the base folder
// unchanged otherwise. The build reads the same texts from this file for
// the package (packaging/CMakeLists.txt): this is their only home.
#pragma once

#include <string>
#include <string_view>

namespace pendra {

// The schedule database (GroupMaster, KikiMaster).
inline constexpr const char* kScheduleDatabase = "\\OV_DataBase\\Orvik.mdb";
// The tag master database (M_TAG).
inline constexpr const char* kTagMasterDatabase = "\\VL_Database\\Velmora.mdb";
// The template the workbook output is made from.
inline constexpr const char* kTemplateWorkbook = "\\Pendra_原紙.xls";

inline std::string UnderBaseFolder(std::string_view baseFolder, std::string_view fixedText) {
  std::string path(baseFolder);
  for (char c : fixedText) path += (c == '\\') ? '/' : c;
  return path;
}

}  // namespace pendra
