// Replacing a file as a whole: the new bytes go to a temporary file beside
// it, are flushed to the disk, take the original's owner and mode, and are
// renamed over it, so a crash or kill at any point leaves either the old
// file or the new one, never a mixture.
#pragma once

#include <string>

namespace pendra::jet {

// Raises 3051 (the file or its folder cannot be written) or 3043 (a write
// failed; the original is then unchanged).
void ReplaceFile(const std::string& path, const std::string& bytes);

// Raises 3051 when the file or its folder is read-only (by its mode bits,
// which even a privileged user's writer respects), before anything is done.
void RequireWritable(const std::string& path);

}  // namespace pendra::jet
