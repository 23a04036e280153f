// The Quarvane service's installation directory.
//
// The service records its directory as the key `Path` in section
// [Parameters] of its parameters file: the file named by the environment
// variable QUARVANE_PARAMETERS, else /etc/quarvane/parameters.ini. The file
// is read on every call, nothing is cached, so a service moved or
// reinstalled while a program runs is followed at once.
#pragma once

#include <cstddef>
#include <span>

namespace qv {

// Name buffers for the directory and the files in it hold this many
// characters, the terminator included.
inline constexpr std::size_t kServicePathCapacity = 256;

// The parameters file is read with inih, whose line buffer takes lines of
// up to 199 characters (a directory of up to 194 bytes after "Path="): a
// Path line longer than that is refused, never cut into another directory.
//
// Writes the directory, zero-terminated and without one trailing '/', into
// `buffer`. Returns false, with the buffer in no particular state, when
// the file cannot be read, has no Path key, the value is not UTF-8 or does
// not fit the buffer together with its terminator.
bool GetServicePath(std::span<char16_t> buffer) noexcept;

}  // namespace qv
