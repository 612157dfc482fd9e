#include "AccessWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "FolderLock.h"
#include "LockFile.h"
#include "RewriteImage.h"
#include "core/AtomicFile.h"
#include "core/PlatformError.h"
#include "jet/JetFile.h"
#include "jet/TableRewrite.h"

namespace pendra::access {

void RequireWritable(const std::string& path) {
  struct stat file {}, folder {};
  const std::string dir = FolderOf(path);
  if (::stat(path.c_str(), &file) != 0 || ::stat(dir.c_str(), &folder) != 0)
    Raise(err::kDatabaseFileNotFound, "ファイル '" + path + "' が見つかりません。");
  if ((file.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0)
    Raise(err::kCannotOpenFile, "ファイル '" + path + "' は読み取り専用です。");
  if ((folder.st_mode & 0222) == 0 || ::access(dir.c_str(), W_OK) != 0)
    Raise(err::kCannotOpenFile, "フォルダー '" + dir + "' に書き込めません (読み取り専用)。");
}

WriteStats WriteTables(const std::string& path, const Fingerprint& asRead, const std::vector<TableRows>& tables,
                       const jet::ReadAhead* ahead) {
  RefuseWhileAccessHasIt(path);
  RequireWritable(path);
  // The temporary file first: while it lies beside the database, a write
  // is under way (and a killed one's is removed by the next).
  AtomicFile out(path);
  // The file as read, taken into the image as its fingerprint is taken; a
  // large one is rewritten in the temporary file itself (RewriteImage.h).
  auto rewritten = std::make_unique<RewriteImage>(out, path);
  RewriteImage& bytes = *rewritten;
  const Fingerprint read = CurrentFingerprint(path, [&](std::string_view piece) { bytes.Add(piece); });
  if (!asRead.taken || read != asRead) RaiseChanged(path);
  jet::JetFile image(std::move(rewritten), path);
  // The image is the one read (its fingerprint says so): what was learnt
  // ahead from that holds for it.
  const WriteStats stats = jet::RewriteTables(image, tables, ahead);
  bytes.Finish();
  out.Commit(
      [&] {
        // Another program may have written or opened the file while we worked.
        RequireUnchanged(path, asRead);
        RefuseWhileAccessHasIt(path);
      },
      [&](const struct stat& aside) {
        // And between that look and the exchange: the file we replaced must
        // still be the one read.
        const FileIdentity& read = asRead.identity;
        if (aside.st_dev != read.device || aside.st_ino != read.inode || aside.st_size != read.size ||
            aside.st_mtim.tv_sec != read.modifiedSeconds || aside.st_mtim.tv_nsec != read.modifiedNanoseconds)
          RaiseChanged(path);
      });
  return stats;
}

WriteStats RewriteTable(const std::string& path, const std::string& table, const std::vector<std::vector<Variant>>& rows) {
  const FolderLock lock(path);
  RefuseWhileAccessHasIt(path);
  const jet::VectorRows given(rows);
  return WriteTables(path, CurrentFingerprint(path), {{table, &given}});
}

}  // namespace pendra::access
