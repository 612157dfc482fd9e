#include "RewriteImage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace pendra::access {

namespace {

// Larger images live in the temporary file.
std::atomic<size_t> g_inMemoryLargest{size_t{16} << 20};
size_t InMemoryLargest() { return g_inMemoryLargest.load(std::memory_order_relaxed); }
// The file grows ahead of the image by this much at a time: one allocation
// of disk space for a thousand pages.
constexpr size_t kGrowth = size_t{4} << 20;
// Pages mapped in between two releases, at most (4 MB).
constexpr size_t kPagesBetweenReleases = 1024;
constexpr size_t kPage = 4096;

size_t RoundUp(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

}  // namespace

size_t SetLargestImageInMemory(size_t bytes) { return g_inMemoryLargest.exchange(bytes); }

RewriteImage::RewriteImage(AtomicFile& out, std::string target) : out_(out), target_(std::move(target)) {
  text_ = &memory_;
}

RewriteImage::~RewriteImage() {
  if (Mapped()) ::munmap(data_, mapped_);
}

void RewriteImage::Add(std::string_view piece) {
  if (!Mapped() && Size() + piece.size() > InMemoryLargest()) Spill();
  if (!Mapped()) {
    memory_.append(piece);
    return;
  }
  out_.Write(piece);
  fileSize_ += piece.size();
  size_ += piece.size();
  MapAtLeast(size_);
}

void RewriteImage::Spill() {
  out_.Write(memory_);
  size_ = fileSize_ = memory_.size();
  text_ = nullptr;
  std::string().swap(memory_);
  MapAtLeast(std::max(size_, kPage));
  tracksTouches_ = true;
}

void RewriteImage::MapAtLeast(size_t bytes) {
  const size_t length = RoundUp(bytes, kPage);
  if (length <= mapped_) return;
  void* at = !Mapped() ? ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, out_.Fd(), 0)
                       : ::mremap(data_, mapped_, length, MREMAP_MAYMOVE);
  if (at == MAP_FAILED) RaiseWriteFailed(target_, "mmap", errno);
  data_ = static_cast<char*>(at);
  mapped_ = length;
}

void RewriteImage::Reserve(size_t capacity) {
  if (!Mapped() && capacity > InMemoryLargest()) Spill();
  if (!Mapped()) {
    jet::ReserveIfPossible(memory_, capacity);
    return;
  }
  // Address space only: nothing is written, and the file does not grow.
  MapAtLeast(capacity);
}

void RewriteImage::Append(size_t count) {
  if (!Mapped() && Size() + count > InMemoryLargest()) Spill();
  if (!Mapped()) {
    memory_.append(count, '\0');
    return;
  }
  const size_t size = size_ + count;
  if (size > fileSize_) {
    const size_t grown = std::max(size, fileSize_ + kGrowth);
    // Room on the disk now, not when a page of the mapping is first written
    // (where a full disk would kill the process). New bytes read as zeros.
    const int error = ::posix_fallocate(out_.Fd(), static_cast<off_t>(fileSize_), static_cast<off_t>(grown - fileSize_));
    if (error != 0) RaiseWriteFailed(target_, "fallocate", error);
    fileSize_ = grown;
  }
  if (size > mapped_) MapAtLeast(std::max(size, 2 * mapped_));
  size_ = size;
}

void RewriteImage::TouchedPage(size_t offset) const {
  thread_local size_t lastPage = SIZE_MAX;
  const size_t page = offset / kPage;
  if (page == lastPage) return;
  lastPage = page;
  if (pageChanges_.fetch_add(1, std::memory_order_relaxed) + 1 < kPagesBetweenReleases) return;
  pageChanges_.store(0, std::memory_order_relaxed);
  Release();
}

void RewriteImage::Release() const {
  // A shared mapping of a file: the pages leave this process, and what was
  // written stays in the file's pages; the next touch maps them in again.
  ::madvise(data_, RoundUp(size_, kPage), MADV_DONTNEED);
}

void RewriteImage::Finish() {
  if (!Mapped()) {
    out_.Write(memory_);
    return;
  }
  if (::ftruncate(out_.Fd(), static_cast<off_t>(size_)) != 0) RaiseWriteFailed(target_, "ftruncate", errno);
  ::munmap(data_, mapped_);
  data_ = nullptr;
  mapped_ = 0;
  tracksTouches_ = false;
}

}  // namespace pendra::access
