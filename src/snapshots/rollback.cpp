// Rollback of a protected object to one of its snapshots: start, follow,
// cancel. The start sends the snapshot record with only the object, the
// snapshot's number, the option and the token filled.
#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/object_operation.h"
#include "mirrors/progress_reader.h"
#include "snapshots/rollback_request.h"

using namespace qv;

namespace {

// The start's and the cancel's lines name the operation by older names.
constexpr RollbackLines kRollbackLines{
    u"qvRollbackSnapshot, no enough memory for allocation",
    {u"qvRollbackSnapshot, rollback start error[%08X]", LogOn::kServiceWord},
};
constexpr ObjectOperation kCancelRollback = MakeObjectOperation<CANCEL_ROLLBACK>(
    u"qvStopRollback, stopping rollback error[%08X]", LogOn::kMappedStatus);

// The rollback's figures show the state after the range check.
constexpr ProgressReader kRollbackProgress{
    LongOperation::kRollback,
    u"Rollback Disk, %s:%u, return:%u state:%u dirtyData:%u totalDone:%u",
    u"qvGetRollbackProgress, getting rollback progess error[%08X]",
    LoggedState::kConverted,
};

}  // namespace

extern "C" QV_STATUS qvRollback(QV_HANDLE handle, uint32_t /*ownerKind*/,
                                const QV_OBJECT_ID* object, uint32_t snapshotId, int32_t option) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (object == nullptr) return QV_STATUS_INVALID_PARAMETER;

    return SendRollback<ROLLBACK>(kRollbackLines, handle, *object, snapshotId, option);
}

extern "C" QV_STATUS qvGetRollbackProgress(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                           QV_PROGRESS* progress) {
    return ReadObjectProgress<GET_ROLLBACK_PROGRESS>(kRollbackProgress, handle, name, number,
                                                     progress);
}

extern "C" QV_STATUS qvCancelRollback(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    return RunObjectOperation(kCancelRollback, handle, name, number);
}
