// The debug output stream: lines meant for a developer watching the
// machine, not for the trace file.
//
// Lines go to the system log at debug priority under the ident "qvcliapi".
// A library must leave its host's syslog settings alone (no openlog), so
// each line is sent as one datagram to the local syslog socket in the
// ordinary "<priority>timestamp ident: message" form; every failure on the
// way is ignored. A test build (QV_TEST_HOOKS) can divert the lines to a
// sink of its own.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "platform/local_time.h"

namespace qv::debug_output {

// Sends one line as it stands (line ends included).
void Write(std::u16string_view line) noexcept;

#ifdef QV_TEST_HOOKS
using Sink = void (*)(std::u16string_view line, void* context);

// Sends every line to `sink` instead of the system log; null restores the
// system log.
void SetSinkForTesting(Sink sink, void* context) noexcept;
#endif

// The pieces of Write, open to tests.

// Builds the datagram for `line` stamped with `when` into `out`, cutting the
// text when it does not fit. Returns the datagram's size in bytes.
std::size_t BuildDatagram(std::u16string_view line, const LocalTime& when,
                          std::span<char> out) noexcept;

// Sends `line` as one datagram to the socket at `socket_path`.
void SendDatagram(const char* socket_path, std::u16string_view line) noexcept;

}  // namespace qv::debug_output
