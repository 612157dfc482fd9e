// What the kernel shows of a process (/proc/<pid>/cmdline, environ, ...).
// Such a file can fail half-way: a process that ends while it is read
// gives ESRCH. Read with plain reads, that is the end of the text, never
// an exception (a stream's iterator would throw from its buffer).
#pragma once

#include <cstddef>
#include <string>

namespace pendra {

// Up to `limit` bytes of the file; what was read before a failure, or ""
// for a file that cannot be opened.
std::string ReadProcessFile(const std::string& path, size_t limit = 1 << 20);

}  // namespace pendra
