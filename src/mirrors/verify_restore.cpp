// Verify of a mirror against its primary and restore of the primary from the
// mirror: the service runs both; the library starts, polls and cancels them.
#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/object_operation.h"
#include "mirrors/progress_conversion.h"
#include "mirrors/progress_reader.h"

using namespace qv;

namespace {

// The cancels' lines name the operations as "stop".
constexpr ObjectOperation kCancelVerify = MakeObjectOperation<CANCEL_VERIDY_DATA>(
    u"qvStopVeridyData, stop verify mirror error[%08X]", LogOn::kServiceWord);
constexpr ObjectOperation kCancelRestore = MakeObjectOperation<CANCEL_RESTORE_PRIMARY>(
    u"qvStopRestorePrimary, stopping restoring progess error[%08X]", LogOn::kMappedStatus);

// The restore's figures show the state as the service sent it, so that an
// unknown state is still seen in the trace.
constexpr ProgressReader kRestoreProgress{
    LongOperation::kRestore,
    u"Restore Disk, %s:%u, return:%u status:%u dirtyData:%u totalDone:%u",
    u"qvGetRestorePrimaryProgress, getting restoring progess error[%08X]",
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
        const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        LogMessage(2, u"qvVerifyData, no more available memory to use");
        return status;
    }
    arg.Mode = request->Mode;
    arg.Option1 = request->Option1 != 0 ? 1 : 0;
    arg.Option2 = request->Option2 != 0 ? 1 : 0;
    arg.token = GetLoginToken(handle);

    call.Invoke();
    if (call.ServiceStatus() != 0) {
        LogMessage(2, u"qvVerifyData, start verify mirror error[%08X]", call.ServiceStatus());
    }
    return call.Map();
}

extern "C" QV_STATUS qvGetVerifyProgress(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                         QV_VERIFY_PROGRESS* progress) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (progress == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<GET_VERIFY_PROGRESS> call(handle);
    const uint32_t status = CallWithObject(call, handle, name, number);
    if (status != 0) {
        LogMessage(2, u"qvGetVerifyProgress, getting verify result error[%08X]", status);
        return status;
    }

    ConvertVerifyProgress(call.res, *progress);
    if (progress->State == kVerifyStateError) {
        // Result is the caller's own word: no reply field feeds it.
        LogMessage(2, u"Verify progress encounters error, state, %d, return, %08X",
                   static_cast<int>(kVerifyStateError), progress->Result);
    }
    return 0;
}

extern "C" QV_STATUS qvCancelVeridyData(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    return RunObjectOperation(kCancelVerify, handle, name, number);
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
        const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        LogMessage(2, u"qvRestorePrimary, no memory for allocation");
        return status;
    }

    call.Invoke();
    if (call.ServiceStatus() != 0) {
        LogMessage(2, u"qvRestorePrimary, restore mirror error[%08X]", call.ServiceStatus());
    }
    return call.Map();
}

extern "C" QV_STATUS qvGetRestorePrimaryProgress(QV_HANDLE handle, const QV_WCHAR* name,
                                                 uint32_t number, QV_PROGRESS* progress) {
    return ReadObjectProgress<GET_RESTORE_PRIMARY_PROGRESS>(kRestoreProgress, handle, name, number,
                                                            progress);
}

extern "C" QV_STATUS qvCancelRestorePrimary(QV_HANDLE handle, const QV_WCHAR* name,
                                            uint32_t number) {
    return RunObjectOperation(kCancelRestore, handle, name, number);
}
