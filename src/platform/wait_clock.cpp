#include "platform/wait_clock.h"

#include <cerrno>
#include <ctime>
#include <mutex>

namespace qv {

#ifdef QV_TEST_HOOKS
namespace {

// Set by a test while other threads may be waiting: the three fields are
// read together.
std::mutex g_wait_mutex;
wait_clock::Hooks g_wait_hooks;

wait_clock::Hooks WaitHooks() noexcept {
    std::lock_guard lock(g_wait_mutex);
    return g_wait_hooks;
}

}  // namespace
#endif

std::uint32_t TickCount() noexcept {
#ifdef QV_TEST_HOOKS
    if (const auto hooks = WaitHooks(); hooks.tick != nullptr) return hooks.tick(hooks.context);
#endif
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

void SleepMs(std::uint32_t ms) noexcept {
#ifdef QV_TEST_HOOKS
    if (const auto hooks = WaitHooks(); hooks.sleep != nullptr) {
        hooks.sleep(ms, hooks.context);
        return;
    }
#endif
    timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

#ifdef QV_TEST_HOOKS
namespace wait_clock {
void SetForTesting(const Hooks& hooks) noexcept {
    std::lock_guard lock(g_wait_mutex);
    g_wait_hooks = hooks;
}
}  // namespace wait_clock
#endif

}  // namespace qv
