// The image of an Access file being rewritten. It starts as the file as
// read; an image up to 16 MB stays in memory (the usual database: fastest),
// a larger one lives in the temporary file that is to replace the database
// and is changed through a shared mapping of it. Pages the rewrite has done
// with are then let go to the kernel's cache as it goes (a few megabytes
// stay mapped in): a rewrite of a large table costs the process memory for
// its rows' index entries, not for the file.
//
// The file grows ahead of the image by allocated room (posix_fallocate), so
// a full disk is an error at that moment, never a fault while a page of the
// mapping is written.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/AtomicFile.h"
#include "jet/ImageBytes.h"

namespace pendra::access {

// The largest image kept in memory (16 MB) for the whole process; tests
// lower it to rewrite through the temporary file. Returns the one before.
size_t SetLargestImageInMemory(size_t bytes);

class RewriteImage final : public jet::ImageBytes {
 public:
  // `out`: the temporary file, empty; target names the database in messages.
  RewriteImage(AtomicFile& out, std::string target);
  ~RewriteImage() override;
  RewriteImage(const RewriteImage&) = delete;
  RewriteImage& operator=(const RewriteImage&) = delete;

  // The file as read, a piece at a time, before anything else.
  void Add(std::string_view piece);

  // Raises 3026 when the disk is full.
  void Append(size_t count) override;
  void Reserve(size_t capacity) override;

  // Everything in the temporary file, cut to the image's size: ready to
  // be flushed and renamed.
  void Finish();

 private:
  void TouchedPage(size_t offset) const override;
  bool Mapped() const { return mapped_ != 0; }
  // From memory into the temporary file, mapped from then on.
  void Spill();
  void MapAtLeast(size_t bytes);
  void Release() const;

  AtomicFile& out_;
  std::string target_;
  std::string memory_;   // the image while it is small
  size_t mapped_ = 0;    // bytes of address space mapped (0: in memory)
  size_t fileSize_ = 0;  // bytes the temporary file holds (room ahead of the image)
  // Changes of page since the last release, counted per thread: at least
  // the pages mapped in since then.
  mutable std::atomic<size_t> pageChanges_{0};
};

}  // namespace pendra::access
