#include "platform/user_defaults.hpp"

#include <cmath>

namespace quorin::platform {
namespace {

constexpr double kTwoTo63 = 0x1p63;

std::optional<double> exactDouble(const formats::Value& value) {
  if (const auto* real = value.get<double>()) return *real;
  if (const auto* flag = value.get<bool>()) return *flag ? 1.0 : 0.0;
  if (const auto* integer = value.get<std::int64_t>()) {
    auto real = static_cast<double>(*integer);
    if (real < kTwoTo63 && static_cast<std::int64_t>(real) == *integer) return real;
  }
  if (const auto* integer = value.get<std::uint64_t>()) {
    auto real = static_cast<double>(*integer);
    if (real < 2 * kTwoTo63 && static_cast<std::uint64_t>(real) == *integer) return real;
  }
  return std::nullopt;
}

std::optional<std::int64_t> exactInteger(const formats::Value& value) {
  if (const auto* integer = value.get<std::int64_t>()) return *integer;
  if (const auto* flag = value.get<bool>()) return *flag ? 1 : 0;
  if (const auto* real = value.get<double>()) {
    if (std::trunc(*real) == *real && *real >= -kTwoTo63 && *real < kTwoTo63)
      return static_cast<std::int64_t>(*real);
  }
  return std::nullopt;
}

template <typename Read>
auto read(const UserDefaults& defaults, std::string_view key, Read convert)
    -> decltype(convert(std::declval<const formats::Value&>())) {
  auto value = defaults.objectForKey(key);
  if (!value) return std::nullopt;
  return convert(*value);
}

}  // namespace

std::optional<std::string> stringForKey(const UserDefaults& defaults, std::string_view key) {
  return read(defaults, key, [](const formats::Value& value) -> std::optional<std::string> {
    if (const auto* text = value.get<std::string>()) return *text;
    return std::nullopt;
  });
}

std::optional<double> doubleForKey(const UserDefaults& defaults, std::string_view key) {
  return read(defaults, key, exactDouble);
}

std::optional<std::int64_t> integerForKey(const UserDefaults& defaults, std::string_view key) {
  return read(defaults, key, exactInteger);
}

std::optional<bool> boolForKey(const UserDefaults& defaults, std::string_view key) {
  return read(defaults, key, [](const formats::Value& value) -> std::optional<bool> {
    auto number = exactDouble(value);
    if (number == 0.0 || number == 1.0) return number == 1.0;
    return std::nullopt;
  });
}

std::optional<std::vector<std::string>> stringArrayForKey(const UserDefaults& defaults,
                                                          std::string_view key) {
  return read(defaults, key,
              [](const formats::Value& value) -> std::optional<std::vector<std::string>> {
                const auto* array = value.get<formats::Array>();
                if (array == nullptr) return std::nullopt;
                std::vector<std::string> strings;
                strings.reserve(array->size());
                for (const auto& element : *array) {
                  const auto* text = element.get<std::string>();
                  if (text == nullptr) return std::nullopt;
                  strings.push_back(*text);
                }
                return strings;
              });
}

std::optional<std::map<std::string, formats::Date>> dateDictionaryForKey(
    const UserDefaults& defaults, std::string_view key) {
  return read(
      defaults, key,
      [](const formats::Value& value) -> std::optional<std::map<std::string, formats::Date>> {
        const auto* dictionary = value.get<formats::Dictionary>();
        if (dictionary == nullptr) return std::nullopt;
        std::map<std::string, formats::Date> dates;
        for (const auto& [name, element] : *dictionary) {
          const auto* date = element.get<formats::Date>();
          if (date == nullptr) return std::nullopt;
          dates.emplace(name, *date);
        }
        return dates;
      });
}

}  // namespace quorin::platform
