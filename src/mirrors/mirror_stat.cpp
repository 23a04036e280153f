// The statistics of one protection.
#include <cstring>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/mirror_stat_conversion.h"
#include "mirrors/object_operation.h"
#include "platform/alloc.h"

using namespace qv;

extern "C" QV_STATUS qvGetMirrorStat(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                     QV_MIRROR_STAT* stat) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (stat == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<GET_MIRROR_STATS> call(handle);
    const uint32_t status = CallWithObject(call, handle, name, number);

    // Whatever came back, the caller never sees an earlier record's figures.
    std::memset(stat, 0, sizeof *stat);
    if (status != 0) {
        LogMessage(2, u"RPC_GetMirrorStats, get mirror statistics error[%08X]", status);
        return status;
    }

    ConvertMirrorStats(call.res, *stat);
    if (stat->ProgressKind == QV_PROGRESS_KIND_RESTORE) {
        const QV_PROGRESS& progress = stat->Progress.Operation;
        LogProgress(u"Restore Disk Progress, %s:%d return:%08X state:%u dirtyData:%u totalDone:%u",
                    name == nullptr ? u"" : name, static_cast<int>(number), progress.Result,
                    progress.State, progress.DirtyData, progress.TotalDone);
    }
    return 0;
}

extern "C" QV_STATUS qvFreeMirrorStat(QV_MIRROR_STAT** stat, uint32_t keep) {
    if (stat == nullptr || keep != 0) return 0;
    Free(*stat);
    *stat = nullptr;
    return 0;
}
