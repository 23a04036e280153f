// The data trace configuration of a disk or partition: how the service
// traces its input/output. The library keeps none of it.
#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/object_operation.h"
#include "platform/alloc.h"

using namespace qv;

namespace {

// The count the service takes when the caller leaves it 0.
constexpr uint32_t kDefaultTraceCount = 5;

}  // namespace

extern "C" QV_STATUS qvSetDataTraceConfig(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                          const QV_DATA_TRACE_CONFIG* config) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (config == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<SET_DATA_TRACE_CONFIG> call(handle);
    RpcDataTraceConfig& arg = call.arg;
    arg.status = 0;
    arg.token = GetLoginToken(handle);
    arg.Option = config->Option;
    arg.Count = config->Count == 0 ? kDefaultTraceCount : config->Count;
    const bool filled =
        FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, name, number) &&
        FillOptionalWString(arg.Text, config->Text);
    if (!filled) {
        const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        qvWriteTrace(2, u"qvSetDataTraceConfig, no more memory available!");
        return status;
    }

    call.Invoke();
    const uint32_t status = call.Map();
    if (status != 0) {
        LogMessage(2, u"qvSetDataTraceConfig, setting data trace I/O configuration error[%08X]",
                   status);
    }
    return status;
}

extern "C" QV_STATUS qvGetDataTraceConfig(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                          QV_DATA_TRACE_CONFIG* config) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (config == nullptr) return QV_STATUS_INVALID_PARAMETER;
    config->Option = 0;
    config->Text = nullptr;
    config->Count = 0;

    RemoteCall<GET_DATA_TRACE_CONFIG> call(handle);
    uint32_t status = CallWithObject(call, handle, name, number);
    if (status == 0) {
        char16_t* copy = nullptr;
        if (!CopyOptionalWString(call.res.Text, copy)) {
            status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        } else {
            config->Option = call.res.Option;
            config->Text = copy;
            config->Count = call.res.Count;
        }
    }
    if (status != 0) {
        LogMessage(2, u"qvGetDataTraceConfig, getting data trace I/O configuration error[%08X]",
                   status);
    }
    return status;
}

extern "C" QV_STATUS qvFreeDataTraceConfig(QV_DATA_TRACE_CONFIG** config, uint32_t keep) {
    if (config == nullptr || *config == nullptr) return 0;
    Free((*config)->Text);
    (*config)->Text = nullptr;
    if (keep == 0) {
        Free(*config);
        *config = nullptr;
    }
    return 0;
}
