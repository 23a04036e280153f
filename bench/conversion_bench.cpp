// What the conversions cost over decoding the reply, and over the floor
// that their contract sets, and how they grow.
//
// Three sides run on a MemoryClient with the same reply bytes:
//   library  the exported function with the release of its list;
//   decode   the generated stub (request encoding, reply decoding)
//            followed by xdr_free;
//   floor    decoding plus what the contract itself asks of any
//            conversion: the entries in one block, each entry's fields
//            copied, each caller-owned string a block of its own holding
//            its text, and the caller's release of it all. The floor makes
//            exactly the blocks of the library's list (its shape is taken
//            from one conversion beforehand), and reads what it copies in
//            order: the fields from that list's entry block, the texts
//            from the reply's bytes. What the library spends above it is
//            its own work: checks, counting, composed names, field mapping,
//            finding each text in the decoded reply.
// Replies of 10 to 100,000 entries show whether the cost per entry stays
// flat.
//
// A counting pass outside the timed loop reports, per benchmark:
//   allocs_per_entry       blocks taken per entry (decoding included)
//   conv_allocs_per_entry  the blocks beyond decoding's
//   output_bytes           heap bytes the caller holds afterwards
//   peak_bytes             most heap bytes held at once during the call
//   peak_per_output        peak_bytes / output_bytes
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "proc_table.h"
#include "support/memory_client.h"
#include "support/sample_replies.h"

namespace {

// qvGetDiskList, every disk and partition (list kind 3); each disk has four
// partitions, so it gives five entries.
struct DiskList {
    static constexpr unsigned kProc = GET_DISK_LIST;
    static constexpr std::size_t kEntriesPerDisk = 5;
    using List = QV_DISK_LIST;
    using Entry = QV_DISK_INFO;

    static qvtest::Bytes Reply(std::size_t entries) {
        return qvtest::DiskListReply(entries / kEntriesPerDisk, kEntriesPerDisk - 1);
    }
    static QV_STATUS Get(QV_HANDLE handle, List& list) {
        const QV_DISK_FILTER every{3, 0, 0, nullptr};
        return qvGetDiskList(handle, &every, &list);
    }
    static void Release(List& list) {
        List* header = &list;
        qvFreeDiskList(&header, 1);
    }
    static uint32_t& Count(List& list) { return list.Count; }
    static Entry*& Entries(List& list) { return list.Entries; }
    static std::array<QV_WCHAR**, 12> Strings(Entry& e) {
        return {&e.DiskName,         &e.DisplayName,      &e.DiskText1,
                &e.DiskText2,        &e.Letters,          &e.Label,
                &e.Properties.Text1, &e.Properties.Text2, &e.Descriptor.Text1,
                &e.Descriptor.Text2, &e.Descriptor.Text3, &e.Descriptor.Text4};
    }
};

QV_WCHAR** Writable(const QV_WCHAR** text) { return const_cast<QV_WCHAR**>(text); }

// qvGetMirConfigList, every configuration.
struct MirConfigList {
    static constexpr unsigned kProc = GET_MIR_CONFIG_LIST;
    using List = QV_MIRROR_CONFIG_LIST;
    using Entry = QV_MIRROR_CONFIG;

    static qvtest::Bytes Reply(std::size_t entries) {
        return qvtest::MirrorConfigListReply(entries);
    }
    static QV_STATUS Get(QV_HANDLE handle, List& list) {
        const QV_CONFIG_FILTER all{0, nullptr, {nullptr, 0}};
        return qvGetMirConfigList(handle, &all, &list);
    }
    static void Release(List& list) {
        List* header = &list;
        qvFreeMirConfigList(&header, 1);
    }
    static uint32_t& Count(List& list) { return list.Count; }
    static Entry*& Entries(List& list) { return list.Entries; }
    // The configuration's strings are const to the caller; the floor writes
    // its copies there.
    static std::array<QV_WCHAR**, 6> Strings(Entry& c) {
        return {Writable(&c.Primary.name), Writable(&c.Mirror.name), Writable(&c.Text1),
                Writable(&c.Text2),        Writable(&c.Text3),       Writable(&c.Text4)};
    }
};

// qvGetEventList, every event; each has a subject and a text.
struct EventList {
    static constexpr unsigned kProc = GET_EVENT_LIST;
    using List = QV_EVENT_LIST;
    using Entry = QV_EVENT_ENTRY;

