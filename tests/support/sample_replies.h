// Valid, rich replies of the service, encoded as the result records that
// follow the reply header.
//
// Every procedure the library calls has a sample that its conversion
// accepts (status 0) and that takes it through as much of its work as one
// record can: several array elements, texts with and without units, values
// that the conversions reduce, a dynamic disk, statistics that carry a
// progress. The fuzzers start from them, the benchmarks feed them, the
// allocation sweep walks the conversions with them, and a test keeps them
// valid as the conversions change.
//
//   qvtest::MemoryClient client;
//   const qvtest::Bytes reply = qvtest::SampleReply(GET_DISK_LIST);
//   client.SetReply(reply);
//   qvGetDiskList(client.handle(), &filter, &list);   // 0, with entries
#pragma once

#include <cstddef>
#include <vector>

#include "support/test_service.h"

namespace qvtest {

// The richest valid reply of `proc`. A procedure whose result has no sample
// of its own gets its zeroed result record; an unknown procedure, nothing.
Bytes SampleReply(unsigned proc);

// Every valid reply of `proc` kept as a sample, SampleReply(proc) first; the
// others take other branches of the conversion (each progress kind of the
// statistics, a count below the array's length, an empty list).
std::vector<Bytes> SampleReplies(unsigned proc);

// A GET_DISK_LIST reply of `disks` disks with `partitions_per_disk`
// partitions each, every text set: list kind 3 turns it into
// disks * (1 + partitions_per_disk) entries.
Bytes DiskListReply(std::size_t disks, std::size_t partitions_per_disk);

// A GET_MIR_CONFIG_LIST reply of `configs` complete configurations, every
// text set.
Bytes MirrorConfigListReply(std::size_t configs);
// A GET_EVENT_LIST reply of `events` events about an object, each with a text.
Bytes EventListReply(std::size_t events);
// A GET_CLUSTER_GROUP_PHYSICAL_DISK_LIST reply of `disks` disks, every text set.
Bytes ClusterDiskListReply(std::size_t disks);

}  // namespace qvtest
