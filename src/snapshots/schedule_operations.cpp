// Setting and removing the snapshot schedule of one protection.
//
// The service has no procedure for it: the protection's configuration is
// read, changed in place and written back. The decoded wire record itself
// travels back, never a caller's QV_MIRROR_CONFIG, whose conversion would
// reduce MirrorKind and Switch1 and lose Text4, the enable options and the
// spares; only the fields named below change.
#include <cstring>

#include "connection/shapes.h"
#include "platform/alloc.h"
#include "snapshots/snapshot_schedule.h"

using namespace qv;

namespace {

// Changes the configuration read; false when the heap says no.
using Edit = bool (*)(RpcMirrorConfig& config, const QV_SNAPSHOT_SCHEDULE* schedule) noexcept;

bool PutInForce(RpcMirrorConfig& config, const QV_SNAPSHOT_SCHEDULE* schedule) noexcept {
    // A configuration holds one schedule; one that came without gets a
    // zeroed one rather than a write through an empty array.
    if (config.Schedules.Schedules_len == 0 || config.Schedules.Schedules_val == nullptr) {
        auto* added =
            static_cast<RpcSnapshotSchedule*>(AllocZeroed(1, sizeof(RpcSnapshotSchedule)));
        if (added == nullptr) return false;
        Free(config.Schedules.Schedules_val);
        config.Schedules.Schedules_val = added;
        config.Schedules.Schedules_len = 1;
    }
    const uint32_t mode = ReduceScheduleMode(schedule->Mode);
    RpcSnapshotSchedule& stored = config.Schedules.Schedules_val[0];
    stored.Mode = mode;
    stored.Param1 = schedule->Param1;
    stored.Param2 = schedule->Param2;
    stored.Param3 = schedule->Param3;
    stored.Param4 = schedule->Param4;
    config.ScheduleMode = mode;
    config.Setting2 = 1;
    config.Setting3 = 1;
    return true;
}

bool TakeOutOfForce(RpcMirrorConfig& config, const QV_SNAPSHOT_SCHEDULE*) noexcept {
    config.Setting2 = 0;
    config.Setting3 = 0;
    return true;
}

// The failed read writes no line of its own; the write-back's line prints
// the service's word.
uint32_t RewriteConfig(const Row& row, QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                       const QV_SNAPSHOT_SCHEDULE* schedule, Edit edit) noexcept {
    RemoteCall<GET_MIRROR_CONFIG> read(handle);
    read.arg.token = RequestToken(row, handle);
    if (!FillRequest(read.arg, name, number)) return NoMemory(row);
    read.Invoke();
    const uint32_t read_status = read.Map();
    if (read_status != 0) return read_status;
    if (!edit(read.res, schedule)) return NoMemory(row);

    RemoteCall<CHANGE_MIRROR_CONFIG> write(handle);
    // The decoded record becomes the request and is released with it.
    write.arg = read.res;
    std::memset(static_cast<void*>(&read.res), 0, sizeof read.res);
    write.arg.token = RequestToken(row, handle);
    write.Invoke();
    return write.Finish(row);
}

}  // namespace

extern "C" QV_STATUS qvScheduleSnapshot(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                        const QV_SNAPSHOT_SCHEDULE* schedule) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (schedule == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return RewriteConfig(rows::qvScheduleSnapshot, handle, name, number, schedule, PutInForce);
}

extern "C" QV_STATUS qvRemoveSnapshotSchedule(QV_HANDLE handle, const QV_WCHAR* name,
                                              uint32_t number) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    return RewriteConfig(rows::qvRemoveSnapshotSchedule, handle, name, number, nullptr,
                         TakeOutOfForce);
}
