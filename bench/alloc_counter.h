// Counts the heap blocks the process takes while counting is on.
//
// The benchmark program defines malloc, calloc, realloc, free and the
// aligned variants itself and forwards them to the C library's own
// allocator, so every block is seen: the library's, the RPC runtime's
// (decoded replies) and the C++ runtime's. Counting is off by default and
// costs one relaxed load per call then; the benchmarks count in a pass of
// their own, outside the timed loop.
#pragma once

#include <cstdint>

namespace qvbench {

struct HeapUse {
    std::uint64_t allocations = 0;  // blocks taken (realloc counts as one)
    std::int64_t in_use = 0;        // bytes held now, against the start
    std::int64_t peak = 0;          // most bytes held at once, against the start
};

// Starts counting from zero.
void StartCounting();
// What was counted so far; counting goes on.
HeapUse Counted();
// Stops counting and returns what was counted.
HeapUse StopCounting();

}  // namespace qvbench
