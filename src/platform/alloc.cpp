#include "platform/alloc.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace qv {

#ifdef QV_TEST_HOOKS
namespace {

// Off until a test arms the hook: the allocations of a program that never
// does pay one relaxed load, not a locked increment.
std::atomic<bool> g_armed{false};
std::atomic<unsigned> g_count{0};
std::atomic<unsigned> g_fail_at{0};
std::atomic<bool> g_sticky{false};

bool ShouldFail() noexcept {
    if (!g_armed.load(std::memory_order_relaxed)) return false;
    const unsigned n = g_count.fetch_add(1, std::memory_order_relaxed) + 1;
    const unsigned at = g_fail_at.load(std::memory_order_relaxed);
    if (at == 0) return false;
    return n == at || (g_sticky.load(std::memory_order_relaxed) && n > at);
}

}  // namespace
#else
namespace {
constexpr bool ShouldFail() noexcept { return false; }
}  // namespace
#endif

void* Alloc(std::size_t bytes) noexcept {
    if (ShouldFail()) return nullptr;
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void* AllocZeroed(std::size_t count, std::size_t size) noexcept {
    if (ShouldFail()) return nullptr;
    if (count == 0 || size == 0) return std::calloc(1, 1);
    return std::calloc(count, size);
}

void Free(void* block) noexcept { std::free(block); }

std::size_t StrLen16(const char16_t* text) noexcept {
    if (text == nullptr) return 0;
    return std::char_traits<char16_t>::length(text);
}

char16_t* DupString(std::u16string_view text) noexcept {
    if (text.size() >= SIZE_MAX / sizeof(char16_t)) return nullptr;
    auto* copy = static_cast<char16_t*>(Alloc((text.size() + 1) * sizeof(char16_t)));
    if (copy == nullptr) return nullptr;
    if (!text.empty()) std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
    copy[text.size()] = u'\0';
    return copy;
}

#ifdef QV_TEST_HOOKS
namespace alloc_fault {

void FailAt(unsigned n, bool sticky) noexcept {
    g_sticky.store(sticky, std::memory_order_relaxed);
    g_count.store(0, std::memory_order_relaxed);
    g_fail_at.store(n, std::memory_order_relaxed);
    g_armed.store(true, std::memory_order_relaxed);
}

void Reset() noexcept { FailAt(0, false); }

unsigned Count() noexcept { return g_count.load(std::memory_order_relaxed); }

}  // namespace alloc_fault
#endif
}  // namespace qv
