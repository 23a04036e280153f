// The service's own network-boot settings: enabling and disabling PXE boot
// on its side, its properties, and three questions. Each is one remote call
// and does nothing on this machine. The three configuration requests carry
// 0 in their token field and an empty first text, as the service expects.
#include <algorithm>
#include <cstring>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "netboot/fixed_text.h"
#include "platform/alloc.h"

using namespace qv;

namespace {

// The caller's boot text, at most 15 characters: sent with its terminator
// counted, or as no units at all when it is empty.
bool FillBootText(RpcWString& out, const QV_WCHAR (&text)[QV_BOOT_TEXT_CHARS]) noexcept {
    const std::size_t length =
        std::find(text, text + QV_BOOT_TEXT_CHARS - 1, u'\0') - static_cast<const QV_WCHAR*>(text);
    if (length == 0) return true;
    auto* units = static_cast<RpcWChar*>(AllocZeroed(length + 1, sizeof(RpcWChar)));
    if (units == nullptr) return false;
    std::copy_n(text, length, units);
    out.RpcWString_len = static_cast<u_int>(length + 1);
    out.RpcWString_val = units;
    return true;
}

template <unsigned P>
QV_STATUS SendBootConfig(QV_HANDLE handle, const QV_SERVER_BOOT_CONFIG* config,
                         const char16_t* line) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (config == nullptr) return QV_STATUS_INVALID_PARAMETER;
    RemoteCall<P> call(handle);
    RpcServerBootConfig& arg = call.arg;
    if (!FillBootText(arg.bootText, config->bootText)) {
        const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        LogMessage(2, line, status);
        return status;
    }
    arg.bootWord1 = config->bootWord1;
    std::memcpy(arg.macAddress, config->macAddress, sizeof arg.macAddress);
    arg.bootWord2 = config->bootWord2;
    arg.bootWord3 = config->bootWord3;
    arg.bootWord4 = config->bootWord4;
    arg.bootWord5 = config->bootWord5;
    call.Invoke();
    const uint32_t status = call.Map();
    if (status != 0) LogMessage(2, line, call.ServiceStatus());
    return status;
}

// A question answered by the status alone: 1 when the service says 0. Any
// other answer, a fault included, is logged as the service's negative.
template <unsigned P>
uint32_t AskService(QV_HANDLE handle, const char16_t* line) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<P> call(handle);
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    if (call.Map() == 0) return 1;
    LogMessage(2, line, call.ServiceStatus());
    return 0;
}

}  // namespace

extern "C" QV_STATUS qvEnablePXEBootOnServer(QV_HANDLE handle,
                                             const QV_SERVER_BOOT_CONFIG* config) {
    return SendBootConfig<ENABLE_PXE_BOOT_ON_SERVER>(
        handle, config, u"qvEnablePXEBootOnServer, return error[%08X]");
}

extern "C" QV_STATUS qvSetPXEBootPropertiesOnServer(QV_HANDLE handle,
                                                    const QV_SERVER_BOOT_CONFIG* config) {
    return SendBootConfig<SET_PXE_BOOT_PROPERTIES_ON_SERVER>(
        handle, config, u"qvSetPXEBootPropertiesOnServer, return error[%08X]");
}

extern "C" QV_STATUS qvDisablePXEBootOnServer(QV_HANDLE handle) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<DISABLE_PXE_BOOT_ON_SERVER> call(handle);  // token 0, no text
    call.Invoke();
    const uint32_t status = call.Map();
    if (status != 0) {
        LogMessage(2, u"qvDisablePXEBootOnServer, return error[%08X]", call.ServiceStatus());
    }
    return status;
}

extern "C" uint32_t qvIsNetEnvChanged(QV_HANDLE handle) {
    return AskService<IS_NET_ENV_CHANGED>(
        handle, u"qvIsNetEnvChanged, return code[%08X], NET ENV not changed yet");
}

extern "C" uint32_t qvIsPXEBootEnabled(QV_HANDLE handle) {
    return AskService<IS_PXE_BOOT_ENABLED>(
        handle, u"qvIsPXEBootEnabled, return code[%08X], PXE boot not enabled");
}

extern "C" uint32_t qvIsRemoteBootMode(QV_HANDLE handle) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<IS_REMOTE_BOOT_MODE> call(handle);
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Map() == 0 ? call.res.value : 0;
}

extern "C" QV_STATUS qvGetBootProperties(QV_HANDLE handle, QV_BOOT_PROPERTIES* properties) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (properties == nullptr) return QV_STATUS_INVALID_PARAMETER;
    std::memset(properties, 0, sizeof *properties);
    RemoteCall<GET_BOOT_PROPERTIES> call(handle);
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    const uint32_t status = call.Map();
    if (status != 0) {
        LogMessage(2, u"qvGetBootProperties, return error[%08X]", call.ServiceStatus());
        return status;
    }
    const RpcBootProperties& res = call.res;
    properties->propWord1 = res.propWord1;
    properties->propWord2 = res.propWord2;
    properties->propWord3 = res.propWord3;
    properties->propWord4 = res.propWord4;
    if (!WireText(res.propPath1).empty()) CopyIntoArray(res.propPath1, properties->propPath1);
    if (!WireText(res.propPath2).empty()) CopyIntoArray(res.propPath2, properties->propPath2);
    return 0;
}
