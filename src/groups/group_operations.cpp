// Operations on a whole group that the service runs over time: the group
// snapshot and rollback with their progress readers. The plain operations
// (suspend, resume, stop, sync and the cancels) are defined from their rows.
#include "connection/shapes.h"
#include "diag/log.h"
#include "mirrors/progress_conversion.h"

using namespace qv;

namespace {

// The progress of a group's snapshot or rollback, and its informational
// line about the group: name, result, the converted state, dirty data,
// total done.
uint32_t ReportGroupProgress(const RpcProgress& in, LongOperation operation, const char16_t* line,
                             const char16_t* group, QV_PROGRESS& out) noexcept {
    ConvertProgress(in, operation, out);
    LogProgress(line, group == nullptr ? u"" : group, out.Result, out.State, out.DirtyData,
                out.TotalDone);
    return 0;
}

}  // namespace

extern "C" QV_STATUS qvTakeGroupSnapshot(QV_HANDLE handle, const QV_SNAPSHOT_REQUEST* request) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (request == nullptr || request->Owner == nullptr) return QV_STATUS_INVALID_PARAMETER;

    // No object and no text; the option goes as the caller gives it.
    RemoteCall<TAKE_GROUP_SNAPSHOT> call(handle);
    if (!FillWString(call.arg.GroupName, static_cast<const QV_GROUP_REF*>(request->Owner)->Name)) {
        return NoMemory(rows::qvTakeGroupSnapshot);
    }
    call.arg.Option = request->Option;
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(rows::qvTakeGroupSnapshot);
}

extern "C" QV_STATUS qvRollbackGroup(QV_HANDLE handle, uint32_t ownerKind,
                                     const QV_GROUP_REF* group, uint32_t snapshotId) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    // Only a group's snapshot can roll a group back; the kind is not sent.
    if (ownerKind == 0 || group == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<ROLLBACK_GROUP> call(handle);
    if (!FillWString(call.arg.GroupName, group->Name)) return NoMemory(rows::qvRollbackGroup);
    call.arg.SnapshotId = snapshotId;
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(rows::qvRollbackGroup);
}

extern "C" QV_STATUS qvGetGroupSnapshotProgress(QV_HANDLE handle, const QV_WCHAR* group,
                                                QV_PROGRESS* progress) {
    return ReadByGroup<GET_GROUP_SNAPSHOT_PROGRESS>(
        rows::qvGetGroupSnapshotProgress, handle, group, progress,
        [&](const RpcProgress& in, QV_PROGRESS& out) {
            return ReportGroupProgress(
                in, LongOperation::kSnapshot,
                u"Snapshot Group:%s, return:%u state:%u dirtyData:%u totalDone:%u", group, out);
        });
}

extern "C" QV_STATUS qvGetGroupRollbackProgress(QV_HANDLE handle, const QV_WCHAR* group,
                                                QV_PROGRESS* progress) {
    return ReadByGroup<GET_GROUP_ROLLBACK_PROGRESS>(
        rows::qvGetGroupRollbackProgress, handle, group, progress,
        [&](const RpcProgress& in, QV_PROGRESS& out) {
            return ReportGroupProgress(
                in, LongOperation::kRollback,
                u"Rollback group, %s, return:%u state:%u dirtyData:%u totalDone:%u", group, out);
        });
}
