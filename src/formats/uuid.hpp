#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorin::formats {

// A 128-bit identifier; `bytes` are in the order of the text form.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  // Canonical upper-case text: 8-4-4-4-12 hex digits with hyphens.
  std::string uuidString() const;
  // Accepts the canonical form in either case; nothing else.
  static std::optional<Uuid> fromString(std::string_view text);

  friend bool operator==(const Uuid&, const Uuid&) = default;
};

}  // namespace quorin::formats
