// The wall clock, as local calendar time.
//
// Trace entries and debug lines carry the local time to the second. A test
// build (QV_TEST_HOOKS) can replace the clock to check stamps byte for byte.
#pragma once

namespace qv {

struct LocalTime {
    int year = 0;    // e.g. 2024
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60
};

LocalTime GetLocalTime() noexcept;

#ifdef QV_TEST_HOOKS
namespace local_time {
// Makes GetLocalTime return what `clock` returns; null restores the system
// clock.
void SetClockForTesting(LocalTime (*clock)()) noexcept;
}  // namespace local_time
#endif

}  // namespace qv
