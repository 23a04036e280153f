// Rollback of a protected object to one of its snapshots: the start and the
// progress reader (the cancel is an operation defined from its row).
#include "connection/shapes.h"
#include "mirrors/progress_conversion.h"
#include "snapshots/rollback_request.h"

using namespace qv;

namespace {

// The rollback's figures show the state after the range check.
constexpr ProgressReport kRollbackProgress{
    LongOperation::kRollback,
    u"Rollback Disk, %s:%u, return:%u state:%u dirtyData:%u totalDone:%u",
    LoggedState::kConverted,
};

}  // namespace

extern "C" QV_STATUS qvRollback(QV_HANDLE handle, uint32_t /*ownerKind*/,
                                const QV_OBJECT_ID* object, uint32_t snapshotId, int32_t option) {
    return SendRollback<ROLLBACK>(rows::qvRollback, handle, object, snapshotId, option);
}

extern "C" QV_STATUS qvGetRollbackProgress(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                           QV_PROGRESS* progress) {
    return ReadByObject<GET_ROLLBACK_PROGRESS>(
        rows::qvGetRollbackProgress, handle, name, number, progress,
        [&](const RpcProgress& in, QV_PROGRESS& out) {
            return ReportProgress(in, kRollbackProgress, name, number, out);
        });
}
