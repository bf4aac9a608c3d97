#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorin::migration {

// A set of names kept compactly, for the hundreds of thousands of member names a migration
// sees: the names one after another in one block, and an open-addressing table of hashes and
// positions that grows before it is full.
class NameSet {
 public:
  // Room for `count` more names without growing the table.
  void reserve(std::size_t count);
  // False when the name was there already.
  bool insert(std::string_view name) { return insertHashed(name, hashOf(name)); }
  // Inserts nameAt(0) to nameAt(count - 1) in that order and calls fresh(i) for each name that
  // was not there. Each slot is fetched a few names before it is needed, so that the misses
  // of a table larger than the cache overlap rather than follow one another.
  template <typename NameAt, typename Fresh>
  void insertEach(std::size_t count, NameAt nameAt, Fresh fresh);
  std::size_t size() const { return starts_.size() - 1; }

 private:
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t index = 0;  // one more than the name's; 0 when the slot is free
  };
  static constexpr std::size_t kAhead = 8;

  static std::uint32_t hashOf(std::string_view name);
  std::string_view name(std::uint32_t index) const;
  void rehash(std::size_t slotCount);
  void prefetch(std::uint32_t hash) const {
    __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
  }
  bool insertHashed(std::string_view name, std::uint32_t hash);

  std::string names_;
  std::vector<std::size_t> starts_{0};  // where each name starts, and where the last ends
  std::vector<Slot> slots_;
};

template <typename NameAt, typename Fresh>
void NameSet::insertEach(std::size_t count, NameAt nameAt, Fresh fresh) {
  // No growth on the way: a fetched slot stays the slot.
  reserve(count);
  std::array<std::uint32_t, kAhead> ahead;
  for (std::size_t i = 0; i < std::min(count, kAhead); ++i) {
    ahead[i] = hashOf(nameAt(i));
    prefetch(ahead[i]);
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t hash = ahead[i % kAhead];
    if (i + kAhead < count) {
      ahead[i % kAhead] = hashOf(nameAt(i + kAhead));
      prefetch(ahead[i % kAhead]);
    }
    if (insertHashed(nameAt(i), hash)) fresh(i);
  }
}

}  // namespace quorin::migration
