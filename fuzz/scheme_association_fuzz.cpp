#include <cstdint>
#include <string_view>

#include "platform/posix/device/scheme_handlers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quorin::platform::posix::AssociationFile;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (auto kind :
       {AssociationFile::mimeApps, AssociationFile::mimeInfoCache, AssociationFile::desktopEntry})
    quorin::platform::posix::fileAssociates(text, kind, "x-scheme-handler/fb");
  return 0;
}
