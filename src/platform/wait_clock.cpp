#include "platform/wait_clock.h"

#include <cerrno>
#include <ctime>

namespace qv {

#ifdef QV_TEST_HOOKS
namespace {

wait_clock::Hooks g_wait_hooks;

}  // namespace
#endif

std::uint32_t TickCount() noexcept {
#ifdef QV_TEST_HOOKS
    if (g_wait_hooks.tick != nullptr) return g_wait_hooks.tick(g_wait_hooks.context);
#endif
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

void SleepMs(std::uint32_t ms) noexcept {
#ifdef QV_TEST_HOOKS
    if (g_wait_hooks.sleep != nullptr) {
        g_wait_hooks.sleep(ms, g_wait_hooks.context);
        return;
    }
#endif
    timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

#ifdef QV_TEST_HOOKS
namespace wait_clock {
void SetForTesting(const Hooks& hooks) noexcept { g_wait_hooks = hooks; }
}  // namespace wait_clock
#endif

}  // namespace qv
