#include "support/hostile_plists.hpp"

#include <cstdint>
#include <vector>

namespace quorin::testing {
namespace {

void appendBigEndian(std::string& out, std::uint64_t value, int size) {
  for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
    out += static_cast<char>(value >> shift & 0xFF);
}

// A marker with its element count, the long form past 14.
std::string marker(std::uint8_t type, std::uint64_t count) {
  std::string out;
  if (count < 15) {
    out += static_cast<char>(type << 4 | count);
  } else {
    out += static_cast<char>(type << 4 | 0x0F);
    out += '\x13';
    appendBigEndian(out, count, 8);
  }
  return out;
}

std::string array(const std::vector<std::uint32_t>& refs) {
  std::string out = marker(0xA, refs.size());
  for (auto ref : refs) appendBigEndian(out, ref, 4);
  return out;
}

// Object 0 is the top; references and offsets take four bytes.
std::string binaryPlist(const std::vector<std::string>& objects) {
  std::string out = "bplist00";
  std::vector<std::uint64_t> offsets;
  for (const auto& object : objects) {
    offsets.push_back(out.size());
    out += object;
  }
  std::uint64_t table = out.size();
  for (auto offset : offsets) appendBigEndian(out, offset, 4);
  out += std::string(6, '\0') + "\x04\x04";
  appendBigEndian(out, objects.size(), 8);
  appendBigEndian(out, 0, 8);
  appendBigEndian(out, table, 8);
  return out;
}

}  // namespace

std::string deepXmlPlist(int depth) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
  for (int i = 0; i < depth; ++i) out += "<array>";
  out += "<true/>";
  for (int i = 0; i < depth; ++i) out += "</array>";
  return out + "</plist>\n";
}

std::string deepBinaryPlist(int depth) {
  std::vector<std::string> objects;
  for (int i = 0; i < depth; ++i) objects.push_back(array({static_cast<std::uint32_t>(i + 1)}));
  objects.push_back("\x09");
  return binaryPlist(objects);
}

std::string sharedReferenceBomb(int levels) {
  std::vector<std::string> objects;
  for (int i = 0; i < levels; ++i) {
    auto next = static_cast<std::uint32_t>(i + 1);
    objects.push_back(array({next, next}));
  }
  objects.push_back("\x09");
  return binaryPlist(objects);
}

std::string cyclicBinaryPlist() {
  return binaryPlist({array({0})});
}

std::string repeatedDataPlist(std::size_t size, std::size_t count) {
  return binaryPlist(
      {array(std::vector<std::uint32_t>(count, 1)), marker(0x4, size) + std::string(size, '\x2A')});
}

}  // namespace quorin::testing
