#include "platform/posix/plist_screen.hpp"

#include <cstdint>
#include <optional>

namespace quorin::platform::posix {
namespace {

constexpr std::string_view kBinaryMagic = "bplist";
constexpr std::size_t kTrailerSize = 32;

std::optional<std::uint64_t> bigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
  if (size == 0 || size > 8 || at > bytes.size() || bytes.size() - at < size) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i)
    value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

class BinaryPlist {
 public:
  explicit BinaryPlist(std::string_view bytes) : bytes_(bytes) {}

  bool keysAreReadable() {
    if (bytes_.size() < kBinaryMagic.size() + 2 + kTrailerSize) return false;
    std::size_t trailer = bytes_.size() - kTrailerSize;
    offsetSize_ = static_cast<std::uint8_t>(bytes_[trailer + 6]);
    refSize_ = static_cast<std::uint8_t>(bytes_[trailer + 7]);
    auto count = bigEndian(bytes_, trailer + 8, 8);
    auto table = bigEndian(bytes_, trailer + 24, 8);
    if (!count || !table || offsetSize_ == 0 || offsetSize_ > 8 || refSize_ == 0 || refSize_ > 8)
      return false;
    if (*table > trailer || *count > (trailer - *table) / offsetSize_) return false;
    objects_ = *count;
    table_ = *table;
    for (std::uint64_t i = 0; i < objects_; ++i) {
      auto offset = objectOffset(i);
      if (!offset) return false;
      if ((marker(*offset) >> 4) == 0xD && !dictionaryKeysReadable(*offset)) return false;
    }
    return true;
  }

 private:
  std::uint8_t marker(std::uint64_t offset) const {
    return static_cast<std::uint8_t>(bytes_[offset]);
  }

  std::optional<std::uint64_t> objectOffset(std::uint64_t index) const {
    if (index >= objects_) return std::nullopt;
    auto offset = bigEndian(bytes_, table_ + index * offsetSize_, offsetSize_);
    if (!offset || *offset >= table_) return std::nullopt;
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

  bool dictionaryKeysReadable(std::uint64_t offset) const {
    auto layout = countAndStart(offset);
    if (!layout || layout->first > (bytes_.size() - layout->second) / refSize_) return false;
    for (std::uint64_t i = 0; i < layout->first; ++i) {
      auto ref = bigEndian(bytes_, layout->second + i * refSize_, refSize_);
      auto key = ref ? objectOffset(*ref) : std::nullopt;
      if (!key || !stringWithoutNul(*key)) return false;
    }
    return true;
  }

  bool stringWithoutNul(std::uint64_t offset) const {
    std::uint8_t type = marker(offset) >> 4;
    std::size_t unit = type == 0x5 ? 1 : type == 0x6 ? 2 : 0;
    auto layout = countAndStart(offset);
    if (unit == 0 || !layout || layout->first > (bytes_.size() - layout->second) / unit)
      return false;
    for (std::uint64_t i = 0; i < layout->first; ++i) {
      if (bigEndian(bytes_, layout->second + i * unit, unit) == 0u) return false;
    }
    return true;
  }

  std::string_view bytes_;
  std::uint8_t offsetSize_ = 0;
  std::uint8_t refSize_ = 0;
  std::uint64_t objects_ = 0;
  std::uint64_t table_ = 0;
};

// A raw NUL, or a character reference to it such as "&#0;" or "&#x00;".
bool xmlHoldsNul(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return true;
  for (auto at = text.find("&#"); at != std::string_view::npos; at = text.find("&#", at + 2)) {
    std::size_t i = at + 2;
    if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) ++i;
    std::size_t zeros = i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i > zeros && i < text.size() && text[i] == ';') return true;
  }
  return false;
}

}  // namespace

bool plistKeysAreReadable(std::string_view bytes) {
  if (bytes.substr(0, kBinaryMagic.size()) == kBinaryMagic)
    return BinaryPlist(bytes).keysAreReadable();
  return !xmlHoldsNul(bytes);
}

}  // namespace quorin::platform::posix
