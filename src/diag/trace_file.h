// The trace file: `<service directory>/log/qvapi.log`, UTF-16LE text, one
// time-stamped line per entry, rotated into qvapi1.log .. qvapi10.log (the
// higher the number the newer) when it grows beyond 2 MiB.
//
// The writer keeps nothing between entries: every entry reads the service
// directory afresh, opens, appends and closes. Nothing is locked; entries
// of concurrent writers may interleave. No failure is ever reported: an
// entry that cannot be written is simply not written.
#pragma once

#include <cstdint>

namespace qv {

// A file longer than this many bytes is rotated before the next entry; a
// file of exactly this size is not.
inline constexpr std::uint32_t kTraceFileLimit = 2097152;

// Writes `text` as one entry when `level` passes the level filter: levels 1
// and 2 always, any other level only when all its bits are set in the
// process-wide trace mask, which is 0. So 0, 1 and 2 are written.
void WriteTraceEntry(std::uint32_t level, const char16_t* text) noexcept;

// The pieces of WriteTraceEntry, on file names and the directory in the
// file system's encoding.

// Opens `name` for reading and writing, creating it when missing. Returns
// the descriptor or -1.
int OpenTraceFile(const char* name) noexcept;

// Rotates the trace files in `<directory>/log` and returns an open
// descriptor to the (new or unchanged) current file, or -1.
int RotateTraceFiles(const char* directory) noexcept;

}  // namespace qv
