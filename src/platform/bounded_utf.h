// UTF-8 <-> UTF-16 conversion into fixed buffers.
//
// The trace and debug paths must not touch the heap (a progress line or a
// debug line costs no allocation), so their conversions write into buffers
// on the caller's stack and report when the text does not fit.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace qv {

inline constexpr std::size_t kConvertFailed = static_cast<std::size_t>(-1);

// Converts UTF-8 to UTF-16 and terminates the result. Returns the length
// without the terminator, or kConvertFailed when the input is not valid
// UTF-8 or the result and its terminator do not fit.
std::size_t Utf8ToUtf16(std::string_view in, std::span<char16_t> out) noexcept;

// Converts UTF-16 to UTF-8 and terminates the result; unpaired surrogates
// become U+FFFD. Returns the length without the terminator, or
// kConvertFailed when the result and its terminator do not fit.
std::size_t Utf16ToUtf8(std::u16string_view in, std::span<char> out) noexcept;

// As Utf16ToUtf8, but converts the longest run of whole characters from the
// start that fits with the terminator. Returns its length (0 for an empty
// buffer, which is left alone).
std::size_t Utf16ToUtf8Prefix(std::u16string_view in, std::span<char> out) noexcept;

}  // namespace qv
