#include "support/function_table.h"

#include "quarvane.h"

namespace qvtest {
namespace {

constexpr const char16_t* kPrimary = u"Harddisk1";
constexpr const char16_t* kMirror = u"Harddisk2";

constexpr ErrorLog W = ErrorLog::kServiceWord;
constexpr ErrorLog M = ErrorLog::kMappedStatus;
constexpr ErrorLog N = ErrorLog::kNone;

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

QV_STATUS TakeSnapshot(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 1};
    const QV_SNAPSHOT_REQUEST r{&object, 1};
    return qvTakeSnapshot(h, &r);
}

template <QV_STATUS (*F)(QV_HANDLE, const QV_WCHAR*, uint32_t, QV_PROGRESS*)>
QV_STATUS ReadProgress(QV_HANDLE h) {
    QV_PROGRESS p{};
    return F(h, kPrimary, 1, &p);
}

QV_STATUS GetSnapshotList(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 1};
    const QV_SNAPSHOT_SELECTOR s{QV_SNAPSHOTS_OF_OBJECT, &object, 1, 2, 3};
    QV_SNAPSHOT_LIST list{};
    const QV_STATUS st = qvGetSnapshotList(h, &s, &list);
    QV_SNAPSHOT_LIST* p = &list;
    qvFreeSnapshotList(&p, 1);
    return st;
}

QV_STATUS DeleteSnapshots(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 1};
    const QV_SNAPSHOT_KEY key{0, &object, 7};
    const QV_SNAPSHOT_SELECTOR s{QV_SNAPSHOT_OF_OBJECT, &key, 0, 0, 0};
    return qvDeleteSnapshots(h, &s);
}

QV_STATUS Rollback(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 1};
    return qvRollback(h, 0, &object, 7, 1);
}

QV_STATUS MountBacklook(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 1};
    const QV_BACKLOOK_MOUNT m{0, &object, 7, u"view"};
    return qvMountBacklook(h, &m);
}

QV_STATUS UnmountBacklook(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 1};
    return qvUnmountBacklook(h, 0, &object, 7);
}

QV_STATUS GetBacklookDisk(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 1};
    const QV_SNAPSHOT_KEY key{0, &object, 7};
    QV_DISK_LIST list{};
    const QV_STATUS st = qvGetBacklookDisk(h, &key, &list, 0);
    QV_DISK_LIST* p = &list;
    qvFreeDiskList(&p, 1);
    return st;
}

QV_STATUS AllocPartitionForDisk(QV_HANDLE h) {
    const QV_PARTITION_REQUEST r{{kPrimary, 0}, 1, 2, 3, 4};
    return qvAllocPartitionForDisk(h, &r);
}

template <QV_STATUS (*F)(QV_HANDLE, const QV_WCHAR*, uint32_t, uint32_t)>
QV_STATUS ByObjectAndValue(QV_HANDLE h) {
    return F(h, kPrimary, 1, 5);
}

QV_STATUS GetNotifications(QV_HANDLE h) {
    QV_NOTIFICATION_LIST list{};
    const QV_STATUS st = qvGetNotifications(h, 1, 2, 3, &list);
    qvFreeNotifications(&list);
    return st;
}

QV_STATUS ScheduleSnapshot(QV_HANDLE h) {
    const QV_SNAPSHOT_SCHEDULE s{2, 1, 2, 3, 4, 0, 0};
    return qvScheduleSnapshot(h, kPrimary, 1, &s);
}

QV_STATUS RefreshDiskFileSystem(QV_HANDLE h) { return qvRefreshDiskFileSystem(h, 9); }

QV_STATUS CheckRestoreConflict(QV_HANDLE h) {
    const QV_CONFLICT_QUERY q{1, {kPrimary, 1}, {kMirror, 1}, u"text"};
    QV_CONFLICT_LIST list{};
    const QV_STATUS st = qvCheckRestoreConflict(h, &q, &list);
    QV_CONFLICT_LIST* p = &list;
    qvFreeConflictList(&p, 1);
    return st;
}

QV_STATUS TestDiskThroughput(QV_HANDLE h) {
    uint32_t throughput = 0;
    return qvTestDiskThroughput(h, kPrimary, 1, &throughput);
}

QV_STATUS RollbackToSnapshot(QV_HANDLE h) {
    const QV_OBJECT_ID object{kPrimary, 1};
    return qvRollbackToSnapshot(h, 0, &object, 7);
}

QV_STATUS IsRollbackFinished(QV_HANDLE h) {
    uint32_t finished = 0;
    return qvIsRollbackFinished(h, kPrimary, 1, &finished);
}

