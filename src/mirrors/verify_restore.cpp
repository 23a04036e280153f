// Verify of a mirror against its primary and restore of the primary from the
// mirror: the service runs both; the library starts and polls them (the
// cancels are operations defined from their rows).
#include "connection/shapes.h"
#include "diag/log.h"
#include "mirrors/progress_conversion.h"

using namespace qv;

namespace {

// The restore's figures show the state as the service sent it, so that an
// unknown state is still seen in the trace.
constexpr ProgressReport kRestoreProgress{
    LongOperation::kRestore,
    u"Restore Disk, %s:%u, return:%u status:%u dirtyData:%u totalDone:%u",
    LoggedState::kReceived,
};

// The verify state that tells the verify met an error.
constexpr uint32_t kVerifyStateError = 3;

}  // namespace

extern "C" QV_STATUS qvVerifyData(QV_HANDLE handle, const QV_VERIFY_REQUEST* request) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (request == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<VERIFY_DATA> call(handle);
    RpcVerifyRequest& arg = call.arg;
    if (!FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, request->Object)) {
        return NoMemory(rows::qvVerifyData);
    }
    arg.Mode = request->Mode;
    arg.Option1 = request->Option1 != 0 ? 1 : 0;
    arg.Option2 = request->Option2 != 0 ? 1 : 0;
    arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(rows::qvVerifyData);
}

extern "C" QV_STATUS qvGetVerifyProgress(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                         QV_VERIFY_PROGRESS* progress) {
    return ReadByObject<GET_VERIFY_PROGRESS>(
        rows::qvGetVerifyProgress, handle, name, number, progress,
        [](const RpcVerifyProgress& in, QV_VERIFY_PROGRESS& out) {
            ConvertVerifyProgress(in, out);
            if (out.State == kVerifyStateError) {
                // Result is the caller's own word: no reply field feeds it.
                LogMessage(kLogError, u"Verify progress encounters error, state, %d, return, %08X",
                           static_cast<int>(kVerifyStateError), out.Result);
            }
            return 0u;
        });
}

extern "C" QV_STATUS qvRestorePrimary(QV_HANDLE handle, const QV_RESTORE_REQUEST* request) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (request == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<RESTORE_PRIMARY> call(handle);
    RpcRestoreRequest& arg = call.arg;
    arg.Mode = request->Mode;
    arg.Option1 = request->Option1;
    arg.Option2 = request->Option2;
    arg.Option3 = request->Option3;
    arg.token = GetLoginToken(handle);
    // A reference filled before a failure goes back with the request.
    if (!FillSingleObject(arg.Primaries.Primaries_len, arg.Primaries.Primaries_val,
                          request->Primary) ||
        !FillSingleObject(arg.Counterparts.Counterparts_len, arg.Counterparts.Counterparts_val,
                          request->Counterpart)) {
        return NoMemory(rows::qvRestorePrimary);
    }
    call.Invoke();
    return call.Finish(rows::qvRestorePrimary);
}

extern "C" QV_STATUS qvGetRestorePrimaryProgress(QV_HANDLE handle, const QV_WCHAR* name,
                                                 uint32_t number, QV_PROGRESS* progress) {
    return ReadByObject<GET_RESTORE_PRIMARY_PROGRESS>(
        rows::qvGetRestorePrimaryProgress, handle, name, number, progress,
        [&](const RpcProgress& in, QV_PROGRESS& out) {
            return ReportProgress(in, kRestoreProgress, name, number, out);
        });
}
