#include "alloc_counter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::uint64_t> g_allocations{0};
std::atomic<std::int64_t> g_in_use{0};
std::atomic<std::int64_t> g_peak{0};

bool Counting() { return g_counting.load(std::memory_order_relaxed); }

std::int64_t Size(void* block) {
    return block == nullptr ? 0 : static_cast<std::int64_t>(malloc_usable_size(block));
}

void Taken(void* block) {
    if (block == nullptr || !Counting()) return;
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    const std::int64_t now =
        g_in_use.fetch_add(Size(block), std::memory_order_relaxed) + Size(block);
    std::int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

void Given(std::int64_t bytes) {
    if (bytes != 0) g_in_use.fetch_sub(bytes, std::memory_order_relaxed);
}

void* Aligned(std::size_t alignment, std::size_t size) {
    void* block = __libc_memalign(alignment, size);
    Taken(block);
    return block;
}

}  // namespace

namespace qvbench {

void StartCounting() {
    g_counting.store(false);
    g_allocations.store(0);
    g_in_use.store(0);
    g_peak.store(0);
    g_counting.store(true);
}

HeapUse Counted() { return {g_allocations.load(), g_in_use.load(), g_peak.load()}; }

HeapUse StopCounting() {
    g_counting.store(false);
    return Counted();
}

}  // namespace qvbench

extern "C" {

void* malloc(std::size_t size) noexcept {
    void* block = __libc_malloc(size);
    Taken(block);
    return block;
}

void* calloc(std::size_t count, std::size_t size) noexcept {
    void* block = __libc_calloc(count, size);
    Taken(block);
    return block;
}

void* realloc(void* block, std::size_t size) noexcept {
    const std::int64_t before = Counting() ? Size(block) : 0;
    void* moved = __libc_realloc(block, size);
    if (moved != nullptr || size == 0) Given(before);
    Taken(moved);
    return moved;
}

void free(void* block) noexcept {
    if (Counting()) Given(Size(block));
    __libc_free(block);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept {
    return Aligned(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    return Aligned(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept {
    void* block = Aligned(alignment, size);
    if (block == nullptr) return ENOMEM;
    *out = block;
    return 0;
}

}  // extern "C"
