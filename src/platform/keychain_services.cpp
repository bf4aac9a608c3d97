#include "platform/keychain_services.hpp"

#include <memory>

namespace quorin::platform {

const formats::ObjectRef& kSecAttrSynchronizableAny() {
  static const formats::ObjectRef constant = std::make_shared<Constant>("syna");
  return constant;
}
const formats::ObjectRef& kSecMatchLimitOne() {
  static const formats::ObjectRef constant = std::make_shared<Constant>("m_LimitOne");
  return constant;
}
const formats::ObjectRef& kSecMatchLimitAll() {
  static const formats::ObjectRef constant = std::make_shared<Constant>("m_LimitAll");
  return constant;
}

}  // namespace quorin::platform
