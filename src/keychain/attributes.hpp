#pragma once

#include <optional>
#include <string>

#include "platform/keychain_services.hpp"

namespace quorin::keychain {

// A read-only view of one item's attribute dictionary as the platform returned it. Each
// accessor gives absent for a missing entry or one of another type.
class Attributes {
 public:
  explicit Attributes(formats::Dictionary attributes) : attributes_(std::move(attributes)) {}

  std::optional<std::string> class_() const { return text(platform::sec::kSecClass); }
  std::optional<formats::Data> data() const { return bytes(platform::sec::kSecValueData); }
  std::optional<formats::Data> ref() const { return bytes(platform::sec::kSecValueRef); }
  std::optional<formats::Data> persistentRef() const {
    return bytes(platform::sec::kSecValuePersistentRef);
  }
  std::optional<std::string> accessible() const { return text(platform::sec::kSecAttrAccessible); }
  std::shared_ptr<const platform::AccessControl> accessControl() const;
  std::optional<std::string> accessGroup() const {
    return text(platform::sec::kSecAttrAccessGroup);
  }
  std::optional<bool> synchronizable() const { return flag(platform::sec::kSecAttrSynchronizable); }
  std::optional<formats::Date> creationDate() const {
    return date(platform::sec::kSecAttrCreationDate);
  }
  std::optional<formats::Date> modificationDate() const {
    return date(platform::sec::kSecAttrModificationDate);
  }
  std::optional<std::string> attributeDescription() const {
    return text(platform::sec::kSecAttrDescription);
  }
  std::optional<std::string> comment() const { return text(platform::sec::kSecAttrComment); }
  std::optional<std::string> creator() const { return text(platform::sec::kSecAttrCreator); }
  std::optional<std::string> type() const { return text(platform::sec::kSecAttrType); }
  std::optional<std::string> label() const { return text(platform::sec::kSecAttrLabel); }
  std::optional<bool> isInvisible() const { return flag(platform::sec::kSecAttrIsInvisible); }
  std::optional<bool> isNegative() const { return flag(platform::sec::kSecAttrIsNegative); }
  std::optional<std::string> account() const { return text(platform::sec::kSecAttrAccount); }
  std::optional<std::string> service() const { return text(platform::sec::kSecAttrService); }
  std::optional<formats::Data> generic() const { return bytes(platform::sec::kSecAttrGeneric); }
  std::optional<std::string> securityDomain() const {
    return text(platform::sec::kSecAttrSecurityDomain);
  }
  std::optional<std::string> server() const { return text(platform::sec::kSecAttrServer); }
  std::optional<std::string> protocol() const { return text(platform::sec::kSecAttrProtocol); }
  std::optional<std::string> authenticationType() const {
    return text(platform::sec::kSecAttrAuthenticationType);
  }
  std::optional<std::int64_t> port() const {
    return typed<std::int64_t>(platform::sec::kSecAttrPort);
  }
  std::optional<std::string> path() const { return text(platform::sec::kSecAttrPath); }

  std::optional<formats::Value> operator[](std::string_view key) const;
  const formats::Dictionary& dictionary() const { return attributes_; }

  // Both the textual form of the dictionary, as the keychain's own descriptions print one.
  std::string description() const;
  std::string debugDescription() const { return description(); }

 private:
  template <typename T>
  std::optional<T> typed(std::string_view key) const {
    auto it = attributes_.find(key);
    if (it == attributes_.end()) return std::nullopt;
    const T* held = it->second.get<T>();
    return held ? std::optional<T>(*held) : std::nullopt;
  }
  std::optional<std::string> text(std::string_view key) const { return typed<std::string>(key); }
  std::optional<formats::Data> bytes(std::string_view key) const {
    return typed<formats::Data>(key);
  }
  std::optional<bool> flag(std::string_view key) const { return typed<bool>(key); }
  std::optional<formats::Date> date(std::string_view key) const {
    return typed<formats::Date>(key);
  }

  formats::Dictionary attributes_;
};

}  // namespace quorin::keychain
