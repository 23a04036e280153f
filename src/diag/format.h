// printf-style formatting into UTF-16 buffers.
//
// Every diagnostic line of the library is built here: the trace entries,
// the debug lines and the message fallbacks. The conversions are those of
// the wide printf family with `%s` taking a zero-terminated UTF-16 string:
//
//   %s %c %d %i %u %x %X %%   flags - 0 + blank #   width and precision
//   (digits or *)   length modifiers h, l, ll
//
// A null `%s` argument prints "(null)". A directive that is not understood
// is copied to the output as it stands and takes no argument.
//
// Like vsnprintf, the functions write at most capacity - 1 characters and
// always terminate the buffer (when it has room for anything at all); they
// return the length the whole text needs, without the terminator. A text
// fits when that length + 1 <= capacity.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <span>

namespace qv {

std::size_t FormatV(std::span<char16_t> out, const char16_t* format, va_list args) noexcept;
std::size_t Format(std::span<char16_t> out, const char16_t* format, ...) noexcept;

}  // namespace qv
