#include "Fingerprint.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/Fnv1a.h"
#include "core/PlatformError.h"

namespace pendra::access {

namespace {

// Every byte hashed eight at a time in four independent lanes (FNV-1a's
// step on words), the lanes then mixed in turn: a file is hashed up to three
// times a write, and FNV-1a a byte at a time took 3.5 ms a 3 MB file. A
// word that differs changes its lane and so the result (each step is
// one-to-one); the hash is only compared within a run, never stored. The
// bytes may come in pieces of any length: the result is that of all of them.
class BytesHash {
 public:
  void Add(std::string_view bytes) {
    size_ += bytes.size();
    if (!tail_.empty()) {
      const size_t fill = std::min(bytes.size(), kBlock - tail_.size());
      tail_.append(bytes.substr(0, fill));
      bytes.remove_prefix(fill);
      if (tail_.size() < kBlock) return;
      Block(tail_.data());
      tail_.clear();
    }
    for (; bytes.size() >= kBlock; bytes.remove_prefix(kBlock)) Block(bytes.data());
    tail_.assign(bytes);
  }
  uint64_t Result() const {
    uint64_t hash = Mix64(Fnv1a64(tail_) ^ size_);
    for (const uint64_t lane : lanes_) hash = Mix64(hash ^ lane);
    return hash;
  }

 private:
  static constexpr size_t kBlock = 32;
  void Block(const char* at) {
    for (size_t k = 0; k < 4; ++k) {
      uint64_t word;
      std::memcpy(&word, at + 8 * k, sizeof word);
      lanes_[k] = (lanes_[k] ^ word) * kFnv1aPrime;
    }
  }
  uint64_t lanes_[4] = {kFnv1aOffset, kFnv1aOffset + 1, kFnv1aOffset + 2, kFnv1aOffset + 3};
  std::string tail_;
  uint64_t size_ = 0;
};

uint64_t HashOfBytes(std::string_view bytes) {
  BytesHash hash;
  hash.Add(bytes);
  return hash.Result();
}

}  // namespace

Fingerprint FingerprintOf(const RegularFile& file) { return {file.identity, HashOfBytes(file.bytes), true}; }

RegularFile ReadAccessImage(const std::string& path) { return ReadRegularFile(path, kMaxAccessFileSize); }

Fingerprint CurrentFingerprint(const std::string& path, const std::function<void(std::string_view)>& copy) {
  BytesHash hash;
  const FileIdentity identity = ReadRegularFileInPieces(path, kMaxAccessFileSize, [&](std::string_view piece) {
    hash.Add(piece);
    if (copy) copy(piece);
  });
  return {identity, hash.Result(), true};
}

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
