// Writing a whole file at a path a caller gives in UTF-16.
//
// The path is converted to the file system's encoding (UTF-8); a path that
// has no such form (an unpaired surrogate, no terminator within its room)
// names no file.
#pragma once

#include <cstddef>

namespace qv::file {

// Creates the file, or truncates it when it exists, and writes exactly
// `size` bytes of `data`. `path` holds at most `units` UTF-16 units, its
// terminator included. False when the path names no file, the file cannot
// be created, or fewer bytes were written; a file already created stays.
bool WriteWhole(const char16_t* path, std::size_t units, const void* data,
                std::size_t size) noexcept;

}  // namespace qv::file
