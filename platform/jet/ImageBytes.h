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

// Room for `capacity` bytes in the string when memory allows; without it
// the string grows as it goes.
void ReserveIfPossible(std::string& bytes, size_t capacity);

class ImageBytes {
 public:
  virtual ~ImageBytes() = default;
  const char* Data() const { return text_ != nullptr ? text_->data() : data_; }
  char* Data() { return text_ != nullptr ? text_->data() : data_; }
  size_t Size() const { return text_ != nullptr ? text_->size() : size_; }
  // Appends `count` zero bytes; raises when there is no room for them.
  virtual void Append(size_t count) = 0;
  // Room for `capacity` bytes in all; a hint that may be ignored.
  virtual void Reserve(size_t capacity) = 0;
  // The page at `offset` was read or written: an image that keeps pages in
  // memory only for speed may let some go now (its bytes stay where they
  // are, and read the same).
  void Touched(size_t offset) const {
    if (tracksTouches_) TouchedPage(offset);
  }

 protected:
  virtual void TouchedPage(size_t /*offset*/) const {}
  // Where the bytes are, read without a call (pages are looked at millions
  // of times a rewrite): a string, or else data_ and size_, which each kind
  // of image keeps up to date.
  std::string* text_ = nullptr;
  char* data_ = nullptr;
  size_t size_ = 0;
  bool tracksTouches_ = false;
};

class StringBytes final : public ImageBytes {
 public:
  explicit StringBytes(std::string bytes) : bytes_(std::move(bytes)) { text_ = &bytes_; }
  void Append(size_t count) override { bytes_.append(count, '\0'); }
  void Reserve(size_t capacity) override { ReserveIfPossible(bytes_, capacity); }
  std::string& String() { return bytes_; }
  const std::string& String() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace pendra::jet
