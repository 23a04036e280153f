// The disk records of the service turned into caller-owned QV_DISK_INFO
// entries.
//
// One disk record gives a disk entry (partition number 0) and one partition
// entry per partition record. Which entries a list holds is the list's
// shape; CountDiskEntries and ConvertDisks walk the records by the same
// rules, so a caller sizes its block once and the fill never outgrows it.
//
// Everything here trusts nothing it was given: partition, property and
// descriptor arrays are read only up to their decoded lengths, texts only up
// to their received units, and ConvertDisks never writes past its block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "quarvane.h"
#include "qvcliapi.h"

namespace qv::disks {

// Partition type of a dynamic-disk partition; a disk holding one is listed
// without its partitions.
inline constexpr uint8_t kDynamicPartitionType = 0x42;

enum class DiskListShape {
    kNone,          // no entries
    kDisks,         // one disk entry per disk
    kEvery,         // every disk, each followed by its listed partitions
    kFiltered,      // as kEvery, leaving out what the service excludes
    kPartitions,    // listed partitions only
    kOneDisk,       // the first disk
    kOnePartition,  // the partition of the first disk with the wanted number,
                    // or one all-zero entry when it has none
};

std::span<const RpcDiskRecord> DiskRecords(const RpcDiskList& list) noexcept;
std::span<const RpcPartitionRecord> PartitionRecords(const RpcDiskRecord& disk) noexcept;

// A disk's partitions are listed unless one of them is a dynamic-disk
// partition.
bool PartitionsListed(const RpcDiskRecord& disk) noexcept;

// Number of entries `shape` makes from `disks`; `partition` is the number
// kOnePartition looks for.
std::size_t CountDiskEntries(std::span<const RpcDiskRecord> disks, DiskListShape shape,
                             uint32_t partition = 0) noexcept;

// Bytes the list that `shape` makes from `disks` would hold at most: the
// entry block and every string at its received length (composed names at
// their room). Every partition entry carries copies of its disk's texts, so
// this can outgrow the reply by far; the caller weighs it against
// WireBytes before anything is allocated. Saturates instead of wrapping.
std::size_t ConvertedBytes(std::span<const RpcDiskRecord> disks, DiskListShape shape,
                           uint32_t partition = 0) noexcept;

// Bytes the records took on the wire: four for every number, count and
// code unit (XDR widens each to a 32-bit word), eight for a hyper.
std::size_t WireBytes(std::span<const RpcDiskRecord> disks) noexcept;

// Fills `entries` (zeroed by the caller) in list order, stopping when the
// block is full; entries it does not reach stay zero. False when a string
// cannot be allocated: what was filled so far is still in `entries`, to be
// given back with ReleaseDiskEntries.
bool ConvertDisks(std::span<const RpcDiskRecord> disks, DiskListShape shape, uint32_t partition,
                  std::span<QV_DISK_INFO> entries) noexcept;

// One entry from one record; false when a string cannot be allocated (the
// entry then holds what was filled, for ReleaseDiskEntry).
bool FillDiskEntry(const RpcDiskRecord& disk, QV_DISK_INFO& entry) noexcept;
bool FillPartitionEntry(const RpcDiskRecord& disk, const RpcPartitionRecord& partition,
                        QV_DISK_INFO& entry) noexcept;

// Gives back the twelve strings of an entry and clears their pointers.
void ReleaseDiskEntry(QV_DISK_INFO& entry) noexcept;
void ReleaseDiskEntries(std::span<QV_DISK_INFO> entries) noexcept;

}  // namespace qv::disks
