#include "support/function_table.h"

#include "quarvane.h"

namespace qvtest {
namespace {

constexpr const char16_t* kPrimary = u"Harddisk1";
constexpr const char16_t* kMirror = u"Harddisk2";

QV_MIRROR_CONFIG SampleConfig() {
    QV_MIRROR_CONFIG c{};
    c.Primary = {kPrimary, 1};
    c.Mirror = {kMirror, 1};
    c.MirrorKind = 1;
    c.Schedule.Mode = 1;
    c.Text1 = u"first";
    c.Text4 = u"fourth";
    return c;
}

template <QV_STATUS (*F)(QV_HANDLE, const QV_WCHAR*, uint32_t)>
QV_STATUS ByObject(QV_HANDLE h) {
    return F(h, kPrimary, 1);
}

QV_STATUS GetDiskList(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 0};
    const QV_DISK_FILTER filter{7, 0, 1, &object};
    QV_DISK_LIST list{};
    const QV_STATUS st = qvGetDiskList(h, &filter, &list);
    QV_DISK_LIST* p = &list;
    qvFreeDiskList(&p, 1);
    return st;
}

QV_STATUS EnableMirror(QV_HANDLE h) {
    QV_MIRROR_ENABLE e{};
    e.Config = SampleConfig();
    return qvEnableMirror(h, &e);
}

QV_STATUS ChangeMirrorConfig(QV_HANDLE h) {
    const QV_MIRROR_CONFIG c = SampleConfig();
    return qvChangeMirrorConfig(h, &c);
}

QV_STATUS GetMirConfigList(QV_HANDLE h) {
    QV_CONFIG_FILTER filter{};
    filter.Kind = 1;
    filter.Object = {kPrimary, 1};
    QV_MIRROR_CONFIG_LIST list{};
    const QV_STATUS st = qvGetMirConfigList(h, &filter, &list);
    QV_MIRROR_CONFIG_LIST* p = &list;
    qvFreeMirConfigList(&p, 1);
    return st;
}

QV_STATUS GetMirrorStat(QV_HANDLE h) {
    QV_MIRROR_STAT stat{};
    return qvGetMirrorStat(h, kPrimary, 1, &stat);
}

QV_STATUS VerifyData(QV_HANDLE h) {
    const QV_VERIFY_REQUEST r{{kPrimary, 1}, 1, 1, 0};
    return qvVerifyData(h, &r);
}

QV_STATUS GetVerifyProgress(QV_HANDLE h) {
    QV_VERIFY_PROGRESS p{};
    return qvGetVerifyProgress(h, kPrimary, 1, &p);
}

QV_STATUS RestorePrimary(QV_HANDLE h) {
    const QV_RESTORE_REQUEST r{{kPrimary, 1}, 1, {kMirror, 1}, 0, 0, 0};
    return qvRestorePrimary(h, &r);
}

QV_STATUS GetRestorePrimaryProgress(QV_HANDLE h) {
    QV_PROGRESS p{};
    return qvGetRestorePrimaryProgress(h, kPrimary, 1, &p);
}

QV_STATUS SetDataTraceConfig(QV_HANDLE h) {
    QV_DATA_TRACE_CONFIG c{1, const_cast<QV_WCHAR*>(u"/var/trace"), 5};
    return qvSetDataTraceConfig(h, kPrimary, 1, &c);
}

QV_STATUS GetDataTraceConfig(QV_HANDLE h) {
    QV_DATA_TRACE_CONFIG c{};
    const QV_STATUS st = qvGetDataTraceConfig(h, kPrimary, 1, &c);
    QV_DATA_TRACE_CONFIG* p = &c;
    qvFreeDataTraceConfig(&p, 1);
    return st;
}

QV_STATUS GetValidNICList(QV_HANDLE h) {
    QV_NIC_LIST list{};
    const QV_STATUS st = qvGetValidNICList(h, &list);
    qvFreeNICList(&list);
    return st;
}

constexpr uint8_t kAdapter[QV_MAC_ADDRESS_BYTES] = {0x00, 0x1b, 0x21, 0xab, 0xcd, 0xef};

template <QV_STATUS (*F)(QV_HANDLE, const uint8_t*)>
QV_STATUS ByAdapter(QV_HANDLE h) {
    return F(h, kAdapter);
}

QV_STATUS GetBootProperties(QV_HANDLE h) {
    QV_BOOT_PROPERTIES properties;
    return qvGetBootProperties(h, &properties);
}

const RemoteFunction kRemote[] = {
    {"qvGetDiskList", GET_DISK_LIST, GetDiskList},
    {"qvRefreshDiskList", GET_DISK_LIST, qvRefreshDiskList},
    {"qvEnableMirror", ENABLE_MIRROR, EnableMirror},
    {"qvChangeMirrorConfig", CHANGE_MIRROR_CONFIG, ChangeMirrorConfig},
    {"qvGetMirConfigList", GET_MIR_CONFIG_LIST, GetMirConfigList},
    {"qvDisableMirror", DISABLE_MIRROR, ByObject<qvDisableMirror>},
    {"qvSuspendMirror", SUSPEND_MIRROR, ByObject<qvSuspendMirror>},
    {"qvResumeMirror", RESUME_MIRROR, ByObject<qvResumeMirror>},
    {"qvStopMirror", STOP_MIRROR, ByObject<qvStopMirror>},
    {"qvSyncMirror", SYNC_MIRROR, ByObject<qvSyncMirror>},
    {"qvCancelSyncMirror", CANCEL_SYNC_MIRROR, ByObject<qvCancelSyncMirror>},
    {"qvGetMirrorStat", GET_MIRROR_STATS, GetMirrorStat},
    {"qvVerifyData", VERIFY_DATA, VerifyData},
    {"qvGetVerifyProgress", GET_VERIFY_PROGRESS, GetVerifyProgress},
    {"qvCancelVeridyData", CANCEL_VERIDY_DATA, ByObject<qvCancelVeridyData>},
    {"qvRestorePrimary", RESTORE_PRIMARY, RestorePrimary},
    {"qvGetRestorePrimaryProgress", GET_RESTORE_PRIMARY_PROGRESS, GetRestorePrimaryProgress},
    {"qvCancelRestorePrimary", CANCEL_RESTORE_PRIMARY, ByObject<qvCancelRestorePrimary>},
    {"qvSetDataTraceConfig", SET_DATA_TRACE_CONFIG, SetDataTraceConfig},
    {"qvGetDataTraceConfig", GET_DATA_TRACE_CONFIG, GetDataTraceConfig},
    {"qvGetValidNICList", GET_VALID_NIC_LIST, GetValidNICList},
    {"qvEnablePXEBoot", ENABLE_PXE_BOOT, ByAdapter<qvEnablePXEBoot>},
    {"qvReconfigPXEBoot", RECONFIG_PXE_BOOT, ByAdapter<qvReconfigPXEBoot>},
    {"qvDisablePXEBoot", DISABLE_PXE_BOOT, qvDisablePXEBoot},
    {"qvGetBootProperties", GET_BOOT_PROPERTIES, GetBootProperties},
};

constexpr std::string_view kOther[] = {
    "qvConnect",
    "qvDisconnect",
    "qvFreeHandle",
    "qvFreeMemory",
    "qvWriteTrace",
    "qvFormatErrMessage",
    "qvFreeErrMessage",
    "qvFreeDiskList",
    "qvFreeMirConfigList",
    "qvFreeMirrorStat",
    "qvFreeDataTraceConfig",
    // Local service control.
    "qvStartService",
    "qvStopService",
    "qvIsServiceRunning",
    // Remote, but off the common rules, and tested with their family: the
    // truth answers, the service's answer word, the requests sent without
    // the login token.
    "qvIsCanEnablePXEBoot",
    "qvIsNetEnvChanged",
    "qvIsPXEBootEnabled",
    "qvIsRemoteBootMode",
    "qvEnablePXEBootOnServer",
    "qvSetPXEBootPropertiesOnServer",
    "qvDisablePXEBootOnServer",
    "qvFreeNICList",
};

}  // namespace

std::span<const RemoteFunction> RemoteFunctions() { return kRemote; }

std::span<const std::string_view> OtherExports() { return kOther; }

const RemoteFunction* FindRemoteFunction(std::string_view name) {
    for (const RemoteFunction& f : kRemote) {
        if (name == f.name) return &f;
    }
    return nullptr;
}

}  // namespace qvtest
