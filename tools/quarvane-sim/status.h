// The service status words that quarvane-sim answers with.
//
// These are the service's own words, passed through the library unchanged;
// the client turns each into its message text. The daemon never invents a
// word of its own: every refusal below is one a real service gives.
#pragma once

#include <cstdint>

namespace qvsim::status {

inline constexpr uint32_t kOk = 0;

// Local failures of the service itself.
inline constexpr uint32_t kFatal = 0xEFFC0000u;      // "A fatal error occurred."
inline constexpr uint32_t kNoMemory = 0xEFFC0001u;   // running low on resources
inline constexpr uint32_t kDiskError = 0xEFFC0031u;  // "A disk error occurred."

// Disks and partitions.
inline constexpr uint32_t kDiskNotFound = 0x6FFC0010u;
inline constexpr uint32_t kPartitionNotFound = 0x6FFC0011u;
inline constexpr uint32_t kSystemDiskAsMirror = 0x6FFC0016u;
inline constexpr uint32_t kMirrorTooSmall = 0x6FFC0017u;
inline constexpr uint32_t kMirrorHasPartitions = 0x6FFC0018u;
inline constexpr uint32_t kDiskNotSupported = 0x6FFC0019u;
inline constexpr uint32_t kDiskOffline = 0x6FFC0070u;

// Protections and their states.
inline constexpr uint32_t kProtectionNotFound = 0x6FFC0040u;
inline constexpr uint32_t kProtectionExists = 0x6FFC0041u;
inline constexpr uint32_t kWrongState = 0x6FFC0042u;
inline constexpr uint32_t kProtectionStopped = 0x6FFC0043u;

// Long operations.
inline constexpr uint32_t kOtherOperationRunning = 0x6FFC0060u;
inline constexpr uint32_t kAlreadyInProgress = 0x6FFC0061u;
inline constexpr uint32_t kCancelled = 0x6FFC0065u;
inline constexpr uint32_t kNoTaskRunning = 0x6FFC0067u;
inline constexpr uint32_t kAlreadyStopped = 0x6FFC0069u;

// Sessions and requests. A request whose login token the service never
// issued (or has since logged out) is answered as a client without a
// connection to the service.
inline constexpr uint32_t kNotConnected = 0x6FFC0200u;
inline constexpr uint32_t kInvalidParameter = 0x6FFC0300u;

}  // namespace qvsim::status
