// The data trace configuration of a disk or partition: how the service
// traces its input/output. The library keeps none of it.
#include "connection/shapes.h"
#include "diag/log.h"
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
    if (!FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, name, number) ||
        !FillOptionalWString(arg.Text, config->Text)) {
        // This one line goes through the exported trace entry point.
        const uint32_t status = NoMemory();
        qvWriteTrace(kLogError, rows::qvSetDataTraceConfig.no_memory.text);
        return status;
    }
    call.Invoke();
    return call.Finish(rows::qvSetDataTraceConfig);
}

extern "C" QV_STATUS qvGetDataTraceConfig(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                          QV_DATA_TRACE_CONFIG* config) {
    return ReadByObject<GET_DATA_TRACE_CONFIG>(
        rows::qvGetDataTraceConfig, handle, name, number, config,
        [](const RpcDataTraceConfig& in, QV_DATA_TRACE_CONFIG& out) {
            char16_t* text = nullptr;
            if (!CopyOptionalWString(in.Text, text)) return NoMemory();
            out.Option = in.Option;
            out.Text = text;
            out.Count = in.Count;
            return 0u;
        });
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
