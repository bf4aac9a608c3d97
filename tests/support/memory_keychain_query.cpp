#include "support/memory_keychain_query.hpp"

#include <algorithm>
#include <array>

namespace quorin::testing {

namespace sec = platform::sec;
using formats::Data;
using formats::Dictionary;
using formats::ObjectRef;
using formats::Value;

namespace {

constexpr std::array<std::string_view, 4> kReturns = {
    sec::kSecReturnData, sec::kSecReturnAttributes, sec::kSecReturnRef,
    sec::kSecReturnPersistentRef};
// Entries that steer a call rather than describe an item.
constexpr std::array<std::string_view, 4> kSteering = {
    sec::kSecMatchLimit, sec::kSecUseOperationPrompt, sec::kSecUseAuthenticationUI,
    sec::kSecUseAuthenticationContext};
// Entries that carry an item's value or a reference to it, never an attribute.
constexpr std::array<std::string_view, 3> kValues = {sec::kSecValueData, sec::kSecValueRef,
                                                     sec::kSecValuePersistentRef};

bool isOneOf(std::string_view key, const auto& keys) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool isAttribute(std::string_view key) {
  return !isOneOf(key, kSteering) && !isOneOf(key, kReturns) && !isOneOf(key, kValues);
}

const Value* lookUp(const Dictionary& dictionary, std::string_view key) {
  auto it = dictionary.find(key);
  return it == dictionary.end() ? nullptr : &it->second;
}

bool isKnownClass(const Value* value) {
  return value && (*value == Value(std::string(sec::kSecClassGenericPassword)) ||
                   *value == Value(std::string(sec::kSecClassInternetPassword)));
}

bool isConstant(const Value& value, const ObjectRef& constant) {
  const auto* object = value.get<ObjectRef>();
  return object && *object == constant;
}

bool readLimit(const Value& value, MemoryQuery& query) {
  query.all = isConstant(value, platform::kSecMatchLimitAll());
  return query.all || isConstant(value, platform::kSecMatchLimitOne());
}

bool readReturn(std::string_view key, const Value& value, MemoryQuery& query) {
  const auto* flag = value.get<bool>();
  if (!flag) return false;
  if (key == sec::kSecReturnData) query.wantsData = *flag;
  if (key == sec::kSecReturnAttributes) query.wantsAttributes = *flag;
  if (key == sec::kSecReturnRef) query.wantsRef = *flag;
  if (key == sec::kSecReturnPersistentRef) query.wantsPersistentRef = *flag;
  return true;
}

bool readSync(const Value& value, MemoryQuery& query) {
  if (isConstant(value, platform::kSecAttrSynchronizableAny())) {
    query.sync = MemoryQuery::Sync::either;
    return true;
  }
  const auto* flag = value.get<bool>();
  if (flag) query.sync = *flag ? MemoryQuery::Sync::on : MemoryQuery::Sync::off;
  return flag != nullptr;
}

bool readEntry(const std::string& key, const Value& value, MemoryQuery& query) {
  if (key == sec::kSecMatchLimit) return readLimit(value, query);
  if (isOneOf(key, kReturns)) return readReturn(key, value, query);
  if (key == sec::kSecUseAuthenticationUI) {
    query.forbidsAuthenticationUI = value == Value(std::string(sec::kSecUseAuthenticationUIFail));
  } else if (key == sec::kSecAttrSynchronizable) {
    return readSync(value, query);
  } else if (key == sec::kSecValuePersistentRef) {
    const auto* ref = value.get<Data>();
    if (ref) query.persistentRef = *ref;
    return ref != nullptr;
  } else if (isAttribute(key) && key != sec::kSecClass) {
    query.required.insert_or_assign(key, value);
  }
  return true;
}

Data persistentRefOf(const MemoryItem& item) {
  std::string text = "memory-item-" + std::to_string(item.id);
  return Data(text.begin(), text.end());
}

bool isSynchronized(const MemoryItem& item) {
  const auto* flag = lookUp(item.attributes, sec::kSecAttrSynchronizable);
  return flag && *flag == Value(true);
}

Value answerOne(const MemoryQuery& query, const MemoryItem& item) {
  int kinds = query.wantsData + query.wantsAttributes + query.wantsRef + query.wantsPersistentRef;
  if (kinds == 1 && query.wantsData) return item.value;
  if (kinds == 1 && !query.wantsAttributes) return persistentRefOf(item);
  Dictionary result = query.wantsAttributes ? item.attributes : Dictionary{};
  if (query.wantsData) result.insert_or_assign(std::string(sec::kSecValueData), item.value);
  if (query.wantsRef) result.insert_or_assign(std::string(sec::kSecValueRef), persistentRefOf(item));
  if (query.wantsPersistentRef)
    result.insert_or_assign(std::string(sec::kSecValuePersistentRef), persistentRefOf(item));
  return result;
}

// Whether `value` may stand as an item's sync flag, and which.
std::optional<bool> syncFlag(const Value* value) {
  if (value == nullptr) return false;
  const auto* flag = value->get<bool>();
  return flag ? std::optional<bool>(*flag) : std::nullopt;
}

// The attributes that tell two items of a class apart.
const std::vector<std::string_view>& identifying(const Value& itemClass) {
  static const std::vector<std::string_view> generic = {
      sec::kSecAttrAccessGroup, sec::kSecAttrService, sec::kSecAttrAccount,
      sec::kSecAttrSynchronizable};
  static const std::vector<std::string_view> internet = {
      sec::kSecAttrAccessGroup, sec::kSecAttrServer,   sec::kSecAttrProtocol,
      sec::kSecAttrAuthenticationType, sec::kSecAttrPort, sec::kSecAttrPath,
      sec::kSecAttrSecurityDomain, sec::kSecAttrAccount, sec::kSecAttrSynchronizable};
  return itemClass == Value(std::string(sec::kSecClassInternetPassword)) ? internet : generic;
}

bool sameEntry(const Dictionary& a, const Dictionary& b, std::string_view key) {
  const auto* left = lookUp(a, key);
  const auto* right = lookUp(b, key);
  return left == nullptr || right == nullptr ? left == right : *left == *right;
}

}  // namespace

std::optional<MemoryQuery> readQuery(const Dictionary& query) {
  const auto* itemClass = lookUp(query, sec::kSecClass);
  if (!isKnownClass(itemClass)) return std::nullopt;
  MemoryQuery parsed;
  parsed.itemClass = *itemClass->get<std::string>();
  for (const auto& [key, value] : query) {
    if (!readEntry(key, value, parsed)) return std::nullopt;
  }
  return parsed;
}

bool selects(const MemoryQuery& query, const MemoryItem& item) {
  const auto* itemClass = lookUp(item.attributes, sec::kSecClass);
  if (!itemClass || *itemClass != Value(query.itemClass)) return false;
  if (query.sync != MemoryQuery::Sync::either &&
      isSynchronized(item) != (query.sync == MemoryQuery::Sync::on))
    return false;
  if (query.persistentRef && *query.persistentRef != persistentRefOf(item)) return false;
  return std::all_of(query.required.begin(), query.required.end(), [&](const auto& entry) {
    const auto* held = lookUp(item.attributes, entry.first);
    return held && *held == entry.second;
  });
}

bool needsAuthentication(const MemoryItem& item) {
  return lookUp(item.attributes, sec::kSecAttrAccessControl) != nullptr;
}

Value answer(const MemoryQuery& query, const std::vector<MemoryItem>& found) {
  if (!query.all) return answerOne(query, found.front());
  formats::Array list;
  for (const auto& item : found) list.push_back(answerOne(query, item));
  return list;
}

std::optional<MemoryItem> itemFromAdd(const Dictionary& request, double now) {
  if (!isKnownClass(lookUp(request, sec::kSecClass))) return std::nullopt;
  auto sync = syncFlag(lookUp(request, sec::kSecAttrSynchronizable));
  const auto* value = lookUp(request, sec::kSecValueData);
  if (!sync || (value && !value->get<Data>())) return std::nullopt;
  MemoryItem item;
  for (const auto& [key, entry] : request) {
    if (isAttribute(key)) item.attributes.insert_or_assign(key, entry);
  }
  item.attributes.insert_or_assign(std::string(sec::kSecAttrSynchronizable), *sync);
  if (!needsAuthentication(item))
    item.attributes.try_emplace(std::string(sec::kSecAttrAccessible),
                                std::string(sec::kSecAttrAccessibleWhenUnlocked));
  item.attributes.insert_or_assign(std::string(sec::kSecAttrCreationDate), formats::Date{now});
  item.attributes.insert_or_assign(std::string(sec::kSecAttrModificationDate), formats::Date{now});
  if (value) item.value = *value->get<Data>();
  return item;
}

bool applyChanges(const Dictionary& changes, double now, MemoryItem& item) {
  for (const auto& [key, entry] : changes) {
    if (key == sec::kSecValueData) {
      if (!entry.get<Data>()) return false;
      item.value = *entry.get<Data>();
    } else if (key == sec::kSecAttrSynchronizable) {
      if (!entry.get<bool>()) return false;
      item.attributes.insert_or_assign(key, entry);
    } else if (isAttribute(key) && key != sec::kSecClass) {
      item.attributes.insert_or_assign(key, entry);
    }
  }
  // Protection is a class or an access-control object, whichever was written last.
  if (lookUp(changes, sec::kSecAttrAccessible))
    item.attributes.erase(std::string(sec::kSecAttrAccessControl));
  if (lookUp(changes, sec::kSecAttrAccessControl))
    item.attributes.erase(std::string(sec::kSecAttrAccessible));
  item.attributes.insert_or_assign(std::string(sec::kSecAttrModificationDate), formats::Date{now});
  return true;
}

bool sameIdentity(const MemoryItem& a, const MemoryItem& b) {
  if (!sameEntry(a.attributes, b.attributes, sec::kSecClass)) return false;
  const auto& keys = identifying(*lookUp(a.attributes, sec::kSecClass));
  return std::all_of(keys.begin(), keys.end(),
                     [&](auto key) { return sameEntry(a.attributes, b.attributes, key); });
}

}  // namespace quorin::testing
