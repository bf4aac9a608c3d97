#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string_view>

namespace quorin::formats {

// The bytes of one file after another in one block of memory, kept from one read to the next
// and grown only for a larger file, so that a run over many files allocates (and faults in)
// its memory once. The block is never zero-filled, and always has kPadding readable bytes past
// the end of the file, which a JSON parser may read.
class FileBuffer {
 public:
  static constexpr std::size_t kPadding = 64;

  std::string_view bytes() const { return {data_.get(), size_}; }
  // Bytes past the start that may be read: the file's and the padding after it, at least.
  std::size_t capacity() const { return capacity_; }

  // Room for `size` bytes and the padding, keeping the first `keep` bytes; the file is then
  // empty until resize().
  char* reserve(std::size_t size, std::size_t keep = 0) {
    size_ = 0;
    if (size + kPadding > capacity_) {
      std::unique_ptr<char[]> grown(new char[size + kPadding]);
      std::copy(data_.get(), data_.get() + keep, grown.get());
      data_ = std::move(grown);
      capacity_ = size + kPadding;
    }
    return data_.get();
  }
  // Sets how many of the reserved bytes are the file's; the padding after them is cleared, so
  // that nothing of a larger file read before shows past the end of this one.
  void resize(std::size_t size) {
    size_ = size;
    std::fill_n(data_.get() + size, kPadding, '\0');
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

}  // namespace quorin::formats
