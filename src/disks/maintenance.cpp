// Single-shot operations on a disk or partition beside protection:
// benchmark, file-system refresh, restore conflicts, throughput, the
// snapshots an original disk still carries, and a rollback to one of them.
// Most write no line of their own; the three that do say so in their rows.
#include <span>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/object_operation.h"
#include "platform/alloc.h"
#include "snapshots/rollback_request.h"

using namespace qv;

namespace {

// Operations of DISK_MAINTENANCE.
constexpr uint32_t kBenchmark = 1;
constexpr uint32_t kRefreshFileSystem = 2;

constexpr ErrorLine kConflictLine{u"qvCheckRestoreConflict, check restore conflict error[%08X]",
                                  LogOn::kMappedStatus};
// The rollback sends no option.
constexpr RollbackLines kRollbackToLines{
    u"qvRollbackToSnapshot, no enough memory for allocation",
    {u"qvRollbackToSnapshot call error[Err:%08X]", LogOn::kMappedStatus},
};
constexpr ErrorLine kRollbackFinishedLine{u"qvIsRollbackFinished call error[Err:%08X]",
                                          LogOn::kMappedStatus};

constexpr ObjectOperation kHasSnapshots =
    MakeObjectOperation<IS_ORIGINAL_DISK_HAS_SNAPSHOTS>(nullptr, LogOn::kNothing);
constexpr ObjectOperation kClearSnapshots =
    MakeObjectOperation<CLEAR_ORIGINAL_DISK_SNAPSHOTS>(nullptr, LogOn::kNothing);

uint32_t NoMemory() noexcept { return MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY); }

// A maintenance request about zero or one object; its reply holds nothing
// but the status word that is read.
uint32_t Maintain(QV_HANDLE handle, uint32_t operation, uint32_t parameter,
                  const QV_OBJECT_ID* object) noexcept {
    RemoteCall<DISK_MAINTENANCE> call(handle);
    RpcDiskMaintenance& arg = call.arg;
    arg.token = GetLoginToken(handle);
    arg.Operation = operation;
    arg.Parameter = parameter;
    if (object != nullptr &&
        !FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, *object)) {
        return NoMemory();
    }
    call.Invoke();
    return call.Map();
}

void ReleaseConflicts(QV_CONFLICT* entries, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) Free(entries[i].Name);
    Free(entries);
}

// Fills `list` from the reply; on lack of memory nothing is kept and the
// list claims no entries.
uint32_t ConvertConflicts(const RpcConflictList& reply, QV_CONFLICT_LIST& list) noexcept {
    list.Count = 0;
    list.Entries = nullptr;
    if (reply.Conflicts.Conflicts_val == nullptr || reply.Conflicts.Conflicts_len == 0) return 0;
    const std::span received(reply.Conflicts.Conflicts_val, reply.Conflicts.Conflicts_len);
    auto* entries = static_cast<QV_CONFLICT*>(AllocZeroed(received.size(), sizeof(QV_CONFLICT)));
    if (entries == nullptr) return NoMemory();
    for (std::size_t i = 0; i < received.size(); ++i) {
        entries[i].Name = CopyWString(received[i].Object.name);
        if (entries[i].Name == nullptr) {
            ReleaseConflicts(entries, i);
            return NoMemory();
        }
        entries[i].Number = received[i].Object.number;
        entries[i].Value = received[i].Value;
    }
    list.Count = static_cast<uint32_t>(received.size());
    list.Entries = entries;
    return 0;
}

}  // namespace

extern "C" QV_STATUS qvBenchMarkDisk(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    const QV_OBJECT_ID object{name, number};
    return Maintain(handle, kBenchmark, 0, &object);
}

extern "C" QV_STATUS qvRefreshDiskFileSystem(QV_HANDLE handle, uint32_t parameter) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    return Maintain(handle, kRefreshFileSystem, parameter, nullptr);
}

extern "C" QV_STATUS qvCheckRestoreConflict(QV_HANDLE handle, const QV_CONFLICT_QUERY* query,
                                            QV_CONFLICT_LIST* list) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (query == nullptr || list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    RemoteCall<CHECK_RESTORE_CONFLICT> call(handle);
    RpcConflictQuery& arg = call.arg;
    arg.token = GetLoginToken(handle);
    arg.Flag = query->Flag != 0 ? 1 : 0;
    // Both references are nested: kind and token 0.
    if (!FillObjectRef(arg.First, query->First) || !FillObjectRef(arg.Second, query->Second) ||
        !FillOptionalWString(arg.Text, query->Text)) {
        const uint32_t status = NoMemory();
        LogMessage(2, kConflictLine.text, status);
        return status;
    }
    call.Invoke();
    const uint32_t status = call.Map();
    LogOutcome(kConflictLine, call, status);
    return status != 0 ? status : ConvertConflicts(call.res, *list);
}

extern "C" QV_STATUS qvFreeConflictList(QV_CONFLICT_LIST** list, uint32_t keep) {
    if (list == nullptr || *list == nullptr) return 0;
    QV_CONFLICT_LIST& header = **list;
    if (header.Count != 0 && header.Entries != nullptr) {
        ReleaseConflicts(header.Entries, header.Count);
        header.Entries = nullptr;
    }
    if (keep == 0) {
        Free(*list);
        *list = nullptr;
    }
    return 0;
}

extern "C" QV_STATUS qvTestDiskThroughput(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                          uint32_t* throughput) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (throughput == nullptr) return QV_STATUS_INVALID_PARAMETER;
    RemoteCall<TEST_DISK_THROUGHPUT> call(handle);
    call.arg.token = GetLoginToken(handle);
    if (!FillObjectRef(call.arg.Object, name, number)) return NoMemory();
    call.Invoke();
    const uint32_t status = call.Map();
    if (status == 0) *throughput = call.res.Throughput;
    return status;
}

// The service answers yes with a nonzero word; a failed question reads as
// yes too, so that nothing is cleared on a guess.
extern "C" uint32_t qvIsOriginalDiskHasSnapshots(QV_HANDLE handle, const QV_WCHAR* name,
                                                 uint32_t number) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    return RunObjectOperation(kHasSnapshots, handle, name, number) != 0 ? 1 : 0;
}

extern "C" QV_STATUS qvClearOriginalDiskSnapshots(QV_HANDLE handle, const QV_WCHAR* name,
                                                  uint32_t number) {
    return RunObjectOperation(kClearSnapshots, handle, name, number);
}

extern "C" QV_STATUS qvRollbackToSnapshot(QV_HANDLE handle, uint32_t /*reserved*/,
                                          const QV_OBJECT_ID* object, uint32_t snapshotId) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (object == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return SendRollback<ROLLBACK_TO_SNAPSHOT>(kRollbackToLines, handle, *object, snapshotId, 0);
}

extern "C" QV_STATUS qvIsRollbackFinished(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                          uint32_t* finished) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (finished == nullptr) return QV_STATUS_INVALID_PARAMETER;
    *finished = 0;
    RemoteCall<IS_ROLLBACK_FINISHED> call(handle);
    const uint32_t status = CallWithObject(call, handle, name, number);
    if (status == 0) *finished = call.res.value == 0 ? 1 : 0;
    LogOutcome(kRollbackFinishedLine, call, status);
    return status;
}
