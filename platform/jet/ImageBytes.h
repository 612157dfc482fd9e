// Where the bytes of a file image live. In memory as a string by default;
// the writer of platform/access gives an image whose bytes are the
// temporary file itself (mapped), so that a rewrite of a large table keeps
// its pages in the file and the kernel's cache, not in the process.
// Bytes appended are zero; the bytes do not move while they stay within
// what was reserved (views into pages stay valid).
#pragma once

#include <cstddef>
#include <string>

namespace pendra::jet {

class ImageBytes {
 public:
  virtual ~ImageBytes() = default;
  virtual const char* Data() const = 0;
  virtual char* Data() = 0;
  virtual size_t Size() const = 0;
  // Appends `count` zero bytes; raises when there is no room for them.
  virtual void Append(size_t count) = 0;
  // Room for `capacity` bytes in all; a hint that may be ignored.
  virtual void Reserve(size_t capacity) = 0;
  // A page was read or written: an image that keeps pages only for speed
  // may let some go now (its bytes stay where they are).
  virtual void Touched() const {}
};

class StringBytes final : public ImageBytes {
 public:
  explicit StringBytes(std::string bytes) : bytes_(std::move(bytes)) {}
  const char* Data() const override { return bytes_.data(); }
  char* Data() override { return bytes_.data(); }
  size_t Size() const override { return bytes_.size(); }
  void Append(size_t count) override { bytes_.append(count, '\0'); }
  void Reserve(size_t capacity) override;
  std::string& String() { return bytes_; }
  const std::string& String() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace pendra::jet
