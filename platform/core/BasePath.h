// Paths under the base folder. The installation's fixed places are written
// the way the program has always named them, with backslashes
// ("\OV_DataBase\Orvik.mdb"); on Linux each backslash becomes the path
// separator, and the text is appended to the base folder unchanged otherwise.
#pragma once

#include <string>
#include <string_view>

namespace pendra {

// The tag master database under the base folder.
inline constexpr const char* kTagMasterDatabase = "\\VL_Database\\Velmora.mdb";

inline std::string UnderBaseFolder(std::string_view baseFolder, std::string_view fixedText) {
  std::string path(baseFolder);
  for (char c : fixedText) path += (c == '\\') ? '/' : c;
  return path;
}

}  // namespace pendra
