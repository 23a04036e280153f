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

// How many times the reply's size on the wire the converted list may take.
// Every partition entry copies its disk's nine texts, so a disk's share of
// the list grows with partitions times text length while its share of the
// reply grows with their sum. A disk of P partitions with long texts
// converts into about 0.5 (P + 1) times its wire size (a code unit takes four
// bytes on the wire and two when copied), so no disk of up to 199
// partitions can reach the limit, and a list is never more than its worst
// disk. Real inventories stay far below: a disk of 128 partitions whose
// every text is 512 characters takes about 51 times its reply, one of 256
// partitions with six 300-character texts about 54.
// What a hostile reply can make the library hold is then this multiple of
// its size, the decoded reply (at most 2.2 times its wire size, reached by
// disk records without texts) and the trace line's fixed buffer: under 103
// times the reply plus a fixed allowance, inside the 128 times plus 512 KiB
// that the fuzzers' growth check allows even with the reply's own bytes.
inline constexpr std::size_t kMaxGrowth = 100;

// True when the list `shape` makes from `disks` takes at most kMaxGrowth
// times what `received` (every record of the reply) took on the wire.
bool FitsGrowth(std::span<const RpcDiskRecord> disks, std::span<const RpcDiskRecord> received,
                DiskListShape shape, uint32_t partition = 0) noexcept;

// Fills `entries` (zeroed by the caller) in list order, stopping when the
// block is full; entries it does not reach stay zero. False when a string
// cannot be allocated: what was filled so far is still in `entries`, to be
// given back with ReleaseDiskEntries.
bool ConvertDisks(std::span<const RpcDiskRecord> disks, DiskListShape shape, uint32_t partition,
                  std::span<QV_DISK_INFO> entries) noexcept;

// Gives back the twelve strings of an entry and clears their pointers.
void ReleaseDiskEntry(QV_DISK_INFO& entry) noexcept;
void ReleaseDiskEntries(std::span<QV_DISK_INFO> entries) noexcept;

}  // namespace qv::disks
