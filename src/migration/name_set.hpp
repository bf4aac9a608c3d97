#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace quorin::migration {

// A set of names kept compactly, for the million member names a migration may see: each name
// once, with its length before it, in blocks that are never moved, and an open-addressing
// table of one word a name that grows before it is full. Growing reads the blocks in order
// rather than following the table, so that no name is ever looked up or copied again.
class NameSet {
 public:
  NameSet();
  ~NameSet();
  NameSet(const NameSet&) = delete;
  NameSet& operator=(const NameSet&) = delete;

  // Room for `count` more names without growing the table.
  void reserve(std::size_t count);
  // False when the name was there already.
  bool insert(std::string_view name);
  // Inserts nameAt(0) to nameAt(count - 1) in that order and calls fresh(i) for each name that
  // was not there. Each slot is fetched a few names before it is needed, so that the misses
  // of a table larger than the cache overlap rather than follow one another.
  template <typename NameAt, typename Fresh>
  void insertEach(std::size_t count, NameAt nameAt, Fresh fresh);
  std::size_t size() const { return size_; }

 private:
  static constexpr std::size_t kAhead = 8;

  static std::uint64_t hashOf(std::string_view name);
  std::size_t home(std::uint64_t hash) const {
    return static_cast<std::size_t>(((hash & 0xffffffffu) * slots_.size()) >> 32);
  }
  void prefetch(std::uint64_t hash) const { __builtin_prefetch(&slots_[home(hash)]); }
  bool insertHashed(std::string_view name, std::uint64_t hash);
  void place(std::uint64_t hash, std::uint64_t slot);
  void grow(std::size_t count);
  std::uint64_t store(std::string_view name);
  std::string_view storedName(std::uint64_t slot) const;

  struct Block;
  std::vector<Block> blocks_;
  std::vector<std::uint64_t> slots_;  // 0 when free
  std::size_t size_ = 0;
};

template <typename NameAt, typename Fresh>
void NameSet::insertEach(std::size_t count, NameAt nameAt, Fresh fresh) {
  // No growth on the way: a fetched slot stays the slot.
  reserve(count);
  std::array<std::uint64_t, kAhead> ahead;
  for (std::size_t i = 0; i < std::min(count, kAhead); ++i) {
    ahead[i] = hashOf(nameAt(i));
    prefetch(ahead[i]);
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t hash = ahead[i % kAhead];
    if (i + kAhead < count) {
      ahead[i % kAhead] = hashOf(nameAt(i + kAhead));
      prefetch(ahead[i % kAhead]);
    }
    if (insertHashed(nameAt(i), hash)) fresh(i);
  }
}

}  // namespace quorin::migration
