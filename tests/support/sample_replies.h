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
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "support/test_service.h"

namespace qvtest {

// Holds the texts and arrays that records under construction point into
// until they are encoded.
class Arena {
  public:
    // A text as the service sends it: its units and the terminator.
    RpcWString Text(std::u16string_view text) {
        std::vector<u_short> units(text.begin(), text.end());
        units.push_back(0);
        RpcWString out{};
        Put(out, std::move(units));
        return out;
    }

    // Fills one of the generated records' variable-length arrays (a count
    // followed by a pointer) with `elements`.
    template <typename Field, typename T>
    void Put(Field& field, std::vector<T> elements) {
        auto held = std::make_shared<std::vector<T>>(std::move(elements));
        auto& [count, values] = field;
        count = static_cast<u_int>(held->size());
        values = held->empty() ? nullptr : held->data();
        held_.push_back(std::move(held));
    }

  private:
    std::vector<std::shared_ptr<void>> held_;
};

// `reply`, a result record of P, decoded, changed by `edit` and encoded
// again: a sample turned into the reply a test needs.
template <unsigned P, typename Edit>
Bytes EditReply(const Bytes& reply, Edit&& edit) {
    using Proc = qv::wire::Proc<P>;
    const Decoded<typename Proc::Res> decoded(Proc::ResFilter(), reply);
    typename Proc::Res copy = *decoded;  // shares the decoded arrays and texts
    edit(copy);
    return Encode(Proc::ResFilter(), &copy);
}

// The richest valid reply of `proc`; nothing for a procedure whose result
// record has no sample.
Bytes SampleReply(unsigned proc);

// Every valid reply of `proc` kept as a sample, SampleReply(proc) first; the
// others take other branches of the conversion (each progress kind of the
// statistics, a count below the array's length, an empty list).
std::vector<Bytes> SampleReplies(unsigned proc);

// A zeroed result record of `proc` with its status word set: the refusal
// of the service.
Bytes ReplyWithStatus(unsigned proc, uint32_t status);

// A GET_DISK_LIST reply of `disks` disks with `partitions_per_disk`
// partitions each, every text set: list kind 3 turns it into
// disks * (1 + partitions_per_disk) entries.
Bytes DiskListReply(std::size_t disks, std::size_t partitions_per_disk);

// A GET_MIR_CONFIG_LIST reply of `configs` complete configurations, every
// text set.
Bytes MirrorConfigListReply(std::size_t configs);
// A GET_GROUP_CONFIG_LIST reply of `groups` groups of `members` complete
// member configurations each, every text set.
Bytes GroupConfigListReply(std::size_t groups, std::size_t members);
// A GET_GROUP_STAT reply of a group snapshotting, with `members` members
// each carrying full statistics.
Bytes GroupStatReply(std::size_t members);
// A GET_EVENT_LIST reply of `events` events about an object, each with a text.
Bytes EventListReply(std::size_t events);
// A GET_CLUSTER_GROUP_PHYSICAL_DISK_LIST reply of `disks` disks, every text set.
Bytes ClusterDiskListReply(std::size_t disks);

// A GET_SNAPSHOT_LIST reply of `snapshots` unmounted snapshots, every text
// set.
Bytes SnapshotListReply(std::size_t snapshots);

// A GET_BACKLOOK_DISK reply: a view disk of `partitions` partitions, every
// text set; it converts into partitions + 1 entries.
Bytes BacklookDiskReply(std::size_t partitions);

}  // namespace qvtest
