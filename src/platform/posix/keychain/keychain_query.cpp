#include "platform/posix/keychain/keychain_query.hpp"

namespace quorin::platform::posix {
namespace {

bool isSteering(std::string_view key) {
  return key.starts_with("u_") || key.starts_with("m_") || key.starts_with("r_");
}

bool isValue(std::string_view key) {
  return key.starts_with("v_");
}

bool flagValue(const formats::Value& value, bool& flag) {
  if (const auto* b = value.get<bool>()) {
    flag = *b;
    return true;
  }
  if (const auto* i = value.get<std::int64_t>()) {
    flag = *i != 0;
    return true;
  }
  return false;
}

OSStatus parseSteering(const std::string& key, const formats::Value& value, KeychainQuery& parsed) {
  bool flag = false;
  if (key == sec::kSecMatchLimit) {
    const auto* object = value.get<formats::ObjectRef>();
    if (object && *object == kSecMatchLimitAll()) {
      parsed.limitAll = true;
    } else if (const auto* count = value.get<std::int64_t>()) {
      parsed.limitAll = *count > 1;
    } else if (!object || *object != kSecMatchLimitOne()) {
      return errSecParam;
    }
  } else if (key == sec::kSecUseAuthenticationUI) {
    const auto* text = value.get<std::string>();
    parsed.authenticationUIFail = text && *text == sec::kSecUseAuthenticationUIFail;
  } else if (key.starts_with("r_")) {
    if (!flagValue(value, flag)) return errSecParam;
    if (key == sec::kSecReturnData)
      parsed.returnData = flag;
    else if (key == sec::kSecReturnAttributes)
      parsed.returnAttributes = flag;
    else if (key == sec::kSecReturnRef)
      parsed.returnRef = flag;
    else if (key == sec::kSecReturnPersistentRef)
      parsed.returnPersistentRef = flag;
  }
  return errSecSuccess;
}

const formats::Value* find(const formats::Dictionary& dictionary, std::string_view key) {
  auto it = dictionary.find(key);
  return it == dictionary.end() ? nullptr : &it->second;
}

void appendField(std::string& key, const formats::Value* value) {
  if (value == nullptr) {
    key += '\x01';
  } else if (const auto* text = value->get<std::string>()) {
    key += '\x02' + std::to_string(text->size()) + ':' + *text;
  } else if (const auto* number = value->get<std::int64_t>()) {
    key += '\x03' + std::to_string(*number);
  } else if (const auto* flag = value->get<bool>()) {
    key += *flag ? "\x04t" : "\x04f";
  } else {
    key += '\x05';
  }
}

}  // namespace

OSStatus parseQuery(const formats::Dictionary& query, KeychainQuery& parsed) {
  const auto* itemClass = find(query, sec::kSecClass);
  const auto* text = itemClass ? itemClass->get<std::string>() : nullptr;
  if (!text || (*text != sec::kSecClassGenericPassword && *text != sec::kSecClassInternetPassword))
    return errSecParam;
  parsed.itemClass = *text;
  for (const auto& [key, value] : query) {
    if (key == sec::kSecClass) continue;
    if (isSteering(key)) {
      if (OSStatus status = parseSteering(key, value, parsed); status != errSecSuccess)
        return status;
    } else if (key == sec::kSecAttrSynchronizable) {
      const auto* object = value.get<formats::ObjectRef>();
      bool flag = false;
      if (object && *object == kSecAttrSynchronizableAny())
        parsed.sync = KeychainQuery::Sync::any;
      else if (flagValue(value, flag))
        parsed.sync = flag ? KeychainQuery::Sync::yes : KeychainQuery::Sync::no;
      else
        return errSecParam;
    } else if (key == sec::kSecValuePersistentRef) {
      const auto* ref = value.get<formats::Data>();
      if (!ref) return errSecParam;
      parsed.persistentRef = *ref;
    } else if (!isValue(key)) {
      parsed.match.emplace_back(key, value);
    }
  }
  return errSecSuccess;
}

bool matches(const KeychainQuery& query, const StoredItem& item) {
  const auto* itemClass = find(item.attributes, sec::kSecClass);
  if (!itemClass || *itemClass != formats::Value(query.itemClass)) return false;
  if (query.sync != KeychainQuery::Sync::any) {
    const auto* sync = find(item.attributes, sec::kSecAttrSynchronizable);
    bool synchronized = sync && sync->get<bool>() && *sync->get<bool>();
    if (synchronized != (query.sync == KeychainQuery::Sync::yes)) return false;
  }
  if (query.persistentRef && *query.persistentRef != persistentRefOf(item)) return false;
  for (const auto& [key, value] : query.match) {
    const auto* stored = find(item.attributes, key);
    if (!stored || *stored != value) return false;
  }
  return true;
}

bool needsAuthentication(const StoredItem& item) {
  return find(item.attributes, sec::kSecAttrAccessControl) != nullptr;
}

formats::Data persistentRefOf(const StoredItem& item) {
  const auto* itemClass = find(item.attributes, sec::kSecClass);
  const auto* text = itemClass ? itemClass->get<std::string>() : nullptr;
  formats::Data ref;
  if (text) ref.assign(text->begin(), text->end());
  for (int shift = 56; shift >= 0; shift -= 8)
    ref.push_back(static_cast<std::uint8_t>(item.id >> shift));
  return ref;
}

namespace {

formats::Value itemResult(const KeychainQuery& query, const StoredItem& item) {
  int kinds =
      query.returnData + query.returnAttributes + query.returnRef + query.returnPersistentRef;
  if (kinds == 1 && !query.returnAttributes) {
    if (query.returnData) return item.data;
    return persistentRefOf(item);
  }
  formats::Dictionary result;
  if (query.returnAttributes) result = item.attributes;
  if (query.returnData && !item.damaged) result[std::string(sec::kSecValueData)] = item.data;
  if (query.returnRef) result[std::string(sec::kSecValueRef)] = persistentRefOf(item);
  if (query.returnPersistentRef)
    result[std::string(sec::kSecValuePersistentRef)] = persistentRefOf(item);
  return result;
}

}  // namespace

bool listsItems(const KeychainQuery& query) {
  return query.limitAll && query.returnAttributes;
}

formats::Value resultFor(const KeychainQuery& query, const std::vector<StoredItem>& items) {
  if (!query.limitAll) return itemResult(query, items.front());
  formats::Array list;
  list.reserve(items.size());
  for (const auto& item : items) list.push_back(itemResult(query, item));
  return list;
}

OSStatus attributesForAdd(const formats::Dictionary& request, double now, StoredItem& item) {
  const auto* itemClass = find(request, sec::kSecClass);
  const auto* text = itemClass ? itemClass->get<std::string>() : nullptr;
  if (!text || (*text != sec::kSecClassGenericPassword && *text != sec::kSecClassInternetPassword))
    return errSecParam;
  item.attributes.clear();
  for (const auto& [key, value] : request) {
    if (isSteering(key) || isValue(key)) continue;
    item.attributes.emplace(key, value);
  }
  bool synchronized = false;
  if (const auto* sync = find(request, sec::kSecAttrSynchronizable);
      sync && !flagValue(*sync, synchronized))
    return errSecParam;
  item.attributes.insert_or_assign(std::string(sec::kSecAttrSynchronizable), synchronized);
  if (!find(item.attributes, sec::kSecAttrAccessControl))
    item.attributes.try_emplace(std::string(sec::kSecAttrAccessible),
                                std::string(sec::kSecAttrAccessibleWhenUnlocked));
  item.attributes.insert_or_assign(std::string(sec::kSecAttrCreationDate), formats::Date{now});
  item.attributes.insert_or_assign(std::string(sec::kSecAttrModificationDate), formats::Date{now});
  const auto* data = find(request, sec::kSecValueData);
  if (data && !data->get<formats::Data>()) return errSecParam;
  item.data = data ? *data->get<formats::Data>() : formats::Data{};
  return errSecSuccess;
}

OSStatus applyUpdate(const formats::Dictionary& changes, double now, StoredItem& item) {
  for (const auto& [key, value] : changes) {
    if (key == sec::kSecValueData) {
      const auto* data = value.get<formats::Data>();
      if (!data) return errSecParam;
      item.data = *data;
    } else if (key == sec::kSecClass || isSteering(key) || isValue(key)) {
      continue;
    } else if (key == sec::kSecAttrSynchronizable) {
      bool flag = false;
      if (!flagValue(value, flag)) return errSecParam;
      item.attributes.insert_or_assign(key, flag);
    } else {
      item.attributes.insert_or_assign(key, value);
    }
  }
  // An item is protected either by a class or by an access-control object, never both.
  if (changes.count(sec::kSecAttrAccessible))
    item.attributes.erase(std::string(sec::kSecAttrAccessControl));
  if (changes.count(sec::kSecAttrAccessControl))
    item.attributes.erase(std::string(sec::kSecAttrAccessible));
  item.attributes.insert_or_assign(std::string(sec::kSecAttrModificationDate), formats::Date{now});
  return errSecSuccess;
}

const std::vector<std::string_view>& primaryAttributes(std::string_view itemClass) {
  static const std::vector<std::string_view> generic = {sec::kSecAttrAccessGroup,
                                                        sec::kSecAttrAccount, sec::kSecAttrService,
                                                        sec::kSecAttrSynchronizable};
  static const std::vector<std::string_view> internet = {
      sec::kSecAttrAccessGroup, sec::kSecAttrAccount,  sec::kSecAttrSecurityDomain,
      sec::kSecAttrServer,      sec::kSecAttrProtocol, sec::kSecAttrAuthenticationType,
      sec::kSecAttrPort,        sec::kSecAttrPath,     sec::kSecAttrSynchronizable};
  return itemClass == sec::kSecClassInternetPassword ? internet : generic;
}

std::string primaryKey(const StoredItem& item) {
  const auto* itemClass = find(item.attributes, sec::kSecClass);
  std::string key = *itemClass->get<std::string>();
  for (auto attribute : primaryAttributes(key)) appendField(key, find(item.attributes, attribute));
  return key;
}

}  // namespace quorin::platform::posix