    static qvtest::Bytes Reply(std::size_t entries) { return qvtest::EventListReply(entries); }
    static QV_STATUS Get(QV_HANDLE handle, List& list) {
        const QV_EVENT_QUERY all{0, 0, 0, nullptr, 0, 0, 0, 0};
        return qvGetEventList(handle, &all, &list);
    }
    static void Release(List& list) {
        List* header = &list;
        qvFreeEventList(&header, 1);
    }
    static uint32_t& Count(List& list) { return list.count; }
    static Entry*& Entries(List& list) { return list.events; }
    static std::array<QV_WCHAR**, 2> Strings(Entry& e) { return {&e.subjectName, &e.text}; }
};

// qvGetClusterGroupPhysicalDiskList: flat blocks, their texts inline.
struct ClusterDisks {
    static constexpr unsigned kProc = GET_CLUSTER_GROUP_PHYSICAL_DISK_LIST;
    using List = QV_CLUSTER_DISK_LIST;
    using Entry = QV_CLUSTER_DISK;

    static qvtest::Bytes Reply(std::size_t entries) {
        return qvtest::ClusterDiskListReply(entries);
    }
    static QV_STATUS Get(QV_HANDLE handle, List& list) {
        const QV_CLUSTER_GROUP group{};
        return qvGetClusterGroupPhysicalDiskList(handle, &group, &list);
    }
    static void Release(List& list) {
        List* header = &list;
        qvFreePhysicalDiskList(&header, 1);
    }
    static uint32_t& Count(List& list) { return list.count; }
    static Entry*& Entries(List& list) { return list.disks; }
    static std::array<QV_WCHAR**, 0> Strings(Entry&) { return {}; }
};

// qvGetSnapshotList, every snapshot of a group: the owner of each entry is
// the group's name, one string, and no snapshot is mounted.
struct SnapshotList {
    static constexpr unsigned kProc = GET_SNAPSHOT_LIST;
    using List = QV_SNAPSHOT_LIST;
    using Entry = QV_SNAPSHOT_INFO;

    static qvtest::Bytes Reply(std::size_t entries) { return qvtest::SnapshotListReply(entries); }
    static QV_STATUS Get(QV_HANDLE handle, List& list) {
        static const QV_GROUP_REF group{u"Payroll"};
        const QV_SNAPSHOT_SELECTOR all{QV_SNAPSHOTS_OF_GROUP, &group, 0, 0, 0};
        return qvGetSnapshotList(handle, &all, &list);
    }
    static void Release(List& list) {
        List* header = &list;
        qvFreeSnapshotList(&header, 1);
    }
    static uint32_t& Count(List& list) { return list.Count; }
    static Entry*& Entries(List& list) { return list.Entries; }
    static std::array<QV_WCHAR**, 4> Strings(Entry& e) {
        return {reinterpret_cast<QV_WCHAR**>(&e.Owner), &e.ViewName, &e.Text3, &e.Text1};
    }
};

// qvGetBacklookDisk: a view disk and its partitions, every one an entry.
struct ViewDisk {
    static constexpr unsigned kProc = GET_BACKLOOK_DISK;
    using List = QV_DISK_LIST;
    using Entry = QV_DISK_INFO;

    static qvtest::Bytes Reply(std::size_t entries) {
        return qvtest::BacklookDiskReply(entries - 1);
    }
    static QV_STATUS Get(QV_HANDLE handle, List& list) {
        static const QV_OBJECT_ID disk{u"Harddisk1", 1};
        const QV_SNAPSHOT_KEY key{0, &disk, 1};
        return qvGetBacklookDisk(handle, &key, &list, 0);
    }
    static void Release(List& list) { DiskList::Release(list); }
    static uint32_t& Count(List& list) { return DiskList::Count(list); }
    static Entry*& Entries(List& list) { return DiskList::Entries(list); }
    static std::array<QV_WCHAR**, 12> Strings(Entry& e) { return DiskList::Strings(e); }
};

// qvGetGroupConfigList, every group: each holds eight members, a block of
// mirror configurations of its own.
struct GroupConfigList {
    static constexpr unsigned kProc = GET_GROUP_CONFIG_LIST;
    static constexpr std::size_t kMembers = 8;
    using List = QV_GROUP_CONFIG_LIST;
    using Entry = QV_GROUP_CONFIG;
    using Child = QV_MIRROR_CONFIG;

