#include <array>
#include <tuple>
#include <type_traits>
#include <utility>

#include "quorin/quorin_client.hpp"

namespace {

using Arguments = std::span<const QRNValue>;
using Client = std::shared_ptr<quorin::QuorinClient>;

template <typename Method>
struct MethodTraits;
template <typename R, typename... A>
struct MethodTraits<R (QRNQuorinClient::*)(A...)> {
  using Result = R;
  using Parameters = std::tuple<std::remove_cvref_t<A>...>;
};
template <typename R, typename... A>
struct MethodTraits<R (QRNQuorinClient::*)(A...) const>
    : MethodTraits<R (QRNQuorinClient::*)(A...)> {};

template <typename T>
constexpr bool kNilAllowed = std::is_same_v<T, QRNCloudValueCallback> ||
                             std::is_same_v<T, QRNLifecycleCallback> || std::is_same_v<T, Client>;

template <typename T>
constexpr const char* kTypeName =
    std::is_same_v<T, bool>                    ? "a boolean"
    : std::is_same_v<T, std::string>           ? "a string"
    : std::is_same_v<T, QRNCloudValueCallback> ? "a cloud value callback or nil"
    : std::is_same_v<T, QRNLifecycleCallback>  ? "a lifecycle callback or nil"
                                               : "a client or nil";

template <typename T>
bool accepts(const QRNValue& value) {
  return std::holds_alternative<T>(value) ||
         (kNilAllowed<T> && std::holds_alternative<std::monostate>(value));
}

template <typename T>
T take(const QRNValue& value) {
  const T* held = std::get_if<T>(&value);
  return held ? *held : T{};
}

// An empty callback or client is nil, as a host that set none expects.
template <typename R>
QRNValue toValue(R result) {
  if constexpr (std::is_same_v<R, std::optional<std::string>>) {
    return result ? QRNValue(*result) : QRNValue();
  } else if constexpr (kNilAllowed<std::remove_cvref_t<R>>) {
    return result ? QRNValue(std::move(result)) : QRNValue();
  } else {
    return QRNValue(std::move(result));
  }
}

QRNPerformResult refusal(std::string message) {
  return {QRNPerformStatus::wrongArguments, {}, std::move(message)};
}

QRNPerformResult arityRefusal(std::string_view selector, std::size_t count, std::size_t given) {
  return refusal(std::string(selector) + " takes " + std::to_string(count) + " argument(s), not " +
                 std::to_string(given));
}

// Checks the arguments against the method's parameters, then calls it.
template <auto method>
QRNPerformResult call(QRNQuorinClient& client, std::string_view selector, Arguments arguments) {
  using Traits = MethodTraits<decltype(method)>;
  using Parameters = typename Traits::Parameters;
  constexpr std::size_t count = std::tuple_size_v<Parameters>;
  return [&]<std::size_t... I>(std::index_sequence<I...>)->QRNPerformResult {
    if (arguments.size() != count) return arityRefusal(selector, count, arguments.size());
    std::string problem;
    [[maybe_unused]] auto check = [&]<typename T>(std::size_t index) {
      if (accepts<T>(arguments[index])) return true;
      problem = "argument " + std::to_string(index + 1) + " of " + std::string(selector) +
                " must be " + kTypeName<T>;
      return false;
    };
    if (!(check.template operator()<std::tuple_element_t<I, Parameters>>(I) && ...))
      return refusal(problem);
    if constexpr (std::is_void_v<typename Traits::Result>) {
      (client.*method)(take<std::tuple_element_t<I, Parameters>>(arguments[I])...);
      return {};
    } else {
      return {QRNPerformStatus::ok,
              toValue((client.*method)(take<std::tuple_element_t<I, Parameters>>(arguments[I])...)),
              {}};
    }
  }
  (std::make_index_sequence<count>{});
}

struct SelectorEntry {
  std::string_view selector;
  QRNPerformResult (*call)(QRNQuorinClient&, std::string_view, Arguments);
};

constexpr std::string_view kInit = "init";

// In the order of the facade's method table, after "init", which perform() answers itself.
constexpr std::array kSelectorTable{
    SelectorEntry{"dispose", call<&QRNQuorinClient::dispose>},
    SelectorEntry{"setOnCloudStoreValueFetched:",
                  call<&QRNQuorinClient::setOnCloudStoreValueFetched>},
    SelectorEntry{"setOnApplicationEnterForeground:",
                  call<&QRNQuorinClient::setOnApplicationEnterForeground>},
    SelectorEntry{"setOnApplicationEnterBackground:",
                  call<&QRNQuorinClient::setOnApplicationEnterBackground>},
    SelectorEntry{"setOnApplicationDidBecomeActive:",
                  call<&QRNQuorinClient::setOnApplicationDidBecomeActive>},
    SelectorEntry{"setOnApplicationWillResignActive:",
                  call<&QRNQuorinClient::setOnApplicationWillResignActive>},
    SelectorEntry{"onCloudStoreValueFetched", call<&QRNQuorinClient::onCloudStoreValueFetched>},
    SelectorEntry{"onApplicationEnterForeground",
                  call<&QRNQuorinClient::onApplicationEnterForeground>},
    SelectorEntry{"onApplicationEnterBackground",
                  call<&QRNQuorinClient::onApplicationEnterBackground>},
    SelectorEntry{"onApplicationDidBecomeActive",
                  call<&QRNQuorinClient::onApplicationDidBecomeActive>},
    SelectorEntry{"onApplicationWillResignActive",
                  call<&QRNQuorinClient::onApplicationWillResignActive>},
    SelectorEntry{"deviceModel", call<&QRNQuorinClient::deviceModel>},
    SelectorEntry{"osVersion", call<&QRNQuorinClient::osVersion>},
    SelectorEntry{"buildNumber", call<&QRNQuorinClient::buildNumber>},
    SelectorEntry{"isTablet", call<&QRNQuorinClient::isTablet>},
    SelectorEntry{"setIsTablet:", call<&QRNQuorinClient::setIsTablet>},
    SelectorEntry{"languageWithRegion", call<&QRNQuorinClient::languageWithRegion>},
    SelectorEntry{"idfa", call<&QRNQuorinClient::idfa>},
    SelectorEntry{"idfv", call<&QRNQuorinClient::idfv>},
    SelectorEntry{"encodedDeviceIdentifier", call<&QRNQuorinClient::encodedDeviceIdentifier>},
    SelectorEntry{"storeCountry", call<&QRNQuorinClient::storeCountry>},
    SelectorEntry{"isApplicationInstalledForScheme:",
                  call<&QRNQuorinClient::isApplicationInstalledForScheme>},
    SelectorEntry{"collectMigrationData", call<&QRNQuorinClient::collectMigrationData>},
    SelectorEntry{"clearDataAfterMigration", call<&QRNQuorinClient::clearDataAfterMigration>},
    SelectorEntry{"getStringValueInKeychainForKey:",
                  call<&QRNQuorinClient::getStringValueInKeychainForKey>},
    SelectorEntry{"setStringValueInKeychain:forKey:",
                  call<&QRNQuorinClient::setStringValueInKeychain>},
    SelectorEntry{"removeValueInKeychainForKey:",
                  call<&QRNQuorinClient::removeValueInKeychainForKey>},
    SelectorEntry{"clearKeychains", call<&QRNQuorinClient::clearKeychains>},
    SelectorEntry{"fetchValueFromCloudStoreForKey:",
                  call<&QRNQuorinClient::fetchValueFromCloudStoreForKey>},
    SelectorEntry{"setValueToCloudStore:forKey:", call<&QRNQuorinClient::setValueToCloudStore>},
    SelectorEntry{"removeValueFromCloudStoreForKey:",
                  call<&QRNQuorinClient::removeValueFromCloudStoreForKey>},
    SelectorEntry{"swiftClient", call<&QRNQuorinClient::swiftClient>},
    SelectorEntry{"setSwiftClient:", call<&QRNQuorinClient::setSwiftClient>},
};

constexpr auto kSelectorNames = [] {
  std::array<std::string_view, kSelectorTable.size() + 1> names{kInit};
  for (std::size_t i = 0; i < kSelectorTable.size(); ++i) names[i + 1] = kSelectorTable[i].selector;
  return names;
}();

}  // namespace

QRNPerformResult QRNQuorinClient::perform(std::string_view selector, Arguments arguments) {
  if (selector == kInit) {
    if (!arguments.empty()) return arityRefusal(kInit, 0, arguments.size());
    init();
    return {QRNPerformStatus::ok, QRNValue(this), {}};
  }
  for (const auto& entry : kSelectorTable) {
    if (entry.selector == selector) return entry.call(*this, selector, arguments);
  }
  return {QRNPerformStatus::unknownSelector, {}, "unknown selector: " + std::string(selector)};
}

std::span<const std::string_view> QRNQuorinClient::selectors() {
  return kSelectorNames;
}
