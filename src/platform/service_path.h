// The Quarvane service's installation directory.
//
// The service records its directory as the key `Path` in section
// [Parameters] of its parameters file: the file named by the environment
// variable QUARVANE_PARAMETERS, else /etc/quarvane/parameters.ini. The file
// is read on every call, nothing is cached, so a service moved or
// reinstalled while a program runs is followed at once.
//
// The file is read by a strict reader of our own, so that every directory
// the buffer can hold is read whole, whatever characters its name has. Its
// grammar, line by line (a line ends at LF; CR LF works as well):
//
//   blank      [ \t\r]*                            ignored
//   comment    blanks, ';' or '#', anything        ignored
//   section    blanks, '[' name ']', blanks        starts a section
//   key        blanks, key, '=', value             a key of the section
//
// Blanks (space, tab, CR) around a section name, around a key, after the
// '=' and at the end of the line are not part of them; everything else is:
// a value ends only with its line, so ';', '#', '=' and blanks inside it
// are kept (there are no comments after a value). Section and key names
// compare without regard to case. The file may begin with a UTF-8
// byte-order mark; lines may be of any length. Keys before the first
// section belong to none. When [Parameters] holds more than one Path, in
// one section or in several, the last one wins. A line of none of these
// forms (a '[' without its ']', text after the ']', a key without '=', an
// empty key) or a zero byte makes the whole file unusable, rather than let
// a damaged file point the trace somewhere else. A directory whose name
// begins or ends with a blank or holds a line end cannot be expressed.
#pragma once

#include <cstddef>
#include <span>

namespace qv {

// Name buffers for the directory and the files in it hold this many
// characters, the terminator included.
inline constexpr std::size_t kServicePathCapacity = 256;

// Writes the directory, zero-terminated and without one trailing '/', into
// `buffer`. Returns false, with the buffer in no particular state, when
// the file cannot be read or breaks the grammar above, has no Path key in
// [Parameters], or the value is not UTF-8 or does not fit the buffer
// together with its terminator. Takes nothing from the heap.
bool GetServicePath(std::span<char16_t> buffer) noexcept;

}  // namespace qv
