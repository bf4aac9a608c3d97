#include "migration/name_set.hpp"

#include <cstring>
#include <utility>

namespace quorin::migration {
namespace {

// A slot holds the top of the name's hash, to pass over most other names without reading
// them, and where the name is: its block and its offset there, plus one so that 0 is free.
constexpr int kOffsetBits = 20;
constexpr int kPlaceBits = 40;
constexpr std::size_t kBlockBytes = std::size_t{1} << kOffsetBits;
constexpr std::uint64_t kPlaceMask = (std::uint64_t{1} << kPlaceBits) - 1;

std::uint64_t tagOf(std::uint64_t hash) {
  return hash & ~kPlaceMask;
}

std::uint64_t mix(std::uint64_t value) {
  value ^= value >> 31;
  value *= 0x94d049bb133111ebULL;
  return value ^ (value >> 29);
}

// At most seven eighths full, so that a free slot is always near.
std::size_t slotsFor(std::size_t count) {
  return std::max<std::size_t>(16, count + count / 7 + 1);
}

// A length as seven bits a byte, lowest first, the high bit set on all but the last.
std::size_t putLength(std::size_t length, char* out) {
  std::size_t used = 0;
  for (; length >= 0x80; length >>= 7) out[used++] = static_cast<char>(length | 0x80);
  out[used++] = static_cast<char>(length);
  return used;
}

std::string_view recordAt(const char* at) {
  std::size_t length = 0;
  int shift = 0;
  for (;; shift += 7) {
    auto byte = static_cast<unsigned char>(*at++);
    length |= static_cast<std::size_t>(byte & 0x7f) << shift;
    if (byte < 0x80) break;
  }
  return {at, length};
}

constexpr std::size_t kMaxLengthBytes = 10;

}  // namespace

// Names longer than a block get a block of their own.
struct NameSet::Block {
  std::unique_ptr<char[]> bytes;
  std::size_t capacity = 0;
  std::size_t used = 0;
};

NameSet::NameSet() = default;
NameSet::~NameSet() = default;

// Eight bytes at a time: member names are short, and a general string hash spends more on
// them than the table does.
std::uint64_t NameSet::hashOf(std::string_view name) {
  std::uint64_t hash = name.size() * 0x9e3779b97f4a7c15ULL;
  while (name.size() >= 8) {
    std::uint64_t word;
    std::memcpy(&word, name.data(), 8);
    hash = mix(hash ^ word) * 0xbf58476d1ce4e5b9ULL;
    name.remove_prefix(8);
  }
  std::uint64_t tail = 0;
  if (!name.empty()) std::memcpy(&tail, name.data(), name.size());
  return mix(hash ^ tail);
}

std::string_view NameSet::storedName(std::uint64_t slot) const {
  std::uint64_t place = (slot & kPlaceMask) - 1;
  const Block& block = blocks_[place >> kOffsetBits];
  return recordAt(block.bytes.get() + (place & (kBlockBytes - 1)));
}

std::uint64_t NameSet::store(std::string_view name) {
  std::size_t bytes = name.size() + kMaxLengthBytes;
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < bytes) {
    std::size_t capacity = std::max(bytes, kBlockBytes);
    blocks_.push_back({std::unique_ptr<char[]>(new char[capacity]), capacity, 0});
  }
  Block& block = blocks_.back();
  std::uint64_t place = (blocks_.size() - 1) << kOffsetBits | block.used;
  char* at = block.bytes.get() + block.used;
  std::size_t prefix = putLength(name.size(), at);
  std::memcpy(at + prefix, name.data(), name.size());
  block.used += prefix + name.size();
  return place + 1;
}

void NameSet::place(std::uint64_t hash, std::uint64_t slot) {
  std::size_t at = home(hash);
  while (slots_[at] != 0) at = at + 1 == slots_.size() ? 0 : at + 1;
  slots_[at] = tagOf(hash) | slot;
}

// The blocks are read in the order the names went in; a name is met at the offset its slot
// records, which the new table keeps. As on insertion, each slot is fetched some names ahead.
void NameSet::grow(std::size_t count) {
  // The old table goes first: nothing is read from it.
  std::vector<std::uint64_t>().swap(slots_);
  slots_.assign(slotsFor(count), 0);
  std::array<std::pair<std::uint64_t, std::uint64_t>, kAhead> ahead;
  std::size_t seen = 0;
  for (std::size_t index = 0; index < blocks_.size(); ++index) {
    const Block& block = blocks_[index];
    for (std::size_t offset = 0; offset < block.used; ++seen) {
      auto name = recordAt(block.bytes.get() + offset);
      auto& next = ahead[seen % kAhead];
      if (seen >= kAhead) place(next.first, next.second);
      next = {hashOf(name), (std::uint64_t{index} << kOffsetBits | offset) + 1};
      prefetch(next.first);
      offset = static_cast<std::size_t>(name.data() + name.size() - block.bytes.get());
    }
  }
  for (std::size_t i = seen - std::min(seen, kAhead); i < seen; ++i)
    place(ahead[i % kAhead].first, ahead[i % kAhead].second);
}

void NameSet::reserve(std::size_t count) {
  if (slotsFor(size_ + count) > slots_.size()) grow(size_ + count);
}

bool NameSet::insert(std::string_view name) {
  if (slotsFor(size_ + 1) > slots_.size()) grow(2 * size_ + 1);
  return insertHashed(name, hashOf(name));
}

bool NameSet::insertHashed(std::string_view name, std::uint64_t hash) {
  std::size_t at = home(hash);
  for (; slots_[at] != 0; at = at + 1 == slots_.size() ? 0 : at + 1)
    if (tagOf(slots_[at]) == tagOf(hash) && storedName(slots_[at]) == name) return false;
  slots_[at] = tagOf(hash) | store(name);
  ++size_;
  return true;
}

}  // namespace quorin::migration
