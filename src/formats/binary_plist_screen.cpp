#include "formats/binary_plist_screen.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "formats/plist_screen.hpp"

namespace quorin::formats {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;

std::optional<std::uint64_t> bigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
  if (size == 0 || size > 8 || at > bytes.size() || bytes.size() - at < size) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i)
    value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// What an object amounts to once every reference below it is read as a copy.
struct Expansion {
  std::uint64_t objects = 0;
  std::uint64_t bytes = 0;
  int height = 0;
};

// The objects' element counts and references are read as libplist reads them; whatever does
// not add up is refused, since libplist refuses it too or could read it otherwise.
class BinaryPlist {
 public:
  explicit BinaryPlist(std::string_view bytes)
      : bytes_(bytes), maxBytes_(bytes.size() * kMaxPlistExpansion) {}

  bool isSafeToParse() {
    if (!readTrailer() || !keysAreReadable()) return false;
    marks_.assign(objects_, Mark::unseen);
    expansions_.assign(objects_, Expansion{});
    return expand(top_, 1).has_value();
  }

 private:
  enum class Mark : std::uint8_t { unseen, open, done };

  bool readTrailer() {
    if (bytes_.size() < kHeaderSize + 2 + kTrailerSize) return false;
    std::size_t trailer = bytes_.size() - kTrailerSize;
    offsetSize_ = static_cast<std::uint8_t>(bytes_[trailer + 6]);
    refSize_ = static_cast<std::uint8_t>(bytes_[trailer + 7]);
    auto count = bigEndian(bytes_, trailer + 8, 8);
    auto top = bigEndian(bytes_, trailer + 16, 8);
    auto table = bigEndian(bytes_, trailer + 24, 8);
    if (!count || !top || !table || offsetSize_ == 0 || offsetSize_ > 8 || refSize_ == 0 ||
        refSize_ > 8)
      return false;
    if (*table < kHeaderSize || *table > trailer || *count > (trailer - *table) / offsetSize_)
      return false;
    objects_ = *count;
    top_ = *top;
    table_ = *table;
    return true;
  }

  std::uint8_t marker(std::uint64_t offset) const {
    return static_cast<std::uint8_t>(bytes_[offset]);
  }
  std::uint8_t type(std::uint64_t offset) const { return marker(offset) >> 4; }

  std::optional<std::uint64_t> objectOffset(std::uint64_t index) const {
    if (index >= objects_) return std::nullopt;
    auto offset = bigEndian(bytes_, table_ + index * offsetSize_, offsetSize_);
    if (!offset || *offset < kHeaderSize || *offset >= table_) return std::nullopt;
    return offset;
  }

