#include "LockFile.h"

#include <filesystem>

#include "core/PlatformError.h"

namespace pendra::access {

std::string AccessLockFile(const std::string& path) {
  for (const char* extension : {".ldb", ".laccdb"}) {
    std::filesystem::path lock(path);
    lock.replace_extension(extension);
    std::error_code ec;
    if (std::filesystem::exists(lock, ec)) return lock.string();
  }
  return "";
}

void RefuseWhileAccessHasIt(const std::string& path) {
  const std::string lock = AccessLockFile(path);
  if (lock.empty()) return;
  Raise(err::kCouldNotUseLocked, "ファイル '" + path + "' は既に使用されているため、使用できませんでした。\n" +
                                     "Access などのプログラムが開いています (ロック ファイル '" + lock +
                                     "' があります)。そのプログラムを閉じてからやり直してください。");
}

}  // namespace pendra::access
