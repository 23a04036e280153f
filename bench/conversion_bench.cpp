// What the conversions cost over decoding the reply, and how they grow.
//
// Both sides run on a MemoryClient with the same reply bytes: the library
// side is the exported function with the release of its list, the
// decode-only side the generated stub (request encoding, reply decoding)
// followed by xdr_free. Replies of 10 to 100,000 entries show whether the
// cost per entry stays flat.
//
// A counting pass outside the timed loop reports, per benchmark:
//   allocs_per_entry       blocks taken per entry (decoding included)
//   conv_allocs_per_entry  the library side's blocks beyond decoding's
//   output_bytes           heap bytes the caller holds afterwards
//   peak_bytes             most heap bytes held at once during the call
//   peak_per_output        peak_bytes / output_bytes
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "alloc_counter.h"
#include "proc_table.h"
#include "support/memory_client.h"
#include "support/sample_replies.h"

namespace {

// Partitions per disk in the disk list replies: each disk gives five entries.
constexpr std::size_t kPartitionsPerDisk = 4;
constexpr std::size_t kEntriesPerDisk = 1 + kPartitionsPerDisk;

// The generated stub on the memory client, the reply given back at once.
template <unsigned P>
void DecodeOnly(qvtest::MemoryClient& client) {
    using Proc = qv::wire::Proc<P>;
    typename Proc::Arg arg;
    typename Proc::Res res;
    std::memset(static_cast<void*>(&arg), 0, sizeof arg);
    std::memset(static_cast<void*>(&res), 0, sizeof res);
    benchmark::DoNotOptimize(Proc::Stub(&arg, &res, client.client()));
    xdr_free(Proc::ResFilter(), reinterpret_cast<char*>(&res));
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

template <unsigned P>
void DecodeBenchmark(benchmark::State& state, const qvtest::Bytes& reply, std::size_t entries) {
    qvtest::MemoryClient client;
    client.SetReply(reply);
    const qvbench::HeapUse use = CountDecode<P>(client);
    for (auto _ : state) DecodeOnly<P>(client);
    Report(state, entries, use, use);
}

// The library side: `call` returns the number of entries it handed out
// (SIZE_MAX when refused) and leaves them held until `release`.
template <unsigned P, typename Call, typename Release>
void LibraryBenchmark(benchmark::State& state, const qvtest::Bytes& reply, std::size_t entries,
                      Call&& call, Release&& release) {
    qvtest::MemoryClient client;
    client.SetReply(reply);
    qvbench::StartCounting();
    const std::size_t handed_out = call(client.handle());
    const qvbench::HeapUse use = qvbench::StopCounting();
    release();
    if (handed_out != entries) {
        state.SkipWithError("the reply did not convert into the entries asked for");
        return;
    }
    const qvbench::HeapUse decode = CountDecode<P>(client);

    for (auto _ : state) {
        call(client.handle());
        release();
    }
    Report(state, entries, use, decode);
}

// ---------------------------------------------------------------------------
// qvGetDiskList, every disk and partition (list kind 3)

qvtest::Bytes DiskReply(std::size_t entries) {
    return qvtest::DiskListReply(entries / kEntriesPerDisk, kPartitionsPerDisk);
}

void DiskListLibrary(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    const QV_DISK_FILTER every{3, 0, 0, nullptr};
    QV_DISK_LIST list{};
    QV_DISK_LIST* header = &list;
    LibraryBenchmark<GET_DISK_LIST>(
        state, DiskReply(entries), entries,
        [&](QV_HANDLE handle) {
            return qvGetDiskList(handle, &every, &list) == 0 ? list.Count : SIZE_MAX;
        },
        [&] { qvFreeDiskList(&header, 1); });
}

void DiskListDecode(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    DecodeBenchmark<GET_DISK_LIST>(state, DiskReply(entries), entries);
}

// ---------------------------------------------------------------------------
// qvGetMirConfigList, every configuration

void MirConfigListLibrary(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    const QV_CONFIG_FILTER all{0, nullptr, {nullptr, 0}};
    QV_MIRROR_CONFIG_LIST list{};
    QV_MIRROR_CONFIG_LIST* header = &list;
    LibraryBenchmark<GET_MIR_CONFIG_LIST>(
        state, qvtest::MirrorConfigListReply(entries), entries,
        [&](QV_HANDLE handle) {
            return qvGetMirConfigList(handle, &all, &list) == 0 ? list.Count : SIZE_MAX;
        },
        [&] { qvFreeMirConfigList(&header, 1); });
}

void MirConfigListDecode(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    DecodeBenchmark<GET_MIR_CONFIG_LIST>(state, qvtest::MirrorConfigListReply(entries), entries);
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (const int64_t n : {10, 1000, 10000, 100000}) b->Arg(n);
    b->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(DiskListLibrary)->Name("Convert/qvGetDiskList/library")->Apply(Sizes);
BENCHMARK(DiskListDecode)->Name("Convert/qvGetDiskList/decode")->Apply(Sizes);
BENCHMARK(MirConfigListLibrary)->Name("Convert/qvGetMirConfigList/library")->Apply(Sizes);
BENCHMARK(MirConfigListDecode)->Name("Convert/qvGetMirConfigList/decode")->Apply(Sizes);
