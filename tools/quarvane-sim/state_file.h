// Files that must never be seen half written.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qvsim {

// Replaces `file` with `content` atomically: the content goes to a temporary
// file in the same directory, is flushed to the disk, and is renamed over
// `file`. A reader sees the old file or the new one, never a mix, also
// after a crash. Throws std::system_error.
void WriteFileAtomically(const std::filesystem::path& file, std::string_view content);

// The whole file, or nothing when it does not exist. Throws
// std::system_error when it exists but cannot be read.
std::optional<std::string> ReadFileIfExists(const std::filesystem::path& file);

}  // namespace qvsim
