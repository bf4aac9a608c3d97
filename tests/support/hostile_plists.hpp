#pragma once

#include <cstddef>
#include <string>

namespace quorin::testing {

// Property lists that would take a recursive reader down, as a hostile co-device or a
// damaged disk hands them over.

// Arrays nested `depth` deep, the innermost holding `true`.
std::string deepXmlPlist(int depth);
std::string deepBinaryPlist(int depth);

// `levels` arrays, each holding the next one twice: 2^levels objects in a few hundred bytes.
std::string sharedReferenceBomb(int levels);

// An array that holds itself.
std::string cyclicBinaryPlist();

// One array holding the same `size`-byte data object `count` times.
std::string repeatedDataPlist(std::size_t size, std::size_t count);

}  // namespace quorin::testing
