#include "migration/name_set.hpp"

#include <bit>
#include <cstring>
#include <utility>

namespace quorin::migration {
namespace {

std::uint64_t mix(std::uint64_t value) {
  value ^= value >> 31;
  value *= 0x94d049bb133111ebULL;
  return value ^ (value >> 29);
}

// At most seven eighths full, so that a free slot is always near.
std::size_t slotsFor(std::size_t count) {
  return std::bit_ceil(std::max<std::size_t>(16, count + count / 7 + 1));
}

}  // namespace

// Eight bytes at a time: member names are short, and a general string hash spends more on
// them than the table does.
std::uint32_t NameSet::hashOf(std::string_view name) {
  std::uint64_t hash = name.size() * 0x9e3779b97f4a7c15ULL;
  while (name.size() >= 8) {
    std::uint64_t word;
    std::memcpy(&word, name.data(), 8);
    hash = mix(hash ^ word) * 0xbf58476d1ce4e5b9ULL;
    name.remove_prefix(8);
  }
  std::uint64_t tail = 0;
  if (!name.empty()) std::memcpy(&tail, name.data(), name.size());
  return static_cast<std::uint32_t>(mix(hash ^ tail));
}

std::string_view NameSet::name(std::uint32_t index) const {
  return std::string_view(names_).substr(starts_[index], starts_[index + 1] - starts_[index]);
}

// The hashes are kept, so growing never reads a name again.
void NameSet::rehash(std::size_t slotCount) {
  std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(slotCount));
  std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.index == 0) continue;
    std::size_t at = slot.hash & mask;
    while (slots_[at].index != 0) at = (at + 1) & mask;
    slots_[at] = slot;
  }
}

void NameSet::reserve(std::size_t count) {
  std::size_t wanted = slotsFor(size() + count);
  if (wanted > slots_.size()) rehash(wanted);
  starts_.reserve(size() + count + 1);
}

bool NameSet::insertHashed(std::string_view wanted, std::uint32_t hash) {
  if (slotsFor(size() + 1) > slots_.size()) rehash(slotsFor(2 * size() + 1));
  std::size_t mask = slots_.size() - 1;
  std::size_t at = hash & mask;
  for (; slots_[at].index != 0; at = (at + 1) & mask)
    if (slots_[at].hash == hash && name(slots_[at].index - 1) == wanted) return false;
  names_.append(wanted);
  starts_.push_back(names_.size());
  slots_[at] = {hash, static_cast<std::uint32_t>(size())};
  return true;
}

}  // namespace quorin::migration
