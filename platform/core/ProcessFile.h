// What the kernel shows of a process (/proc/<pid>/cmdline, environ, ...).
// Such a file can fail half-way: a process that ends while it is read
// gives ESRCH. Read with plain reads, that is the end of the text, never
// an exception (a stream's iterator would throw from its buffer).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace pendra {

// Up to `limit` bytes of the file; what was read before a failure, or ""
// for a file that cannot be opened.
std::string ReadProcessFile(const std::string& path, size_t limit = 1 << 20);

// The process's umask, read without changing it: umask() reads it only by
// setting another, and for that moment a file any other thread creates
// would get the wrong mode. Linux shows it in /proc/self/status.
std::optional<mode_t> CurrentUmask();

}  // namespace pendra
