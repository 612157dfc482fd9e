#include "ProcessFile.h"

#include <fcntl.h>
#include <cstdlib>
#include <unistd.h>

namespace pendra {

std::string ReadProcessFile(const std::string& path, size_t limit) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string text;
  char buffer[16384];
  ssize_t n;
  while (text.size() < limit && (n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  if (text.size() > limit) text.resize(limit);
  return text;
}

std::optional<mode_t> CurrentUmask() {
  const std::string status = ReadProcessFile("/proc/self/status");
  const size_t line = status.find("\nUmask:");
  if (line == std::string::npos) return std::nullopt;
  const char* digits = status.c_str() + line + 7;
  char* end = nullptr;
  const unsigned long mask = std::strtoul(digits, &end, 8);
  if (end == digits || mask > 0777) return std::nullopt;
  return static_cast<mode_t>(mask);
}

}  // namespace pendra
