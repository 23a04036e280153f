// The snapshot schedule record, as a mirror or a group configuration
// carries it, and its two conversions.
//
// A schedule has no procedure of its own: it travels as the first element
// of the Schedules array of RpcMirrorConfig or RpcGroupConfig. The wire
// record keeps Param1 ahead of three spares and Param2 to Param6 after them;
// the conversions match fields by name.
#pragma once

#include <cstdint>

#include "quarvane.h"
#include "qvcliapi.h"

namespace qv {

// The service knows schedule modes 1, 2 and 3; anything else travels as 0.
constexpr uint32_t ReduceScheduleMode(uint32_t mode) noexcept {
    return mode >= 1 && mode <= 3 ? mode : 0;
}

// The wire record of a caller's schedule: spares and GroupParam 0 (a group
// fill sets GroupParam itself), Mode reduced, the parameters copied.
RpcSnapshotSchedule ToRpcSnapshotSchedule(const QV_SNAPSHOT_SCHEDULE& schedule) noexcept;

// Makes a configuration's Schedules array hold `record`, its one element.
// False when the heap says no (the array stays empty).
bool FillSchedules(u_int& count, RpcSnapshotSchedule*& elements,
                   const RpcSnapshotSchedule& record) noexcept;

// How the wire Mode is read back: a mirror configuration reduces it like
// the fill does, a group configuration passes it through unchanged.
enum class ScheduleModeReadBack { kReduced, kAsSent };

// The caller's schedule from a received wire record; the spares and
// GroupParam are not read.
QV_SNAPSHOT_SCHEDULE FromRpcSnapshotSchedule(const RpcSnapshotSchedule& wire,
                                             ScheduleModeReadBack mode) noexcept;

}  // namespace qv
