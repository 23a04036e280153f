// The statistics of one protection.
#include "connection/shapes.h"
#include "diag/log.h"
#include "mirrors/mirror_stat_conversion.h"
#include "platform/alloc.h"

using namespace qv;

extern "C" QV_STATUS qvGetMirrorStat(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                     QV_MIRROR_STAT* stat) {
    return ReadByObject<GET_MIRROR_STATS>(
        rows::qvGetMirrorStat, handle, name, number, stat,
        [&](const RpcMirrorStats& in, QV_MIRROR_STAT& out) {
            ConvertMirrorStats(in, out);
            if (out.ProgressKind == QV_PROGRESS_KIND_RESTORE) {
                const QV_PROGRESS& progress = out.Progress.Operation;
                LogProgress(
                    u"Restore Disk Progress, %s:%d return:%08X state:%u dirtyData:%u totalDone:%u",
                    name == nullptr ? u"" : name, static_cast<int>(number), progress.Result,
                    progress.State, progress.DirtyData, progress.TotalDone);
            }
            return 0u;
        });
}

extern "C" QV_STATUS qvFreeMirrorStat(QV_MIRROR_STAT** stat, uint32_t keep) {
    if (stat == nullptr || keep != 0) return 0;
    Free(*stat);
    *stat = nullptr;
    return 0;
}
