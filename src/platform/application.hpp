#pragma once

#include <string_view>

#include "formats/url.hpp"

namespace quorin::platform {

inline constexpr std::string_view kWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr std::string_view kDidEnterBackgroundNotification =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr std::string_view kDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";
inline constexpr std::string_view kWillResignActiveNotification =
    "UIApplicationWillResignActiveNotification";

// The shared application. It is itself the object of its lifecycle notifications, which the
// platform posts on the main thread. Safe to use from any thread.
class Application {
 public:
  virtual ~Application() = default;
  // Whether some installed application can open `url`.
  virtual bool canOpenURL(const formats::Url& url) const = 0;
};

}  // namespace quorin::platform
