// Diagnostic material from the service: the description of the machine it
// runs on, and a probe capture stored as a file. Neither writes a line of
// its own.
#include <iterator>

#include "connection/rpc_call.h"
#include "platform/alloc.h"
#include "platform/file_write.h"

using namespace qv;

namespace {

// The four texts of the caller's record, the order they are given back in.
constexpr QV_WCHAR* QV_SYSTEM_INFO::*kTexts[] = {
    &QV_SYSTEM_INFO::sysText3, &QV_SYSTEM_INFO::sysText4, &QV_SYSTEM_INFO::sysText1,
    &QV_SYSTEM_INFO::sysText2};

void ReleaseTexts(QV_SYSTEM_INFO& info) noexcept {
    for (const auto text : kTexts) {
        Free(info.*text);
        info.*text = nullptr;
    }
}

// A copy of a received text; none for an empty one. False when the heap says no.
bool CopyText(const RpcWString& in, QV_WCHAR*& out) noexcept {
    out = nullptr;
    if (WireText(in).empty()) return true;
    out = CopyWString(in);
    return out != nullptr;
}

}  // namespace

extern "C" QV_STATUS qvGetSystemInfo(QV_HANDLE handle, QV_SYSTEM_INFO* info) {
    // Emptied before anything else, so an invalid handle leaves it empty too.
    if (info != nullptr) Clear(*info);
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (info == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<GET_SYSTEM_INFO> call(handle);
    call.Invoke();
    const uint32_t status = call.Finish(rows::qvGetSystemInfo);
    if (status != 0) return status;

    const RpcSystemInfo& res = call.res;
    info->sysWord1 = res.sysWord1;
    info->sysWord2 = res.sysWord2;
    info->sysWord3 = res.sysWord3;
    info->sysWord6 = res.sysWord6;
    info->sysWord7 = res.sysWord7;
    info->sysWord4 = res.sysWord4;
    info->sysWord5 = res.sysWord5;
    if (!CopyText(res.sysText3, info->sysText3) || !CopyText(res.sysText4, info->sysText4) ||
        !CopyText(res.sysText2, info->sysText2) || !CopyText(res.sysText1, info->sysText1)) {
        ReleaseTexts(*info);
        Clear(*info);
        return NoMemory();
    }
    return 0;
}

extern "C" QV_STATUS qvFreeSystemInfo(QV_SYSTEM_INFO** info, uint32_t keep) {
    if (info == nullptr || *info == nullptr) return 0;
    ReleaseTexts(**info);
    if (keep == 0) {
        Free(*info);
        *info = nullptr;
    }
    return 0;
}

extern "C" QV_STATUS qvTakeProbe(QV_HANDLE handle, const QV_PROBE_REQUEST* request) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (request == nullptr) return QV_STATUS_INVALID_PARAMETER;

    // The request's words and text are always empty, whatever the caller's
    // record holds: the service assembles the same capture for everyone.
    RemoteCall<TAKE_PROBE> call(handle);
    call.arg.token = GetLoginToken(handle);
    if (!FillWString(call.arg.probeText, u"")) return NoMemory(rows::qvTakeProbe);
    call.Invoke();
    const uint32_t status = call.Finish(rows::qvTakeProbe);
    if (status != 0) return status;

    const RpcProbeData& res = call.res;
    const u_int size = res.data.data_val != nullptr ? res.data.data_len : 0;
    if (!file::WriteWhole(request->probeFile, std::size(request->probeFile), res.data.data_val,
                          size)) {
        return QV_STATUS_LOCAL_FAILURE;
    }
    return 0;
}
