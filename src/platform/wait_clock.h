// The millisecond tick count and the sleep that waits on the local machine
// are measured with.
//
// The service control waits poll a unit for up to tens of seconds; a test
// build (QV_TEST_HOOKS) can replace both the tick count and the sleep, so
// that a wait of half a minute takes no time and every poll can move the
// unit on one step.
#pragma once

#include <cstdint>

namespace qv {

// Milliseconds from an arbitrary start, wrapping at 2^32 (compare
// differences, never values).
std::uint32_t TickCount() noexcept;
// Blocks the calling thread for `ms` milliseconds.
void SleepMs(std::uint32_t ms) noexcept;

#ifdef QV_TEST_HOOKS
namespace wait_clock {
struct Hooks {
    std::uint32_t (*tick)(void* context) = nullptr;
    void (*sleep)(std::uint32_t ms, void* context) = nullptr;
    void* context = nullptr;
};
// Makes TickCount and SleepMs call `hooks`; empty hooks restore the
// system's clock.
void SetForTesting(const Hooks& hooks) noexcept;
}  // namespace wait_clock
#endif

}  // namespace qv