    static qvtest::Bytes Reply(std::size_t entries) {
        return qvtest::GroupConfigListReply(entries, kMembers);
    }
    static QV_STATUS Get(QV_HANDLE handle, List& list) {
        const QV_CONFIG_FILTER all{0, nullptr, {nullptr, 0}};
        return qvGetGroupConfigList(handle, &all, &list);
    }
    static void Release(List& list) {
        List* header = &list;
        qvFreeGroupConfigList(&header, 1);
    }
    static uint32_t& Count(List& list) { return list.Count; }
    static Entry*& Entries(List& list) { return list.Entries; }
    static std::array<QV_WCHAR**, 2> Strings(Entry& g) {
        return {Writable(&g.Name), Writable(&g.Text)};
    }
    static uint32_t& ChildCount(Entry& g) { return g.MemberCount; }
    static Child*& Children(Entry& g) { return g.Members; }
    static auto ChildStrings(Child& c) { return MirConfigList::Strings(c); }
};

// qvGetGroupStat: the members of one group, each with its name and full
// statistics.
struct GroupStat {
    static constexpr unsigned kProc = GET_GROUP_STAT;
    using List = QV_GROUP_STAT;
    using Entry = QV_GROUP_MEMBER_STAT;

    static qvtest::Bytes Reply(std::size_t entries) { return qvtest::GroupStatReply(entries); }
    static QV_STATUS Get(QV_HANDLE handle, List& list) {
        const QV_CONFIG_FILTER group{0, u"Payroll", {nullptr, 0}};
        return qvGetGroupStat(handle, &group, &list);
    }
    static void Release(List& list) {
        List* header = &list;
        qvFreeGroupStat(&header, 1);
    }
    static uint32_t& Count(List& list) { return list.MemberCount; }
    static Entry*& Entries(List& list) { return list.Members; }
    static std::array<QV_WCHAR**, 1> Strings(Entry& m) { return {&m.Name}; }
};

// Calls the generated stub on the memory client; the reply is decoded into
// `res`, which the caller gives back with xdr_free.
template <unsigned P>
void Decode(qvtest::MemoryClient& client, typename qv::wire::Proc<P>::Res& res) {
    using Proc = qv::wire::Proc<P>;
    typename Proc::Arg arg;
    std::memset(static_cast<void*>(&arg), 0, sizeof arg);
    std::memset(static_cast<void*>(&res), 0, sizeof res);
    benchmark::DoNotOptimize(Proc::Stub(&arg, &res, client.client()));
}

template <unsigned P>
void DecodeOnly(qvtest::MemoryClient& client) {
    typename qv::wire::Proc<P>::Res res;
    Decode<P>(client, res);
    xdr_free(qv::wire::Proc<P>::ResFilter(), reinterpret_cast<char*>(&res));
}

// What the floor rebuilds, taken from one conversion by the library: the
// entries with their strings left out, and the length of each string
// (kNoText for a null one) in the order of F::Strings. The library's list
// is given back at once, so the floor runs on a heap as clean as the
// library's.
// A list whose entries hold a block of entries of their own (a group's
// members) has those rebuilt too, each block with its strings.
template <typename F>
constexpr bool kNested = requires { typename F::Child; };

template <typename F>
struct ChildOf {
    using Type = char;  // none
};
template <typename F>
    requires kNested<F>
struct ChildOf<F> {
    using Type = typename F::Child;
};

template <typename F>
struct Shape {
    static constexpr uint32_t kNoText = UINT32_MAX;
    std::vector<typename F::Entry> entries;
    std::vector<uint32_t> lengths;
    std::vector<typename ChildOf<F>::Type> children;  // every entry's, in order

    explicit Shape(QV_HANDLE handle) {
        typename F::List list{};
        if (F::Get(handle, list) != 0) return;
        entries.assign(F::Entries(list), F::Entries(list) + F::Count(list));
        for (auto& entry : entries) {
            TakeStrings(F::Strings(entry));
            if constexpr (kNested<F>) {
                auto* first = F::Children(entry);
                const std::size_t count = first == nullptr ? 0 : F::ChildCount(entry);
                for (std::size_t i = 0; i < count; ++i) {
                    auto& child = children.emplace_back(first[i]);
                    TakeStrings(F::ChildStrings(child));
                }
                F::Children(entry) = nullptr;
            }
        }
        F::Release(list);
    }

