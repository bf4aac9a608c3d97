#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/url.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto url = quorin::formats::Url::fromString(text);
  if (url && (url->text != text || url->scheme.size() >= text.size() + 1)) std::abort();
  return 0;
}
