#include "formats/utf8.hpp"
#include "keychain/keychain.hpp"

namespace quorin::keychain {
namespace {

namespace sec = platform::sec;
using formats::Dictionary;
using formats::Value;
using platform::OSStatus;

const std::string* textAt(const Dictionary& item, std::string_view key) {
  auto it = item.find(key);
  return it == item.end() ? nullptr : it->second.get<std::string>();
}

// Copies the entry when it is a string that `Enum` knows, as that case's description.
template <typename Enum>
void putDescription(Dictionary& summary, const char* name, const Dictionary& item,
                    std::string_view key) {
  const auto* raw = textAt(item, key);
  auto value = raw ? fromRawValue<Enum>(*raw) : std::nullopt;
  if (value) summary[name] = std::string(description(*value));
}

void putText(Dictionary& summary, const char* name, const Dictionary& item, std::string_view key) {
  if (const auto* text = textAt(item, key)) summary[name] = *text;
}

Dictionary summaryOf(ItemClass itemClass, const Dictionary& item) {
  Dictionary summary{{"class", std::string(description(itemClass))}};
  putText(summary, "accessGroup", item, sec::kSecAttrAccessGroup);
  if (itemClass == ItemClass::genericPassword) {
    putText(summary, "service", item, sec::kSecAttrService);
  } else {
    putText(summary, "server", item, sec::kSecAttrServer);
    putDescription<ProtocolType>(summary, "protocol", item, sec::kSecAttrProtocol);
    putDescription<AuthenticationType>(summary, "authenticationType", item,
                                       sec::kSecAttrAuthenticationType);
  }
  putText(summary, "key", item, sec::kSecAttrAccount);
  if (auto it = item.find(sec::kSecValueData); it != item.end()) {
    if (const auto* data = it->second.get<formats::Data>()) {
      std::string text(data->begin(), data->end());
      summary["value"] = formats::isValidUtf8(text) ? Value(std::move(text)) : Value(*data);
    }
  }
  putDescription<Accessibility>(summary, "accessibility", item, sec::kSecAttrAccessible);
  if (auto it = item.find(sec::kSecAttrSynchronizable); it != item.end()) {
    if (const auto* flag = it->second.get<bool>())
      summary["synchronizable"] = *flag ? "true" : "false";
  }
  return summary;
}

// The dictionaries of a listing's result, or none when it has another shape.
std::optional<std::vector<Dictionary>> dictionaries(const std::optional<Value>& result) {
  const auto* list = result ? result->get<formats::Array>() : nullptr;
  if (list == nullptr) return std::nullopt;
  std::vector<Dictionary> items;
  for (const auto& entry : *list) {
    const auto* item = entry.get<Dictionary>();
    if (item == nullptr) return std::nullopt;
    items.push_back(*item);
  }
  return items;
}

// The listed items; none for "not found", StatusError for any other failure.
std::vector<Dictionary> listOrThrow(platform::Platform& platform, const Dictionary& query) {
  std::optional<Value> result;
  OSStatus status = platform.keychainServices().secItemCopyMatching(query, &result);
  if (status == platform::errSecItemNotFound) return {};
  auto items = status == platform::errSecSuccess ? dictionaries(result) : std::nullopt;
  if (!items) throw statusError(platform, status);
  return std::move(*items);
}

// Listings fail quietly: the diagnostic line of any other code, then an empty list.
std::vector<Dictionary> list(platform::Platform& platform, const Dictionary& query) {
  try {
    return listOrThrow(platform, query);
  } catch (const StatusError&) {
    return {};
  }
}

Dictionary classQuery(ItemClass itemClass) {
  return {{std::string(sec::kSecClass), std::string(rawValue(itemClass))},
          {std::string(sec::kSecMatchLimit), platform::kSecMatchLimitAll()},
          {std::string(sec::kSecReturnAttributes), true}};
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

}  // namespace

std::vector<Keychain::ItemSummary> itemSummaries(ItemClass itemClass,
                                                 const std::vector<Dictionary>& items) {
  std::vector<Keychain::ItemSummary> summaries;
  summaries.reserve(items.size());
  for (const auto& item : items) summaries.push_back(summaryOf(itemClass, item));
  return summaries;
}

std::vector<std::pair<std::string, std::string>> Keychain::allKeys(platform::Platform& platform,
                                                                   ItemClass itemClass) {
  Dictionary query = classQuery(itemClass);
  query[std::string(sec::kSecAttrSynchronizable)] = platform::kSecAttrSynchronizableAny();
  std::vector<std::pair<std::string, std::string>> keys;
  const char* owner = itemClass == ItemClass::genericPassword ? "service" : "server";
  for (const auto& summary : itemSummaries(itemClass, list(platform, query))) {
    auto text = [&](const char* name) {
      const auto* found = textAt(summary, name);
      return found ? *found : std::string();
    };
    keys.emplace_back(text(owner), text("key"));
  }
  return keys;
}

std::vector<Keychain::ItemSummary> Keychain::allItems(platform::Platform& platform,
                                                      ItemClass itemClass) {
  Dictionary query = classQuery(itemClass);
  query[std::string(sec::kSecReturnData)] = true;
  return itemSummaries(itemClass, list(platform, query));
}

Dictionary Keychain::listingQuery() const {
  Dictionary query = options_.baseQuery(IgnoringAttributeSynchronizable::yes);
  query[std::string(sec::kSecMatchLimit)] = platform::kSecMatchLimitAll();
  query[std::string(sec::kSecReturnAttributes)] = true;
  query[std::string(sec::kSecReturnData)] = true;
  return query;
}

std::vector<Dictionary> Keychain::rawItems() const {
  return list(*platform_, listingQuery());
}

std::vector<Keychain::ItemSummary> Keychain::items() const {
  return itemSummaries(options_.itemClass, listOrThrow(*platform_, listingQuery()));
}

std::vector<std::string> Keychain::allKeys() const {
  std::vector<std::string> keys;
  for (const auto& summary : allItems()) {
    if (const auto* key = textAt(summary, "key")) keys.push_back(*key);
  }
  return keys;
}

std::vector<Keychain::ItemSummary> Keychain::allItems() const {
  return itemSummaries(options_.itemClass, rawItems());
}

std::string Keychain::description() const {
  auto summaries = allItems();
  if (summaries.empty()) return "[]";
  std::string text = "[\n";
  for (const auto& summary : summaries) text += "  " + describe(Value(summary)) + "\n";
  return text + "]";
}

std::string Keychain::debugDescription() const {
  formats::Array items;
  for (auto& item : rawItems()) items.emplace_back(std::move(item));
  return describe(Value(std::move(items)));
}

std::string describe(const Value& value) {
  if (const auto* text = value.get<std::string>()) return quoted(*text);
  if (const auto* flag = value.get<bool>()) return *flag ? "true" : "false";
  if (const auto* integer = value.get<std::int64_t>()) return std::to_string(*integer);
  if (const auto* large = value.get<std::uint64_t>()) return std::to_string(*large);
  if (const auto* real = value.get<double>()) return std::to_string(*real);
  if (const auto* data = value.get<formats::Data>())
    return "<" + std::to_string(data->size()) + " bytes>";
  if (const auto* date = value.get<formats::Date>())
    return "<date " + std::to_string(date->secondsSince1970) + ">";
  if (const auto* array = value.get<formats::Array>()) {
    std::string out = "[";
    for (std::size_t i = 0; i < array->size(); ++i) out += (i ? ", " : "") + describe((*array)[i]);
    return out + "]";
  }
  if (const auto* dictionary = value.get<Dictionary>()) {
    if (dictionary->empty()) return "[:]";
    std::string out = "[";
    bool first = true;
    for (const auto& [key, member] : *dictionary) {
      out += (first ? "" : ", ") + quoted(key) + ": " + describe(member);
      first = false;
    }
    return out + "]";
  }
  return value.isNull() ? "nil" : "<object>";
}

std::shared_ptr<const platform::AccessControl> Attributes::accessControl() const {
  auto it = attributes_.find(platform::sec::kSecAttrAccessControl);
  const auto* object = it == attributes_.end() ? nullptr : it->second.get<formats::ObjectRef>();
  return object ? std::dynamic_pointer_cast<const platform::AccessControl>(*object) : nullptr;
}

std::string Attributes::description() const {
  return describe(Value(attributes_));
}

std::optional<Value> Attributes::operator[](std::string_view key) const {
  auto it = attributes_.find(key);
  if (it == attributes_.end()) return std::nullopt;
  return it->second;
}

}  // namespace quorin::keychain
