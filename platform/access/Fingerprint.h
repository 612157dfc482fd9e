// What a job knows of an Access file it read: the file's identity on the
// disk (device, inode, size, modification time) and a 64-bit hash of every
// byte read. Another program's change shows in the bytes even when it keeps the
// size and sets the time back; a file put in its place shows in the inode.
// The change time is left out: our own backup (a second name for the file)
// changes it without changing a byte.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/RegularFile.h"

namespace pendra::access {

// Access files are at most 2 GB.
inline constexpr uintmax_t kMaxAccessFileSize = 2ull * 1024 * 1024 * 1024;

struct Fingerprint {
  FileIdentity identity;
  uint64_t hash = 0;
  bool taken = false;
  bool operator==(const Fingerprint&) const = default;
};

Fingerprint FingerprintOf(const RegularFile& file);

// The file read whole, bounded (RegularFile.h).
RegularFile ReadAccessImage(const std::string& path);

// The file as it is now, read in pieces (never held whole); each piece is
// also handed to `copy` when one is given.
Fingerprint CurrentFingerprint(const std::string& path, const std::function<void(std::string_view)>& copy = {});

// Raises 3197 (nothing changed; run the job again) when the file at path
// is no longer the one read.
void RequireUnchanged(const std::string& path, const Fingerprint& asRead);
[[noreturn]] void RaiseChanged(const std::string& path);

}  // namespace pendra::access
