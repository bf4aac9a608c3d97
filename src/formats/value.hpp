#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace quorin::formats {

class Value;

using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value, std::less<>>;
using Data = std::vector<std::uint8_t>;

struct Null {
  friend bool operator==(Null, Null) = default;
};

// An instant, in seconds since 1970.
struct Date {
  double secondsSince1970 = 0;
  friend bool operator==(Date, Date) = default;
};

// Platform objects that only the platform itself looks into (an access-control object, an
// authentication context, ...). Compared by identity.
class Object {
 public:
  virtual ~Object() = default;
};
using ObjectRef = std::shared_ptr<const Object>;

// The property-list / JSON object model shared by every platform service.
class Value {
 public:
  // An integer is std::int64_t unless it is past 2^63-1, as only unsigned ones can be.
  using Storage = std::variant<Null, bool, std::int64_t, std::uint64_t, double, std::string, Data,
                               Date, Array, Dictionary, ObjectRef>;

  Value() = default;
  Value(Null) {}
  Value(bool b) : storage_(b) {}
  Value(int i) : storage_(std::int64_t{i}) {}
  Value(std::int64_t i) : storage_(i) {}
  Value(std::uint64_t u) {
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      storage_ = u;
    } else {
      storage_ = static_cast<std::int64_t>(u);
    }
  }
  Value(double d) : storage_(d) {}
  Value(const char* s) : storage_(std::string(s)) {}
  Value(std::string s) : storage_(std::move(s)) {}
  Value(Data d) : storage_(std::move(d)) {}
  Value(Date d) : storage_(d) {}
  Value(Array a) : storage_(std::move(a)) {}
  Value(Dictionary d) : storage_(std::move(d)) {}
  Value(ObjectRef o) : storage_(std::move(o)) {}

  template <typename T>
  bool is() const {
    return std::holds_alternative<T>(storage_);
  }
  // The alternative, or nullptr when the value holds another one.
  template <typename T>
  const T* get() const {
    return std::get_if<T>(&storage_);
  }
  template <typename T>
  T* get() {
    return std::get_if<T>(&storage_);
  }

  bool isNull() const { return is<Null>(); }

  // The member of a dictionary value, or nullptr (also when this is no dictionary).
  const Value* find(std::string_view key) const;

  const Storage& storage() const { return storage_; }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  Storage storage_;
};

inline const Value* Value::find(std::string_view key) const {
  const auto* dictionary = get<Dictionary>();
  if (dictionary == nullptr) return nullptr;
  auto it = dictionary->find(key);
  return it == dictionary->end() ? nullptr : &it->second;
}

}  // namespace quorin::formats
