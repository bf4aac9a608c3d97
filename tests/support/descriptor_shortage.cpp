#include "support/descriptor_shortage.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <iterator>
#include <vector>

namespace quorin::testing {

std::optional<std::string> whyNoDescriptorShortage() {
#if defined(__SANITIZE_ADDRESS__)
  return "the sanitizer checks memory through a pipe, which no descriptor is left for";
#endif
  if (std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}) != 1)
    return "needs a process of its own, without threads, as ctest runs it";
  return std::nullopt;
}

// A low limit, so that taking every descriptor is quick.
bool withDescriptorsLeft(int spare, const std::function<void()>& starved) {
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  auto lowered = limit;
  lowered.rlim_cur = 64;
  ::setrlimit(RLIMIT_NOFILE, &lowered);
  std::vector<int> taken;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
  bool starving = taken.size() > static_cast<std::size_t>(spare);
  for (; spare > 0 && !taken.empty(); --spare) {
    ::close(taken.back());
    taken.pop_back();
  }
  if (starving) starved();
  for (int fd : taken) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &limit);
  return starving;
}

}  // namespace quorin::testing
