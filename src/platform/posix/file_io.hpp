#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorin::platform::posix {

// The whole file, or none when it cannot be read or is larger than `maxBytes`.
std::optional<std::string> readFile(const std::filesystem::path& path,
                                    std::size_t maxBytes = std::size_t{1} << 30);

enum class WriteMode { replace, createOnly };

// Writes through a temporary file in the same directory that is flushed and then renamed
// over `path` (or linked, for createOnly), so readers see the old file or the whole new one.
// Returns false when nothing was written, also when createOnly finds the file already there.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                         WriteMode writeMode = WriteMode::replace);

// Creates the directory and its missing parents with `mode`; true when it exists afterwards.
bool makeDirectories(const std::filesystem::path& path, mode_t mode);

}  // namespace quorin::platform::posix
