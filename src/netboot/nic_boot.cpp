// Network adapters and the local PXE boot drivers (whether the service
// allows enabling is an operation defined from its row). Enabling, disabling and
// re-configuring act on this machine first, through the network-boot
// module, each of its calls under the crash guard; the service is told
// afterwards, whatever the module answered, and the module's failure code
// wins over the service's status.
#include <cstring>

#include "connection/rpc_call.h"
#include "diag/crash_dump.h"
#include "diag/log.h"
#include "netboot/fixed_text.h"
#include "netboot/pxecfg.h"
#include "platform/alloc.h"

using namespace qv;

namespace {

// One call into the module, under the guard; the dump path was worked out
// before, outside it.
template <typename F>
std::uint32_t Guarded(const std::array<char, kDumpPathCapacity>& dump_path, F module_call) {
    const CrashGuard guard(dump_path);
    return module_call();
}

QV_HW_ADDRESS Address(const uint8_t* mac) noexcept {
    QV_HW_ADDRESS address;
    std::memcpy(address.bytes, mac, sizeof address.bytes);
    return address;
}

// The outcome of a call that followed a local step: a failure code of the
// module wins and is returned with no line of the row's.
template <unsigned P>
QV_STATUS AfterLocalStep(RemoteCall<P>& call, const Row& row, std::uint32_t local) {
    const uint32_t status = call.Map();
    if (local != 0) return local;
    LogFailure(row, call.ServiceStatus(), status);
    return status;
}

// Tells the service of the drivers now on this machine: procedures 101 and 103.
template <unsigned P>
QV_STATUS TellDrivers(const Row& row, QV_HANDLE handle,
                      const std::array<char, kDumpPathCapacity>& dump_path, const uint8_t* mac,
                      std::uint32_t local) {
    RemoteCall<P> call(handle);
    call.arg.token = RequestToken(row, handle);
    call.arg.driversInstalled = Guarded(dump_path, PXEIsDriversInstalled) != 0 ? 1 : 0;
    std::memcpy(call.arg.macAddress, mac, sizeof call.arg.macAddress);
    call.Invoke();
    return AfterLocalStep(call, row, local);
}

}  // namespace

extern "C" QV_STATUS qvGetValidNICList(QV_HANDLE handle, QV_NIC_LIST* list) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    Clear(*list);

    const Row& row = rows::qvGetValidNICList;
    RemoteCall<GET_VALID_NIC_LIST> call(handle);
    call.arg.token = RequestToken(row, handle);
    call.Invoke();
    if (const uint32_t status = call.Finish(row); status != 0) return status;
    const u_int count = call.res.nics.nics_len;
    if (count == 0 || call.res.nics.nics_val == nullptr) return 0;
    auto* nics = static_cast<QV_NIC_INFO*>(AllocZeroed(count, sizeof(QV_NIC_INFO)));
    if (nics == nullptr) return NoMemory(row);
    for (u_int i = 0; i < count; ++i) {
        const RpcNicInfo& from = call.res.nics.nics_val[i];
        QV_NIC_INFO& to = nics[i];
        std::memcpy(to.macAddress, from.macAddress, sizeof to.macAddress);
        to.nicWord1 = from.nicWord1;
        to.nicWord2 = from.nicWord2;
        to.nicValue = from.nicValue;
        CopyIntoArray(from.nicName, to.nicName);
    }
    list->count = static_cast<int32_t>(count);
    list->nics = nics;
    return 0;
}

extern "C" QV_STATUS qvFreeNICList(QV_NIC_LIST* list) {
    if (list != nullptr) Free(list->nics);
    return 0;
}

extern "C" QV_STATUS qvEnablePXEBoot(QV_HANDLE handle, const uint8_t* macAddress) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (macAddress == nullptr) return QV_STATUS_INVALID_PARAMETER;
    const auto dump_path = DumpPath();
    const QV_HW_ADDRESS address = Address(macAddress);
    std::uint32_t local = 0;
    if (Guarded(dump_path, PXEIsDriversInstalled) == 0) {
        LogProgress(u"PXE boot driver is not installed");
        local = Guarded(dump_path, [&] { return PXEInstallDrivers(address); });
        LogProgress(u"Call PXEInstallDrivers returns %08X", local);
    } else {
        LogProgress(u"PXE boot driver is existed");
        local = Guarded(dump_path, [&] { return PXEReConfigPXEEnv(address); });
        LogProgress(u"Call PXEReConfigPXEEnv returns %08X", local);
    }
    return TellDrivers<ENABLE_PXE_BOOT>(rows::qvEnablePXEBoot, handle, dump_path, macAddress,
                                        local);
}

extern "C" QV_STATUS qvReconfigPXEBoot(QV_HANDLE handle, const uint8_t* macAddress) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (macAddress == nullptr) return QV_STATUS_INVALID_PARAMETER;
    const auto dump_path = DumpPath();
    const QV_HW_ADDRESS address = Address(macAddress);
    const std::uint32_t local = Guarded(dump_path, [&] { return PXEReConfigPXEEnv(address); });
    LogProgress(u"PXEReConfigPXEEnv returns %08X", local);
    return TellDrivers<RECONFIG_PXE_BOOT>(rows::qvReconfigPXEBoot, handle, dump_path, macAddress,
                                          local);
}

extern "C" QV_STATUS qvDisablePXEBoot(QV_HANDLE handle) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    const auto dump_path = DumpPath();
    const std::uint32_t local = Guarded(dump_path, PXEUninstallDrivers);
    LogProgress(u"PXEUninstallDrivers returns %08X", local);

    const Row& row = rows::qvDisablePXEBoot;
    RemoteCall<DISABLE_PXE_BOOT> call(handle);
    // The first word says whether the drivers are gone.
    call.arg.status = Guarded(dump_path, PXEIsDriversInstalled) == 0 ? 1 : 0;
    call.arg.token = RequestToken(row, handle);
    call.Invoke();
    return AfterLocalStep(call, row, local);
}
