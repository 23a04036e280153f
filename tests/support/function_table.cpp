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

QV_CLUSTER_GROUP SampleGroup() {
    QV_CLUSTER_GROUP g{};
    std::u16string_view(u"SQL Group").copy(g.groupName, 255);
    std::u16string_view(u"{6f1c2a10}").copy(g.groupTag, 63);
    std::u16string_view(u"Cluster Disk 1").copy(g.disk.diskName, 127);
    g.disk.diskId = 101;
    return g;
}

QV_STATUS GetClusterInfo(QV_HANDLE h) {
    QV_CLUSTER_INFO info{};
    const QV_STATUS st = qvGetClusterInfo(h, &info);
    QV_CLUSTER_INFO* p = &info;
    qvFreeClusterInfo(&p, 1);
    return st;
}

QV_STATUS GetClusterDisks(QV_HANDLE h) {
    const QV_CLUSTER_GROUP g = SampleGroup();
    QV_CLUSTER_DISK_LIST list{};
    const QV_STATUS st = qvGetClusterGroupPhysicalDiskList(h, &g, &list);
    QV_CLUSTER_DISK_LIST* p = &list;
    qvFreePhysicalDiskList(&p, 1);
    return st;
}

template <QV_STATUS (*F)(QV_HANDLE, const QV_CLUSTER_GROUP*)>
QV_STATUS ByGroup(QV_HANDLE h) {
    const QV_CLUSTER_GROUP g = SampleGroup();
    return F(h, &g);
}

QV_STATUS FailoverAction(QV_HANDLE h) {
    const QV_CLUSTER_GROUP g = SampleGroup();
    return qvFailoverAction(h, &g, 1);
}

QV_STATUS ClusterCommunication(QV_HANDLE h) { return qvClusterCommunication(h, u"hello"); }

QV_STATUS PullInformation(QV_HANDLE h) {
    QV_PULL_INFO info{};
    const QV_STATUS st = qvPullInformation(h, 1, &info);
    qvFreeMemory(info.text);
    return st;
}

QV_STATUS WriteEventMessage(QV_HANDLE h) {
    return qvWriteEventMessage(h, QV_EVENT_INFORMATION, 1, kPrimary, 1, u"written");
}

QV_STATUS GetEventList(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 1};
    const QV_EVENT_QUERY query{QV_EVENT_SELECT_OBJECT, 0, 0, &object, 4, 0, 0, 0};
    QV_EVENT_LIST list{};
    const QV_STATUS st = qvGetEventList(h, &query, &list);
    QV_EVENT_LIST* p = &list;
    qvFreeEventList(&p, 1);
    return st;
}

QV_STATUS SetTraceLevel(QV_HANDLE h) { return qvSetTraceLevel(h, 3); }

QV_STATUS GetTraceLevel(QV_HANDLE h) {
    uint32_t level = 0;
    return qvGetTraceLevel(h, &level);
}

QV_STATUS GetSystemInfo(QV_HANDLE h) {
    QV_SYSTEM_INFO info{};
    const QV_STATUS st = qvGetSystemInfo(h, &info);
    QV_SYSTEM_INFO* p = &info;
    qvFreeSystemInfo(&p, 1);
    return st;
}

// The capture goes nowhere, so that any number of calls leave no file.
QV_STATUS TakeProbe(QV_HANDLE h) {
    QV_PROBE_REQUEST request{};
    std::u16string_view(u"/dev/null").copy(request.probeFile, QV_PROBE_PATH_UNITS - 1);
    return qvTakeProbe(h, &request);
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
    {"qvGetClusterInfo", GET_CLUSTER_INFO, GetClusterInfo, false},
    {"qvGetClusterGroupPhysicalDiskList", GET_CLUSTER_GROUP_PHYSICAL_DISK_LIST, GetClusterDisks},
    {"qvSetClusterGroupInfo", SET_CLUSTER_GROUP_INFO, ByGroup<qvSetClusterGroupInfo>},
    {"qvRemoveClusterGroupInfo", REMOVE_CLUSTER_GROUP_INFO, ByGroup<qvRemoveClusterGroupInfo>},
    {"qvFailoverAction", FAILOVER_ACTION, FailoverAction},
    {"qvClusterCommunication", CLUSTER_COMMUNICATION, ClusterCommunication},
    {"qvPullInformation", PULL_INFORMATION, PullInformation},
    {"qvWriteEventMessage", WRITE_EVENT_MESSAGE, WriteEventMessage, false},
    {"qvGetEventList", GET_EVENT_LIST, GetEventList},
    {"qvSetTraceLevel", SET_TRACE_LEVEL, SetTraceLevel},
    {"qvGetTraceLevel", GET_TRACE_LEVEL, GetTraceLevel, true, false},
    {"qvGetSystemInfo", GET_SYSTEM_INFO, GetSystemInfo, false, false},
    {"qvTakeProbe", TAKE_PROBE, TakeProbe, false},
};

constexpr std::string_view kOther[] = {
    "qvConnect",           "qvDisconnect",       "qvFreeHandle",          "qvFreeMemory",
    "qvWriteTrace",        "qvFormatErrMessage", "qvFreeErrMessage",      "qvFreeDiskList",
    "qvFreeMirConfigList", "qvFreeMirrorStat",   "qvFreeDataTraceConfig",
    "qvFreeClusterInfo",   "qvFreePhysicalDiskList", "qvFreeEventList",   "qvFreeSystemInfo",
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
