// Mirror configuration: enable a protection, change one, list them.
#include <algorithm>
#include <span>

#include "connection/handle.h"
#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/mirror_config_conversion.h"
#include "platform/alloc.h"

namespace {

// Enable and change send the same record; they differ in the procedure, in
// the enable options and Text4 that only a new protection carries, and in
// the line that reports the service's refusal.
template <unsigned P>
uint32_t SendMirrorConfig(QV_HANDLE handle, const QV_MIRROR_CONFIG& config,
                          const QV_MIRROR_ENABLE* enable, const char16_t* error_line) {
    // LimitOn is a promise that Limit is set; the service never sees it.
    if (config.LimitOn != 0 && config.Limit == 0) return QV_STATUS_INVALID_PARAMETER;

    qv::RemoteCall<P> call(handle);
    const uint32_t filled = qv::FillRpcMirrorConfig(
        call.arg, config, enable != nullptr ? qv::MirrorText4::kSend : qv::MirrorText4::kLeaveOut);
    if (filled != 0) return qv::MapRpcStatus(RPC_SUCCESS, filled);
    call.arg.token = qv::GetLoginToken(handle);
    if (enable != nullptr) {
        call.arg.EnableOption1 = qv::WireSwitch(enable->EnableOption1);
        call.arg.EnableOption2 = qv::WireSwitch(enable->EnableOption2);
        call.arg.EnableOption3 = qv::WireSwitch(enable->EnableOption3);
        call.arg.EnableOption4 = qv::WireSwitch(enable->EnableOption4);
    }

    call.Invoke();
    if (call.ServiceStatus() != 0) qv::LogMessage(2, error_line, call.ServiceStatus());
    return call.Map();
}

// Kinds the mirror list does not serve.
constexpr bool IsRefusedListKind(uint32_t kind) noexcept {
    return kind == 2 || kind == 3 || kind == 255;
}

// The configurations a list reply holds, never more than were decoded.
std::span<const RpcMirrorConfig> Received(const RpcMirrorConfigList& reply) noexcept {
    if (reply.Configs.Configs_val == nullptr) return {};
    return {reply.Configs.Configs_val, reply.Configs.Configs_len};
}

// Converts the first reply.Count configurations into the caller's list, all
// or nothing: on failure the list stays empty and nothing stays allocated.
uint32_t FillList(const RpcMirrorConfigList& reply, QV_MIRROR_CONFIG_LIST& list) {
    const std::span<const RpcMirrorConfig> received = Received(reply);
    // The walked count and every walked record are checked before anything
    // is allocated, so a reply that contradicts itself costs nothing.
    if (reply.Count > received.size() ||
        !std::ranges::all_of(received.first(reply.Count), qv::IsCompleteMirrorConfig)) {
        qv::LogMessage(2, u"qvGetMirConfigList, invalid mirror configuration list[%08X]",
                       QV_STATUS_RPC_FAILED);
        return QV_STATUS_RPC_FAILED;
    }
    const std::span<const RpcMirrorConfig> walked = received.first(reply.Count);
    if (walked.empty()) return 0;

    // A block or a copy the heap refuses here ends the call with
    // QV_STATUS_NO_MEMORY and no line: the function's out-of-memory line
    // reports the request's reference only.
    auto* entries =
        static_cast<QV_MIRROR_CONFIG*>(qv::AllocZeroed(walked.size(), sizeof(QV_MIRROR_CONFIG)));
    if (entries == nullptr) return QV_STATUS_NO_MEMORY;
    const std::span<QV_MIRROR_CONFIG> out(entries, walked.size());
    for (std::size_t i = 0; i < walked.size(); ++i) {
        const uint32_t status = qv::ConvertMirrorConfig(walked[i], out[i]);
        if (status != 0) {
            std::ranges::for_each(out.first(i), qv::ReleaseMirrorConfigStrings);
            qv::Free(entries);
            return status;
        }
    }
    list.Entries = entries;
    list.Count = static_cast<uint32_t>(walked.size());
    return 0;
}

}  // namespace

extern "C" QV_STATUS qvEnableMirror(QV_HANDLE handle, const QV_MIRROR_ENABLE* enable) {
    if (!qv::IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (enable == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return SendMirrorConfig<ENABLE_MIRROR>(handle, enable->Config, enable,
                                           u"qvEnableMirror, enable mirror error[%08X]");
}

extern "C" QV_STATUS qvChangeMirrorConfig(QV_HANDLE handle, const QV_MIRROR_CONFIG* config) {
    if (!qv::IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (config == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return SendMirrorConfig<CHANGE_MIRROR_CONFIG>(
        handle, *config, nullptr, u"qvChangeMirrorConfig, change mirror config error[%08X]");
}

extern "C" QV_STATUS qvGetMirConfigList(QV_HANDLE handle, const QV_CONFIG_FILTER* filter,
                                        QV_MIRROR_CONFIG_LIST* list) {
    if (!qv::IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    list->Count = 0;
    list->Entries = nullptr;
    if (filter == nullptr || IsRefusedListKind(filter->Kind)) return QV_STATUS_INVALID_PARAMETER;

    qv::RemoteCall<GET_MIR_CONFIG_LIST> call(handle);
    call.arg.Kind = filter->Kind;
    call.arg.token = qv::GetLoginToken(handle);
    if (filter->Kind == 1) {
        auto* ref = static_cast<RpcObjectRef*>(qv::AllocZeroed(1, sizeof(RpcObjectRef)));
        if (ref != nullptr) {
            call.arg.Objects.Objects_val = ref;
            call.arg.Objects.Objects_len = 1;
        }
        if (ref == nullptr || !qv::FillObjectRef(*ref, filter->Object)) {
            qv::LogMessage(2, u"qvGetMirConfigList, no more memory for memory allocation");
            return qv::MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        }
    }

    call.Invoke();
    const uint32_t status = call.Map();
    if (status != 0) {
        qv::LogMessage(2, u"qvGetMirConfigList, getting mirror configuration list error[%08X]",
                       status);
        return status;
    }
    return FillList(call.res, *list);
}

extern "C" QV_STATUS qvFreeMirConfigList(QV_MIRROR_CONFIG_LIST** list, uint32_t keepHeader) {
    if (list == nullptr || *list == nullptr) return 0;
    QV_MIRROR_CONFIG_LIST* header = *list;
    if (header->Entries != nullptr) {
        std::ranges::for_each(std::span(header->Entries, header->Count),
                              qv::ReleaseMirrorConfigStrings);
        qv::Free(header->Entries);
    }
    if (keepHeader == 0) {
        qv::Free(header);
        *list = nullptr;
    }
    return 0;
}