  // The element count of the object at `offset` and where its contents start.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> countAndStart(std::uint64_t offset) const {
    std::uint8_t low = marker(offset) & 0x0F;
    if (low != 0x0F) return std::pair{std::uint64_t{low}, offset + 1};
    if (offset + 1 >= bytes_.size() || (marker(offset + 1) >> 4) != 0x1) return std::nullopt;
    std::size_t size = std::size_t{1} << (marker(offset + 1) & 0x0F);
    auto count = bigEndian(bytes_, offset + 2, size);
    if (!count) return std::nullopt;
    return std::pair{*count, offset + 2 + size};
  }

  // Where the `count` elements of `unit` bytes starting at `start` end, if inside the file.
  std::optional<std::uint64_t> end(std::uint64_t start, std::uint64_t count,
                                   std::uint64_t unit) const {
    if (start > bytes_.size() || count > (bytes_.size() - start) / unit) return std::nullopt;
    return start + count * unit;
  }

  // Each key object is read once, however many dictionaries share it.
  bool keysAreReadable() const {
    std::vector<bool> keys(objects_);
    for (std::uint64_t i = 0; i < objects_; ++i) {
      auto offset = objectOffset(i);
      if (!offset) return false;
      if (type(*offset) == 0xD && !markKeys(*offset, keys)) return false;
    }
    for (std::uint64_t i = 0; i < objects_; ++i) {
      if (keys[i] && !stringWithoutNul(*objectOffset(i))) return false;
    }
    return true;
  }

  bool markKeys(std::uint64_t offset, std::vector<bool>& keys) const {
    auto layout = countAndStart(offset);
    if (!layout || !end(layout->second, layout->first, refSize_)) return false;
    for (std::uint64_t i = 0; i < layout->first; ++i) {
      auto ref = bigEndian(bytes_, layout->second + i * refSize_, refSize_);
      if (!ref || *ref >= objects_) return false;
      keys[*ref] = true;
    }
    return true;
  }

  bool stringWithoutNul(std::uint64_t offset) const {
    std::size_t unit = type(offset) == 0x5 ? 1 : type(offset) == 0x6 ? 2 : 0;
    auto layout = countAndStart(offset);
    if (unit == 0 || !layout || !end(layout->second, layout->first, unit)) return false;
    for (std::uint64_t i = 0; i < layout->first; ++i) {
      if (bigEndian(bytes_, layout->second + i * unit, unit) == 0u) return false;
    }
    return true;
  }

  // Arrays and sets hold one reference an element, dictionaries two (key and value).
  static std::uint64_t referencesPerElement(std::uint8_t type) {
    if (type == 0xA || type == 0xB || type == 0xC) return 1;
    return type == 0xD ? 2 : 0;
  }

  // Data and strings (UTF-16 ones in two-byte units); the rest are read as their marker.
  static std::uint64_t payloadUnit(std::uint8_t type) {
    if (type == 0x4 || type == 0x5 || type == 0x7) return 1;
    return type == 0x6 ? 2 : 0;
  }

  // Depth first, each object once: a reference back to an open object is a cycle, and what
  // an object expands to is kept for the other references to it.
  std::optional<Expansion> expand(std::uint64_t index, int depth) {
    if (depth > kMaxPlistDepth || index >= objects_ || marks_[index] == Mark::open)
      return std::nullopt;
    if (marks_[index] == Mark::done) {
      if (depth + expansions_[index].height - 1 > kMaxPlistDepth) return std::nullopt;
      return expansions_[index];
    }
    auto offset = objectOffset(index);
    if (!offset) return std::nullopt;
    marks_[index] = Mark::open;
    auto expansion = expandObject(*offset, depth);
    if (!expansion) return std::nullopt;
    marks_[index] = Mark::done;
    expansions_[index] = *expansion;
    return expansion;
  }

  std::optional<Expansion> expandObject(std::uint64_t offset, int depth) {
    std::uint8_t kind = type(offset);
    std::uint64_t references = referencesPerElement(kind);
    std::uint64_t unit = references ? references * refSize_ : payloadUnit(kind);
    if (unit == 0) return Expansion{1, 1, 1};
    auto layout = countAndStart(offset);
    auto last = layout ? end(layout->second, layout->first, unit) : std::nullopt;
    if (!last) return std::nullopt;
    Expansion expansion{1, *last - offset, 1};
    for (std::uint64_t i = 0; i < layout->first * references; ++i) {
      auto ref = bigEndian(bytes_, layout->second + i * refSize_, refSize_);
      auto child = ref ? expand(*ref, depth + 1) : std::nullopt;
      if (!child) return std::nullopt;
      expansion.objects += child->objects;
      expansion.bytes += child->bytes;
      expansion.height = std::max(expansion.height, child->height + 1);
      if (expansion.objects > kMaxPlistObjects || expansion.bytes > maxBytes_) return std::nullopt;
    }
    return expansion;
  }

  std::string_view bytes_;
  std::uint64_t maxBytes_;
  std::uint8_t offsetSize_ = 0;
  std::uint8_t refSize_ = 0;
  std::uint64_t objects_ = 0;
  std::uint64_t top_ = 0;
  std::uint64_t table_ = 0;
  std::vector<Mark> marks_;
  std::vector<Expansion> expansions_;
};

}  // namespace

bool binaryPlistIsSafeToParse(std::string_view bytes) {
  return BinaryPlist(bytes).isSafeToParse();
}

}  // namespace quorin::formats
