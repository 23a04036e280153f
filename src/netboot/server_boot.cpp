// The service's own network-boot settings: enabling and disabling PXE boot
// on its side and reading its properties. Each is one remote call and does
// nothing on this machine; the three questions about it are operations
// defined from their rows. The three configuration requests carry 0 in
// their token field (their rows say so) and an empty first text, as the
// service expects.
#include <algorithm>
#include <cstring>

#include "connection/shapes.h"
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
QV_STATUS SendBootConfig(const Row& row, QV_HANDLE handle, const QV_SERVER_BOOT_CONFIG* config) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (config == nullptr) return QV_STATUS_INVALID_PARAMETER;
    RemoteCall<P> call(handle);
    RpcServerBootConfig& arg = call.arg;
    arg.token = RequestToken(row, handle);
    if (!FillBootText(arg.bootText, config->bootText)) return NoMemory(row);
    arg.bootWord1 = config->bootWord1;
    std::memcpy(arg.macAddress, config->macAddress, sizeof arg.macAddress);
    arg.bootWord2 = config->bootWord2;
    arg.bootWord3 = config->bootWord3;
    arg.bootWord4 = config->bootWord4;
    arg.bootWord5 = config->bootWord5;
    call.Invoke();
    return call.Finish(row);
}

}  // namespace

extern "C" QV_STATUS qvEnablePXEBootOnServer(QV_HANDLE handle,
                                             const QV_SERVER_BOOT_CONFIG* config) {
    return SendBootConfig<ENABLE_PXE_BOOT_ON_SERVER>(rows::qvEnablePXEBootOnServer, handle, config);
}

extern "C" QV_STATUS qvSetPXEBootPropertiesOnServer(QV_HANDLE handle,
                                                    const QV_SERVER_BOOT_CONFIG* config) {
    return SendBootConfig<SET_PXE_BOOT_PROPERTIES_ON_SERVER>(
        rows::qvSetPXEBootPropertiesOnServer, handle, config);
}

extern "C" QV_STATUS qvDisablePXEBootOnServer(QV_HANDLE handle) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    const Row& row = rows::qvDisablePXEBootOnServer;
    RemoteCall<DISABLE_PXE_BOOT_ON_SERVER> call(handle);  // no text
    call.arg.token = RequestToken(row, handle);
    call.Invoke();
    return call.Finish(row);
}

extern "C" QV_STATUS qvGetBootProperties(QV_HANDLE handle, QV_BOOT_PROPERTIES* properties) {
    return ReadRecord<GET_BOOT_PROPERTIES>(
        rows::qvGetBootProperties, handle, properties,
        [](const RpcBootProperties& res, QV_BOOT_PROPERTIES& out) -> uint32_t {
            out.propWord1 = res.propWord1;
            out.propWord2 = res.propWord2;
            out.propWord3 = res.propWord3;
            out.propWord4 = res.propWord4;
            if (!WireText(res.propPath1).empty()) CopyIntoArray(res.propPath1, out.propPath1);
            if (!WireText(res.propPath2).empty()) CopyIntoArray(res.propPath2, out.propPath2);
            return 0;
        });
}
