#include "formats/plist_nodes.hpp"

#include <bit>
#include <cstdlib>
#include <string>
#include <string_view>

namespace quorin::formats {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;
constexpr std::size_t kOffsetTableSize = 1;
// A date, then eight bytes of a big-endian double.
constexpr char kDateMarker = '\x33';
// A 16-byte integer: how the format spells an unsigned 64-bit one.
constexpr char kUnsignedMarker = '\x14';

struct MallocDeleter {
  void operator()(void* p) const { std::free(p); }
};

void appendBigEndian(std::string& out, std::uint64_t value) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

std::uint64_t readBigEndian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (char byte : bytes) value = value << 8 | static_cast<std::uint8_t>(byte);
  return value;
}

// `object` as the only object of a binary list, right after the header.
PlistPtr fromObject(std::string_view object) {
  std::string bytes = "bplist00";
  bytes += object;
  std::uint64_t table = bytes.size();
  bytes.push_back(static_cast<char>(kHeaderSize));
  bytes.append(6, '\0');
  bytes += "\x01\x01";  // one-byte offsets and references
  appendBigEndian(bytes, 1);
  appendBigEndian(bytes, 0);
  appendBigEndian(bytes, table);
  plist_t node = nullptr;
  plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
  return PlistPtr(node);
}

// What libplist writes for `node` as the only object of a binary list.
std::string objectOf(plist_t node) {
  char* raw = nullptr;
  uint32_t length = 0;
  plist_to_bin(node, &raw, &length);
  std::unique_ptr<char, MallocDeleter> owner(raw);
  if (!raw || length < kHeaderSize + kOffsetTableSize + kTrailerSize) return {};
  return std::string(raw + kHeaderSize, length - kHeaderSize - kOffsetTableSize - kTrailerSize);
}

}  // namespace

PlistPtr newDateNode(double secondsSince2001) {
  std::string object(1, kDateMarker);
  appendBigEndian(object, std::bit_cast<std::uint64_t>(secondsSince2001));
  return fromObject(object);
}

PlistPtr newUnsignedNode(std::uint64_t value) {
  std::string object(1, kUnsignedMarker);
  appendBigEndian(object, 0);
  appendBigEndian(object, value);
  return fromObject(object);
}

std::optional<double> dateNodeSeconds(plist_t node) {
  std::string object = objectOf(node);
  if (object.size() != 9 || object[0] != kDateMarker) return std::nullopt;
  return std::bit_cast<double>(readBigEndian(std::string_view(object).substr(1)));
}

bool isUnsignedNode(plist_t node) {
  return objectOf(node).starts_with(kUnsignedMarker);
}

}  // namespace quorin::formats