  private:
    template <typename Strings>
    void TakeStrings(Strings strings) {
        for (QV_WCHAR** text : strings) {
            lengths.push_back(*text == nullptr
                                  ? kNoText
                                  : static_cast<uint32_t>(std::char_traits<char16_t>::length(*text)));
            *text = nullptr;
        }
    }
};

// Copies each of `strings` as a block of its own from the reply's bytes,
// with the lengths the shape recorded.
template <typename Strings>
void CopyStrings(Strings strings, const uint32_t*& length, std::span<const uint8_t> reply,
                 std::size_t& from) {
    for (QV_WCHAR** text : strings) {
        const uint32_t units = *length++;
        if (units == UINT32_MAX) continue;
        const std::size_t bytes = units * sizeof(char16_t);
        if (from + bytes > reply.size()) from = 0;
        auto* copy = static_cast<QV_WCHAR*>(std::malloc(bytes + sizeof(char16_t)));
        std::memcpy(copy, reply.data() + from, bytes);
        copy[units] = 0;
        from += bytes;
        *text = copy;
    }
}

// The floor: decoding, then the shape's list rebuilt in `list` with the
// blocks and copies the contract asks for.
template <typename F>
std::size_t FloorConvert(qvtest::MemoryClient& client, const Shape<F>& shape,
                         std::span<const uint8_t> reply, typename F::List& list) {
    using Entry = typename F::Entry;
    typename qv::wire::Proc<F::kProc>::Res res;
    Decode<F::kProc>(client, res);
    const auto count = static_cast<uint32_t>(shape.entries.size());
    auto* entries = static_cast<Entry*>(std::calloc(count, sizeof(Entry)));
    const uint32_t* length = shape.lengths.data();
    std::size_t from = 0;
    std::size_t next_child = 0;
    for (uint32_t i = 0; i < count; ++i) {
        entries[i] = shape.entries[i];
        CopyStrings(F::Strings(entries[i]), length, reply, from);
        if constexpr (kNested<F>) {
            using Child = typename F::Child;
            const uint32_t children = F::ChildCount(entries[i]);
            if (children == 0) continue;
            auto* block = static_cast<Child*>(std::calloc(children, sizeof(Child)));
            for (uint32_t c = 0; c < children; ++c) {
                block[c] = shape.children[next_child++];
                CopyStrings(F::ChildStrings(block[c]), length, reply, from);
            }
            F::Children(entries[i]) = block;
        }
    }
    F::Count(list) = count;
    F::Entries(list) = entries;
    xdr_free(qv::wire::Proc<F::kProc>::ResFilter(), reinterpret_cast<char*>(&res));
    return count;
}

void Report(benchmark::State& state, std::size_t entries, const qvbench::HeapUse& use,
            const qvbench::HeapUse& decode) {
    const double n = static_cast<double>(entries);
    state.counters["allocs_per_entry"] = static_cast<double>(use.allocations) / n;
    state.counters["conv_allocs_per_entry"] =
        (static_cast<double>(use.allocations) - static_cast<double>(decode.allocations)) / n;
    state.counters["output_bytes"] = static_cast<double>(use.in_use);
    state.counters["peak_bytes"] = static_cast<double>(use.peak);
    if (use.in_use > 0) {
        state.counters["peak_per_output"] =
            static_cast<double>(use.peak) / static_cast<double>(use.in_use);
    }
    state.SetComplexityN(static_cast<benchmark::IterationCount>(entries));
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(entries));
}

template <unsigned P>
qvbench::HeapUse CountDecode(qvtest::MemoryClient& client) {
    qvbench::StartCounting();
    DecodeOnly<P>(client);
    return qvbench::StopCounting();
}

template <typename F>
void DecodeBenchmark(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    const qvtest::Bytes reply = F::Reply(entries);
    qvtest::MemoryClient client;
    client.SetReply(reply);
    const qvbench::HeapUse use = CountDecode<F::kProc>(client);
    for (auto _ : state) DecodeOnly<F::kProc>(client);
    Report(state, entries, use, use);
}

// A side that hands out a list: `convert` fills `list` from the client and
// returns its entries (SIZE_MAX when refused); the list is released after
// each call as its caller would.
template <typename F, typename Convert>
void ListBenchmark(benchmark::State& state, qvtest::MemoryClient& client, std::size_t entries,
                   Convert&& convert) {
    typename F::List list{};
    qvbench::StartCounting();
    const std::size_t handed_out = convert(client, list);
    const qvbench::HeapUse use = qvbench::StopCounting();
    F::Release(list);
    if (handed_out != entries) {
        state.SkipWithError("the reply did not convert into the entries asked for");
        return;
    }
    const qvbench::HeapUse decode = CountDecode<F::kProc>(client);

    for (auto _ : state) {
        convert(client, list);
        F::Release(list);
    }
    Report(state, entries, use, decode);
}

template <typename F>
void LibraryBenchmark(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    const qvtest::Bytes reply = F::Reply(entries);
    qvtest::MemoryClient client;
    client.SetReply(reply);
    ListBenchmark<F>(state, client, entries, [](qvtest::MemoryClient& c, typename F::List& list) {
        return F::Get(c.handle(), list) == 0 ? F::Count(list) : SIZE_MAX;
    });
}

