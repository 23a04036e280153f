// The pieces every exported remote function adds to the bare call, one by
// one, so that the overhead measured against the bare stub can be traced to
// its parts.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "connection/rpc_call.h"
#include "platform/alloc.h"
#include "platform/sigpipe_guard.h"

namespace {

// Keeps SIGPIPE away for one call: signal mask and pending set, both ways.
void SigpipeGuard(benchmark::State& state) {
    for (auto _ : state) {
        qv::SigpipeGuard guard;
        benchmark::ClobberMemory();
    }
}

// A small block from the library's allocator (with its failure hook) and
// straight from the C heap.
void LibraryAlloc(benchmark::State& state) {
    for (auto _ : state) {
        void* block = qv::Alloc(24);
        benchmark::DoNotOptimize(block);
        qv::Free(block);
    }
}

void HeapAlloc(benchmark::State& state) {
    for (auto _ : state) {
        void* block = std::malloc(24);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}

// The request of an object operation: the name copied into the reference
// and given back.
void ObjectRef(benchmark::State& state) {
    for (auto _ : state) {
        RpcObjectRef ref{};
        benchmark::DoNotOptimize(qv::FillObjectRef(ref, u"Harddisk0", 1));
        qv::ReleaseObjectRef(ref);
    }
}

}  // namespace

BENCHMARK(SigpipeGuard)->Name("Parts/SigpipeGuard");
BENCHMARK(LibraryAlloc)->Name("Parts/qv::Alloc+Free");
BENCHMARK(HeapAlloc)->Name("Parts/malloc+free");
BENCHMARK(ObjectRef)->Name("Parts/FillObjectRef+Release");
