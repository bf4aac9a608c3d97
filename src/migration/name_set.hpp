#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorin::migration {

// A set of names kept compactly, for the hundreds of thousands of member names a migration
// sees: the names one after another in one block, and an open-addressing table of hash tags
// and positions that grows before it is full.
class NameSet {
 public:
  // Room for `count` more names without growing the table.
  void reserve(std::size_t count);
  // False when the name was there already.
  bool insert(std::string_view name);
  std::size_t size() const { return starts_.size() - 1; }

 private:
  struct Slot {
    std::uint32_t tag = 0;    // the hash's high bits
    std::uint32_t index = 0;  // one more than the name's; 0 when the slot is free
  };

  std::string_view name(std::uint32_t index) const;
  void rehash(std::size_t slotCount);
  Slot* find(std::string_view name, std::uint64_t hash);

  std::string names_;
  std::vector<std::size_t> starts_{0};  // where each name starts, and where the last ends
  std::vector<Slot> slots_;
};

}  // namespace quorin::migration
