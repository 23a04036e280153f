// The library's diagnostic entry points.
//
//   LogMessage   error lines (the library's failures use kLogError); grows
//                its buffer for long texts, up to 2097151 characters
//   LogProgress  informational lines, always kLogError; at most 4095
//                characters, a longer line is dropped
//   DebugPrint   one line to the debug output, prefixed "qvcliapi, "; the
//                fallback when a line does not fit its buffer
//
// Formats are printf-like over UTF-16 (see diag/format.h); `%s` takes a
// UTF-16 string and status codes are printed with %08X. The entry points
// keep no state, take no lock and never report a failure to the caller.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace qv {

// The levels the library writes at. The trace file takes every error and
// progress line (kLogError); a kLogDetail line passes only a trace mask that
// asks for it, and nothing in the library sets one.
inline constexpr std::uint32_t kLogError = 2;
inline constexpr std::uint32_t kLogDetail = 3;

void LogMessage(std::uint32_t level, const char16_t* format, ...) noexcept;
void LogMessageV(std::uint32_t level, const char16_t* format, va_list args) noexcept;

void LogProgress(const char16_t* format, ...) noexcept;
void LogProgressV(const char16_t* format, va_list args) noexcept;

void DebugPrint(const char16_t* format, ...) noexcept;
void DebugPrintV(const char16_t* format, va_list args) noexcept;

}  // namespace qv