const RemoteFunction kRemote[] = {
    {"qvGetDiskList", GET_DISK_LIST, GetDiskList, M},
    {"qvRefreshDiskList", GET_DISK_LIST, qvRefreshDiskList, M},
    {"qvEnableMirror", ENABLE_MIRROR, EnableMirror, W},
    {"qvChangeMirrorConfig", CHANGE_MIRROR_CONFIG, ChangeMirrorConfig, W},
    {"qvGetMirConfigList", GET_MIR_CONFIG_LIST, GetMirConfigList, M},
    {"qvDisableMirror", DISABLE_MIRROR, ByObject<qvDisableMirror>, W},
    {"qvSuspendMirror", SUSPEND_MIRROR, ByObject<qvSuspendMirror>, W},
    {"qvResumeMirror", RESUME_MIRROR, ByObject<qvResumeMirror>, W},
    {"qvStopMirror", STOP_MIRROR, ByObject<qvStopMirror>, W},
    {"qvSyncMirror", SYNC_MIRROR, ByObject<qvSyncMirror>, W},
    {"qvCancelSyncMirror", CANCEL_SYNC_MIRROR, ByObject<qvCancelSyncMirror>, W},
    {"qvGetMirrorStat", GET_MIRROR_STATS, GetMirrorStat, M},
    {"qvVerifyData", VERIFY_DATA, VerifyData, W},
    {"qvGetVerifyProgress", GET_VERIFY_PROGRESS, GetVerifyProgress, M},
    {"qvCancelVeridyData", CANCEL_VERIDY_DATA, ByObject<qvCancelVeridyData>, W},
    {"qvRestorePrimary", RESTORE_PRIMARY, RestorePrimary, W},
    {"qvGetRestorePrimaryProgress", GET_RESTORE_PRIMARY_PROGRESS, GetRestorePrimaryProgress, M},
    {"qvCancelRestorePrimary", CANCEL_RESTORE_PRIMARY, ByObject<qvCancelRestorePrimary>, M},
    {"qvSetDataTraceConfig", SET_DATA_TRACE_CONFIG, SetDataTraceConfig, M},
    {"qvGetDataTraceConfig", GET_DATA_TRACE_CONFIG, GetDataTraceConfig, M},
    {"qvTakeSnapshot", TAKE_SNAPSHOT, TakeSnapshot, W},
    {"qvGetSnapshotProgress", GET_SNAPSHOT_PROGRESS, ReadProgress<qvGetSnapshotProgress>, M},
    {"qvCancelSnapshot", CANCEL_SNAPSHOT, ByObject<qvCancelSnapshot>, M},
    {"qvGetSnapshotList", GET_SNAPSHOT_LIST, GetSnapshotList, M},
    {"qvDeleteSnapshots", DELETE_SNAPSHOTS, DeleteSnapshots, W},
    {"qvRollback", ROLLBACK, Rollback, W},
    {"qvGetRollbackProgress", GET_ROLLBACK_PROGRESS, ReadProgress<qvGetRollbackProgress>, M},
    {"qvCancelRollback", CANCEL_ROLLBACK, ByObject<qvCancelRollback>, M},
    {"qvMountBacklook", MOUNT_BACKLOOK, MountBacklook, W},
    {"qvUnmountBacklook", UNMOUNT_BACKLOOK, UnmountBacklook, W},
    {"qvGetBacklookDisk", GET_BACKLOOK_DISK, GetBacklookDisk, M},
    {"qvAllocPartitionForDisk", ALLOC_PARTITION_FOR_DISK, AllocPartitionForDisk, M},
    {"qvExpandDisk", EXPAND_DISK, ByObjectAndValue<qvExpandDisk>, W},
    {"qvRelocatePartition", RELOCATE_PARTITION, ByObjectAndValue<qvRelocatePartition>, W},
    {"qvGetNotifications", GET_NOTIFICATIONS, GetNotifications, M},
    {"qvScheduleSnapshot", GET_MIRROR_CONFIG, ScheduleSnapshot, N, false, CHANGE_MIRROR_CONFIG},
    {"qvRemoveSnapshotSchedule", GET_MIRROR_CONFIG, ByObject<qvRemoveSnapshotSchedule>, N, false,
     CHANGE_MIRROR_CONFIG},
    {"qvBenchMarkDisk", DISK_MAINTENANCE, ByObject<qvBenchMarkDisk>, N},
    {"qvRefreshDiskFileSystem", DISK_MAINTENANCE, RefreshDiskFileSystem, N},
    {"qvCheckRestoreConflict", CHECK_RESTORE_CONFLICT, CheckRestoreConflict, M},
    {"qvTestDiskThroughput", TEST_DISK_THROUGHPUT, TestDiskThroughput, N},
    {"qvIsOriginalDiskHasSnapshots", IS_ORIGINAL_DISK_HAS_SNAPSHOTS,
     ByObject<qvIsOriginalDiskHasSnapshots>, N, true},
    {"qvClearOriginalDiskSnapshots", CLEAR_ORIGINAL_DISK_SNAPSHOTS,
     ByObject<qvClearOriginalDiskSnapshots>, N},
    {"qvRollbackToSnapshot", ROLLBACK_TO_SNAPSHOT, RollbackToSnapshot, M},
    {"qvIsRollbackFinished", IS_ROLLBACK_FINISHED, IsRollbackFinished, M},
};

constexpr std::string_view kOther[] = {
    "qvConnect",           "qvDisconnect",          "qvFreeHandle",
    "qvFreeMemory",        "qvWriteTrace",          "qvFormatErrMessage",
    "qvFreeErrMessage",    "qvFreeDiskList",        "qvFreeMirConfigList",
    "qvFreeMirrorStat",    "qvFreeDataTraceConfig", "qvFreeSnapshotList",
    "qvFreeNotifications", "qvFreeConflictList",    "qvGetRelocatePartitionProgress",
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
