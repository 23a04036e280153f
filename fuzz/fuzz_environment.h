// What every fuzzer sets up once, and the growth check it wraps each input
// in.
//
// The library's diagnostics go nowhere, so that a run measures the library
// and not the file system or the syslog. The growth check watches the heap
// while one reply is handled: what the library holds at its peak must stay
// within a fixed multiple of the reply's size (plus an allowance for the
// trace line buffers). A conversion that allocates by a count it was told
// rather than by what arrived, or that copies one text into every entry of
// a long list, fails it long before the process runs out of memory.
#pragma once

#include <sanitizer/allocator_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/debug_output.h"

namespace qvfuzz {

inline constexpr std::int64_t kGrowth = 128;
inline constexpr std::int64_t kAllowance = 512 * 1024;

struct Heap {
    static inline std::int64_t live = 0;
    static inline std::int64_t peak = 0;
};

inline void OnMalloc(const volatile void*, std::size_t size) {
    Heap::live += static_cast<std::int64_t>(size);
    if (Heap::live > Heap::peak) Heap::peak = Heap::live;
}

inline void OnFree(const volatile void* block) {
    if (block == nullptr) return;
    Heap::live -=
        static_cast<std::int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(block)));
}

inline void Discard(std::u16string_view, void*) {}

inline void PrepareEnvironment() {
    // No parameters file: the trace writer finds no service directory and
    // writes nothing.
    setenv("QUARVANE_PARAMETERS", "/nonexistent/qvfuzz/parameters.ini", 1);
    qv::debug_output::SetSinkForTesting(Discard, nullptr);
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}

// Fails the input when the heap grew beyond its share while it lived.
class GrowthCheck {
  public:
    explicit GrowthCheck(std::size_t input_size)
        : input_size_(static_cast<std::int64_t>(input_size)), start_(Heap::live) {
        Heap::peak = Heap::live;
    }
    ~GrowthCheck() {
        const std::int64_t grown = Heap::peak - start_;
        if (grown > kGrowth * input_size_ + kAllowance) {
            std::fprintf(stderr, "growth check: a reply of %lld bytes made the heap grow by %lld\n",
                         static_cast<long long>(input_size_), static_cast<long long>(grown));
            std::abort();
        }
    }
    GrowthCheck(const GrowthCheck&) = delete;
    GrowthCheck& operator=(const GrowthCheck&) = delete;

  private:
    std::int64_t input_size_;
    std::int64_t start_;
};

}  // namespace qvfuzz
