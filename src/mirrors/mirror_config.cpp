// Mirror configuration: enable a protection, change one, list them.
#include <algorithm>

#include "connection/rpc_call.h"
#include "connection/wire_list.h"
#include "diag/log.h"
#include "mirrors/mirror_config_conversion.h"

namespace {

// Enable and change send the same record; they differ in the procedure, in
// the enable options and Text4 that only a new protection carries, and in
// their rows' lines.
template <unsigned P>
uint32_t SendMirrorConfig(QV_HANDLE handle, const QV_MIRROR_CONFIG& config,
                          const QV_MIRROR_ENABLE* enable, const qv::Row& row) {
    // LimitOn is a promise that Limit is set; the service never sees it.
    if (config.LimitOn != 0 && config.Limit == 0) return QV_STATUS_INVALID_PARAMETER;

    qv::RemoteCall<P> call(handle);
    const uint32_t filled = qv::FillRpcMirrorConfig(
        call.arg, config, enable != nullptr ? qv::MirrorText4::kSend : qv::MirrorText4::kLeaveOut);
    if (filled != 0) return qv::NoMemory();  // the fill wrote its own line
    call.arg.token = qv::GetLoginToken(handle);
    if (enable != nullptr) {
        call.arg.EnableOption1 = qv::WireSwitch(enable->EnableOption1);
        call.arg.EnableOption2 = qv::WireSwitch(enable->EnableOption2);
        call.arg.EnableOption3 = qv::WireSwitch(enable->EnableOption3);
        call.arg.EnableOption4 = qv::WireSwitch(enable->EnableOption4);
    }
    call.Invoke();
    return call.Finish(row);
}

// Kinds the mirror list does not serve.
constexpr bool IsRefusedListKind(uint32_t kind) noexcept {
    return kind == 2 || kind == 3 || kind == 255;
}

// Converts the first reply.Count configurations into the caller's list, all
// or nothing: on failure the list stays empty and nothing stays allocated.
uint32_t FillList(const RpcMirrorConfigList& reply, QV_MIRROR_CONFIG_LIST& list) {
    // The walked count and every walked record are checked before anything
    // is allocated, so a reply that contradicts itself costs nothing.
    const auto walked = qv::Walk(qv::Received(reply.Configs), reply.Count);
    if (!walked || !std::ranges::all_of(*walked, qv::IsCompleteMirrorConfig)) {
        qv::LogMessage(qv::kLogError,
                       u"qvGetMirConfigList, invalid mirror configuration list[%08X]",
                       QV_STATUS_RPC_FAILED);
        return QV_STATUS_RPC_FAILED;
    }
    // A block or a copy the heap refuses here ends the call with
    // QV_STATUS_NO_MEMORY and no line: the function's out-of-memory line
    // reports the request's reference only.
    return qv::ConvertEntries<qv::ReleaseMirrorConfigStrings>(*walked, qv::ConvertMirrorConfig,
                                                              list.Entries, list.Count);
}

}  // namespace

extern "C" QV_STATUS qvEnableMirror(QV_HANDLE handle, const QV_MIRROR_ENABLE* enable) {
    if (!qv::IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (enable == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return SendMirrorConfig<ENABLE_MIRROR>(handle, enable->Config, enable,
                                           qv::rows::qvEnableMirror);
}

extern "C" QV_STATUS qvChangeMirrorConfig(QV_HANDLE handle, const QV_MIRROR_CONFIG* config) {
    if (!qv::IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (config == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return SendMirrorConfig<CHANGE_MIRROR_CONFIG>(handle, *config, nullptr,
                                                  qv::rows::qvChangeMirrorConfig);
}

extern "C" QV_STATUS qvGetMirConfigList(QV_HANDLE handle, const QV_CONFIG_FILTER* filter,
                                        QV_MIRROR_CONFIG_LIST* list) {
    if (!qv::IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    qv::Clear(*list);
    if (filter == nullptr || IsRefusedListKind(filter->Kind)) return QV_STATUS_INVALID_PARAMETER;

    qv::RemoteCall<GET_MIR_CONFIG_LIST> call(handle);
    call.arg.Kind = filter->Kind;
    call.arg.token = qv::GetLoginToken(handle);
    if (filter->Kind == 1 && !qv::FillSingleObject(call.arg.Objects.Objects_len,
                                                   call.arg.Objects.Objects_val, filter->Object)) {
        return qv::NoMemory(qv::rows::qvGetMirConfigList);
    }
    call.Invoke();
    const uint32_t status = call.Finish(qv::rows::qvGetMirConfigList);
    if (status != 0) return status;
    return FillList(call.res, *list);
}

extern "C" QV_STATUS qvFreeMirConfigList(QV_MIRROR_CONFIG_LIST** list, uint32_t keepHeader) {
    return qv::ReleaseList<&QV_MIRROR_CONFIG_LIST::Count, &QV_MIRROR_CONFIG_LIST::Entries>(
        list, keepHeader, qv::ReleaseMirrorConfigStrings);
}
