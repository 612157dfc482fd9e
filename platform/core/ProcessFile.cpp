#include "ProcessFile.h"

#include <fcntl.h>
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

}  // namespace pendra
