#include "Fingerprint.h"

#include <sys/stat.h>

#include "core/Fnv1a.h"
#include "core/PlatformError.h"

namespace pendra::access {

Fingerprint FingerprintOf(const RegularFile& file) { return {file.identity, Fnv1a64(file.bytes), true}; }

RegularFile ReadAccessImage(const std::string& path) { return ReadRegularFile(path, kMaxAccessFileSize); }

Fingerprint CurrentFingerprint(const std::string& path) { return FingerprintOf(ReadAccessImage(path)); }

void RequireUnchanged(const std::string& path, const Fingerprint& asRead) {
  bool same = false;
  try {
    same = asRead.taken && CurrentFingerprint(path) == asRead;
    // A file renamed into its place while the bytes were read shows in the
    // name's inode now: the last moment we can look before our own rename.
    struct stat now {};
    same = same && ::stat(path.c_str(), &now) == 0 && now.st_ino == asRead.identity.inode &&
           now.st_dev == asRead.identity.device && now.st_size == asRead.identity.size &&
           now.st_mtim.tv_sec == asRead.identity.modifiedSeconds && now.st_mtim.tv_nsec == asRead.identity.modifiedNanoseconds;
  } catch (const PlatformError&) {
    same = false;   // gone or unreadable: changed all the same
  }
  if (!same) RaiseChanged(path);
}

void RaiseChanged(const std::string& path) {
  Raise(err::kDataChanged, "データベース '" + path + "' は、このジョブが読み込んだ後に別のプログラムによって変更されました。" +
                                 "データベースは変更していません。もう一度実行してください。");
}

}  // namespace pendra::access
