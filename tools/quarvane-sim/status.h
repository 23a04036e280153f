// The service status words that quarvane-sim answers with.
//
// These are the service's own words, passed through the library unchanged;
// the client turns each into its message text. The daemon never invents a
// word of its own: every refusal below is one a real service gives.
#pragma once

#include <cstdint>
#include <string>

namespace qvsim::status {

// Name and word of each; the name is what --verbose shows beside the word.
#define QVSIM_STATUS_WORDS(X)                                               \
    X(Ok, 0)                                                                \
    /* Local failures of the service itself. */                             \
    X(Fatal, 0xEFFC0000u)     /* "A fatal error occurred." */               \
    X(NoMemory, 0xEFFC0001u)  /* running low on resources */                \
    X(DiskError, 0xEFFC0031u) /* "A disk error occurred." */                \
    /* Disks and partitions. */                                             \
    X(DiskNotFound, 0x6FFC0010u)                                            \
    X(PartitionNotFound, 0x6FFC0011u)                                       \
    X(SystemDiskAsMirror, 0x6FFC0016u)                                      \
    X(MirrorTooSmall, 0x6FFC0017u)                                          \
    X(MirrorHasPartitions, 0x6FFC0018u)                                     \
    X(DiskNotSupported, 0x6FFC0019u)                                        \
    X(DiskOffline, 0x6FFC0070u)                                             \
    /* Protections and their states. */                                     \
    X(ProtectionNotFound, 0x6FFC0040u)                                      \
    X(ProtectionExists, 0x6FFC0041u)                                        \
    X(WrongState, 0x6FFC0042u)                                              \
    X(ProtectionStopped, 0x6FFC0043u)                                       \
    /* Long operations. */                                                  \
    X(OtherOperationRunning, 0x6FFC0060u)                                   \
    X(AlreadyInProgress, 0x6FFC0061u)                                       \
    X(Cancelled, 0x6FFC0065u)                                               \
    X(NoTaskRunning, 0x6FFC0067u)                                           \
    X(AlreadyStopped, 0x6FFC0069u)                                          \
    /* The cluster. */                                                      \
    X(ClusterNotConfigured, 0x6FFC0701u)                                    \
    X(ClusterGroupNotFound, 0x6FFC0704u)                                    \
    X(ConfigDiskNotFound, 0x6FFC0705u)                                      \
    X(PartnerNotNotifiedConfigure, 0x6FFC0720u)                             \
    X(PartnerNotNotifiedRemove, 0x6FFC0721u)                                \
    X(PartnerNotRunning, 0x6FFC0751u)                                       \
    /* Sessions and requests. A request whose login token the service never \
       issued (or has since logged out) is answered as a client without a   \
       connection to the service. */                                        \
    X(NotConnected, 0x6FFC0200u)                                            \
    X(InvalidParameter, 0x6FFC0300u)                                        \
    /* Snapshots and their views. */                                        \
    X(SnapshotNotFound, 0x6FFC0400u)                                        \
    X(DismountFirst, 0x6FFC0401u)                                           \
    X(StorageLimit, 0x6FFC0503u) /* no room on the disk */                  \
    X(ResourceInUse, 0x6FFC0506u)                                           \
    X(SnapshotNotMounted, 0x6FFC0507u)                                      \
    X(SnapshotsMounted, 0x6FFC0509u)

#define QVSIM_STATUS_CONSTANT(name, word) inline constexpr uint32_t k##name = word;
QVSIM_STATUS_WORDS(QVSIM_STATUS_CONSTANT)
#undef QVSIM_STATUS_CONSTANT

// "6FFC0040 ProtectionNotFound "Unable to find the specified protected disk."":
// the word in hexadecimal, its name and the message a client shows for it,
// as far as each is known.
std::string Describe(uint32_t word);

}  // namespace qvsim::status
