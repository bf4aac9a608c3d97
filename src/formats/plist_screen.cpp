#include "formats/plist_screen.hpp"

#include "formats/binary_plist_screen.hpp"
#include "formats/xml_plist_screen.hpp"

namespace quorin::formats {

// libplist reads only the "00" version of the binary format; other versions are refused
// here rather than left for it to guess at.
bool plistIsSafeToParse(std::string_view bytes) {
  if (bytes.starts_with("bplist"))
    return bytes.starts_with("bplist00") && binaryPlistIsSafeToParse(bytes);
  return xmlPlistIsSafeToParse(bytes);
}

}  // namespace quorin::formats
