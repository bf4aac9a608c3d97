#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quorin::testing {

// Why a test that leaves the process short of descriptors cannot run here, or none: the
// sanitizer checks memory through a pipe, and the lowered limit holds for every thread.
std::optional<std::string> whyNoDescriptorShortage();

// Calls `starved` with only `spare` descriptors left to open, then gives the others back;
// false, without calling it, when the process held too many to be starved. The limit is the
// whole process's: for a death test's child only.
bool withDescriptorsLeft(int spare, const std::function<void()>& starved);

}  // namespace quorin::testing
