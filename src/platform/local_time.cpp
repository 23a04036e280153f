#include "platform/local_time.h"

#include <atomic>
#include <ctime>

namespace qv {

#ifdef QV_TEST_HOOKS
namespace {

std::atomic<LocalTime (*)()> g_clock{nullptr};

}  // namespace
#endif

LocalTime GetLocalTime() noexcept {
#ifdef QV_TEST_HOOKS
    if (auto* clock = g_clock.load(std::memory_order_acquire)) return clock();
#endif

    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts{};
    if (localtime_r(&now.tv_sec, &parts) == nullptr) return LocalTime{};
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

#ifdef QV_TEST_HOOKS
namespace local_time {
void SetClockForTesting(LocalTime (*clock)()) noexcept {
    g_clock.store(clock, std::memory_order_release);
}
}  // namespace local_time
#endif

}  // namespace qv