template <typename F>
void FloorBenchmark(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    const qvtest::Bytes reply = F::Reply(entries);
    qvtest::MemoryClient client;
    client.SetReply(reply);
    const Shape<F> shape(client.handle());
    // Every text is copied from one stretch of the reply's bytes.
    for (const uint32_t units : shape.lengths) {
        if (units != Shape<F>::kNoText && units * sizeof(char16_t) > reply.size()) {
            state.SkipWithError("a text is longer than the reply");
            return;
        }
    }
    ListBenchmark<F>(state, client, entries, [&](qvtest::MemoryClient& c, typename F::List& list) {
        return FloorConvert<F>(c, shape, reply, list);
    });
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (const int64_t n : {10, 1000, 10000, 100000}) b->Arg(n);
    b->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);
}

// Up to 10,000 groups of eight members each, or members of one group.
void GroupSizes(benchmark::internal::Benchmark* b) {
    for (const int64_t n : {10, 100, 1000, 10000}) b->Arg(n);
    b->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(LibraryBenchmark<DiskList>)->Name("Convert/qvGetDiskList/library")->Apply(Sizes);
BENCHMARK(FloorBenchmark<DiskList>)->Name("Convert/qvGetDiskList/floor")->Apply(Sizes);
BENCHMARK(DecodeBenchmark<DiskList>)->Name("Convert/qvGetDiskList/decode")->Apply(Sizes);
BENCHMARK(LibraryBenchmark<MirConfigList>)
    ->Name("Convert/qvGetMirConfigList/library")
    ->Apply(Sizes);
BENCHMARK(FloorBenchmark<MirConfigList>)->Name("Convert/qvGetMirConfigList/floor")->Apply(Sizes);
BENCHMARK(DecodeBenchmark<MirConfigList>)->Name("Convert/qvGetMirConfigList/decode")->Apply(Sizes);
BENCHMARK(LibraryBenchmark<EventList>)->Name("Convert/qvGetEventList/library")->Apply(Sizes);
BENCHMARK(FloorBenchmark<EventList>)->Name("Convert/qvGetEventList/floor")->Apply(Sizes);
BENCHMARK(DecodeBenchmark<EventList>)->Name("Convert/qvGetEventList/decode")->Apply(Sizes);
BENCHMARK(LibraryBenchmark<ClusterDisks>)
    ->Name("Convert/qvGetClusterGroupPhysicalDiskList/library")
    ->Apply(Sizes);
BENCHMARK(FloorBenchmark<ClusterDisks>)
    ->Name("Convert/qvGetClusterGroupPhysicalDiskList/floor")
    ->Apply(Sizes);
BENCHMARK(DecodeBenchmark<ClusterDisks>)
    ->Name("Convert/qvGetClusterGroupPhysicalDiskList/decode")
    ->Apply(Sizes);
BENCHMARK(LibraryBenchmark<SnapshotList>)->Name("Convert/qvGetSnapshotList/library")->Apply(Sizes);
BENCHMARK(FloorBenchmark<SnapshotList>)->Name("Convert/qvGetSnapshotList/floor")->Apply(Sizes);
BENCHMARK(DecodeBenchmark<SnapshotList>)->Name("Convert/qvGetSnapshotList/decode")->Apply(Sizes);
BENCHMARK(LibraryBenchmark<ViewDisk>)->Name("Convert/qvGetBacklookDisk/library")->Apply(Sizes);
BENCHMARK(FloorBenchmark<ViewDisk>)->Name("Convert/qvGetBacklookDisk/floor")->Apply(Sizes);
BENCHMARK(DecodeBenchmark<ViewDisk>)->Name("Convert/qvGetBacklookDisk/decode")->Apply(Sizes);
BENCHMARK(LibraryBenchmark<GroupConfigList>)
    ->Name("Convert/qvGetGroupConfigList/library")
    ->Apply(GroupSizes);
BENCHMARK(FloorBenchmark<GroupConfigList>)
    ->Name("Convert/qvGetGroupConfigList/floor")
    ->Apply(GroupSizes);
BENCHMARK(DecodeBenchmark<GroupConfigList>)
    ->Name("Convert/qvGetGroupConfigList/decode")
    ->Apply(GroupSizes);
BENCHMARK(LibraryBenchmark<GroupStat>)->Name("Convert/qvGetGroupStat/library")->Apply(GroupSizes);
BENCHMARK(FloorBenchmark<GroupStat>)->Name("Convert/qvGetGroupStat/floor")->Apply(GroupSizes);
BENCHMARK(DecodeBenchmark<GroupStat>)->Name("Convert/qvGetGroupStat/decode")->Apply(GroupSizes);
