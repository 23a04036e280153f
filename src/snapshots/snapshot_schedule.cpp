#include "snapshots/snapshot_schedule.h"

#include "platform/alloc.h"

namespace qv {

RpcSnapshotSchedule ToRpcSnapshotSchedule(const QV_SNAPSHOT_SCHEDULE& schedule) noexcept {
    RpcSnapshotSchedule wire{};
    wire.Mode = ReduceScheduleMode(schedule.Mode);
    wire.Param1 = schedule.Param1;
    wire.Param2 = schedule.Param2;
    wire.Param3 = schedule.Param3;
    wire.Param4 = schedule.Param4;
    wire.Param5 = schedule.Param5;
    wire.Param6 = schedule.Param6;
    return wire;
}

bool FillSchedules(u_int& count, RpcSnapshotSchedule*& elements,
                   const RpcSnapshotSchedule& record) noexcept {
    auto* schedule = static_cast<RpcSnapshotSchedule*>(AllocZeroed(1, sizeof(RpcSnapshotSchedule)));
    if (schedule == nullptr) return false;
    *schedule = record;
    elements = schedule;
    count = 1;
    return true;
}

QV_SNAPSHOT_SCHEDULE FromRpcSnapshotSchedule(const RpcSnapshotSchedule& wire,
                                             ScheduleModeReadBack mode) noexcept {
    QV_SNAPSHOT_SCHEDULE schedule{};
    schedule.Mode =
        mode == ScheduleModeReadBack::kReduced ? ReduceScheduleMode(wire.Mode) : wire.Mode;
    schedule.Param1 = wire.Param1;
    schedule.Param2 = wire.Param2;
    schedule.Param3 = wire.Param3;
    schedule.Param4 = wire.Param4;
    schedule.Param5 = wire.Param5;
    schedule.Param6 = wire.Param6;
    return schedule;
}

}  // namespace qv
