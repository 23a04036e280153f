#include "platform/wait_clock.h"

#include <cerrno>
#include <ctime>

namespace qv {
namespace {

wait_clock::Hooks g_hooks;

}  // namespace

std::uint32_t TickCount() noexcept {
    if (g_hooks.tick != nullptr) return g_hooks.tick(g_hooks.context);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

void SleepMs(std::uint32_t ms) noexcept {
    if (g_hooks.sleep != nullptr) {
        g_hooks.sleep(ms, g_hooks.context);
        return;
    }
    timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

namespace wait_clock {
void SetForTesting(const Hooks& hooks) noexcept { g_hooks = hooks; }
}  // namespace wait_clock

}  // namespace qv
