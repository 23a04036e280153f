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

// The claim of one daemon on a state file: a write lock on "FILE.lock"
// beside it, which holds this process's pid. The state file itself cannot
// carry the lock, since every save replaces it by another file. The lock
// goes when the process does, however it ends; the lock file is removed
// when the claim is given up in order.
class StateFileLock {
  public:
    // Throws std::runtime_error, naming the pid of the daemon that holds the
    // lock, and std::system_error when the lock file cannot be created.
    explicit StateFileLock(const std::filesystem::path& state_file);
    ~StateFileLock();
    StateFileLock(const StateFileLock&) = delete;
    StateFileLock& operator=(const StateFileLock&) = delete;

  private:
    std::filesystem::path path_;
    int fd_ = -1;
};

}  // namespace qvsim
