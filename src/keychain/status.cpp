#include "keychain/status.hpp"

#include <array>
#include <string>

#include "platform/platform.hpp"

namespace quorin::keychain {
namespace {

struct Entry {
  std::int32_t code;
  std::string_view name;
  std::string_view message;
};

constexpr Entry kEntries[] = {
#define QRN_STATUS(name, code, message) {code, #name, message},
#include "keychain/status_cases.inc"
#undef QRN_STATUS
};
constexpr std::size_t kEntryCount = std::size(kEntries);

// An open-addressing table from code to entry index, built at compile time: one or two
// probes per lookup.
constexpr std::size_t kSlots = 1024;
constexpr std::uint16_t kEmpty = 0xFFFF;

constexpr std::size_t slotOf(std::int32_t code) {
  return (static_cast<std::uint32_t>(code) * 2654435761u) >> 22;
}

constexpr auto kIndex = [] {
  std::array<std::uint16_t, kSlots> slots{};
  slots.fill(kEmpty);
  for (std::size_t i = 0; i < kEntryCount; ++i) {
    std::size_t slot = slotOf(kEntries[i].code);
    while (slots[slot] != kEmpty) slot = (slot + 1) % kSlots;
    slots[slot] = static_cast<std::uint16_t>(i);
  }
  return slots;
}();

const Entry* find(std::int32_t code) {
  for (std::size_t slot = slotOf(code);; slot = (slot + 1) % kSlots) {
    std::uint16_t index = kIndex[slot];
    if (index == kEmpty) return nullptr;
    if (kEntries[index].code == code) return &kEntries[index];
  }
}

const Entry& entryOf(Status status) {
  return *find(rawValue(status));
}

}  // namespace

Status statusFromCode(std::int32_t code) {
  return statusFromRawValue(code).value_or(Status::unexpectedError);
}

std::optional<Status> statusFromRawValue(std::int32_t code) {
  if (find(code) == nullptr) return std::nullopt;
  return static_cast<Status>(code);
}

std::string_view description(Status status) {
  return entryOf(status).message;
}
std::string_view caseName(Status status) {
  return entryOf(status).name;
}

formats::Dictionary errorUserInfo(Status status) {
  return {{std::string(platform::kLocalizedDescriptionKey), std::string(description(status))}};
}

platform::Error toPlatformError(Status status) {
  return {std::string(errorDomain()), errorCode(status), errorUserInfo(status)};
}

StatusError::StatusError(Status status)
    : std::runtime_error(std::string(description(status))), status_(status) {}

StatusError statusError(platform::Platform& platform, std::int32_t code) {
  Status status = statusFromCode(code);
  if (status != Status::userCanceled) {
    platform.writeDiagnostic("OSStatus error:[" + std::to_string(errorCode(status)) + "] " +
                             std::string(description(status)));
  }
  return StatusError(status);
}

}  // namespace quorin::keychain
