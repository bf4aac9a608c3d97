#include "support/in_memory_keychain.hpp"

#include <algorithm>
#include <utility>

#include "platform/common/access_control.hpp"

namespace quorin::testing {

using platform::OSStatus;

std::vector<MemoryItem*> InMemoryKeychain::matching(const MemoryQuery& query) {
  std::vector<MemoryItem*> found;
  for (auto& item : items_) {
    if (selects(query, item)) found.push_back(&item);
  }
  return found;
}

OSStatus InMemoryKeychain::secItemCopyMatching(const formats::Dictionary& query,
                                               std::optional<formats::Value>* result) {
  std::lock_guard lock(mutex_);
  auto parsed = readQuery(query);
  if (!parsed) return platform::errSecParam;
  auto found = matching(*parsed);
  if (found.empty()) return platform::errSecItemNotFound;
  if (!parsed->all) found.resize(1);
  if (parsed->forbidsAuthenticationUI && std::any_of(found.begin(), found.end(), [](auto* item) {
        return needsAuthentication(*item);
      }))
    return platform::errSecInteractionNotAllowed;
  if (result && parsed->wantsAnything()) {
    std::vector<MemoryItem> copies;
    for (auto* item : found) copies.push_back(*item);
    *result = answer(*parsed, copies);
  }
  return platform::errSecSuccess;
}

OSStatus InMemoryKeychain::secItemAdd(const formats::Dictionary& attributes) {
  std::function<void()> intrusion;
  {
    std::lock_guard lock(mutex_);
    intrusion = std::exchange(beforeNextAdd_, nullptr);
  }
  if (intrusion) intrusion();
  std::lock_guard lock(mutex_);
  if (auto failure = std::exchange(nextAddFailure_, std::nullopt)) return *failure;
  return add(attributes);
}

OSStatus InMemoryKeychain::add(const formats::Dictionary& attributes) {
  auto item = itemFromAdd(attributes, clock_++);
  if (!item) return platform::errSecParam;
  for (const auto& existing : items_) {
    if (sameIdentity(existing, *item)) return platform::errSecDuplicateItem;
  }
  item->id = nextId_++;
  items_.push_back(std::move(*item));
  return platform::errSecSuccess;
}

OSStatus InMemoryKeychain::secItemUpdate(const formats::Dictionary& query,
                                         const formats::Dictionary& attributes) {
  std::lock_guard lock(mutex_);
  auto parsed = readQuery(query);
  if (!parsed) return platform::errSecParam;
  auto found = matching(*parsed);  // an update changes every match, whatever the limit
  if (found.empty()) return platform::errSecItemNotFound;
  std::vector<MemoryItem> updated;
  for (auto* item : found) {
    MemoryItem copy = *item;
    if (!applyChanges(attributes, clock_, copy)) return platform::errSecParam;
    updated.push_back(std::move(copy));
  }
  for (const auto& candidate : updated) {
    for (const auto& other : items_) {
      if (other.id != candidate.id && sameIdentity(other, candidate))
        return platform::errSecDuplicateItem;
    }
  }
  ++clock_;
  for (std::size_t i = 0; i < found.size(); ++i) *found[i] = std::move(updated[i]);
  return platform::errSecSuccess;
}

OSStatus InMemoryKeychain::secItemDelete(const formats::Dictionary& query) {
  std::lock_guard lock(mutex_);
  auto parsed = readQuery(query);
  if (!parsed) return platform::errSecParam;
  auto removed =
      std::erase_if(items_, [&](const MemoryItem& item) { return selects(*parsed, item); });
  return removed == 0 ? platform::errSecItemNotFound : platform::errSecSuccess;
}

std::shared_ptr<const platform::AccessControl> InMemoryKeychain::secAccessControlCreateWithFlags(
    std::string_view protection, std::uint64_t flags, std::optional<platform::Error>* error) {
  return platform::common::makeAccessControl(protection, flags, error);
}

InMemoryKeychain::~InMemoryKeychain() {
  waitForCompletions();
}

void InMemoryKeychain::waitForCompletions() {
  std::vector<std::thread> running;
  {
    std::lock_guard lock(mutex_);
    running.swap(completions_);
  }
  for (auto& thread : running) thread.join();
}

void InMemoryKeychain::secRequestSharedWebCredential(
    const std::optional<std::string>& domain, const std::optional<std::string>& account,
    platform::SharedCredentialsCompletion completion) {
  std::lock_guard lock(mutex_);
  CredentialAnswer answer;
  if (nextCredentialAnswer) {
    answer = *std::exchange(nextCredentialAnswer, std::nullopt);
  } else {
    formats::Array found;
    for (const auto& [where, password] : credentials_) {
      if ((domain && where.first != *domain) || (account && where.second != *account)) continue;
      found.emplace_back(
          formats::Dictionary{{std::string(platform::sec::kSecAttrServer), where.first},
                              {std::string(platform::sec::kSecAttrAccount), where.second},
                              {std::string(platform::sec::kSecSharedPassword), password}});
    }
    if (found.empty())
      answer.error = platform::Error{"NSOSStatusErrorDomain", platform::errSecItemNotFound, {}};
    else
      answer.credentials = std::move(found);
  }
  completions_.emplace_back([answer = std::move(answer), completion = std::move(completion)] {
    completion(answer.credentials, answer.error);
  });
}

void InMemoryKeychain::secAddSharedWebCredential(const std::string& domain,
                                                 const std::string& account,
                                                 const std::optional<std::string>& password,
                                                 platform::SharedCredentialCompletion completion) {
  std::lock_guard lock(mutex_);
  credentialWrites.push_back({domain, account, password});
  auto error = std::exchange(nextCredentialWriteError, std::nullopt);
  if (!error && password) credentials_[{domain, account}] = *password;
  if (!error && !password) credentials_.erase({domain, account});
  completions_.emplace_back(
      [error = std::move(error), completion = std::move(completion)] { completion(error); });
}

std::size_t InMemoryKeychain::size() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

}  // namespace quorin::testing
