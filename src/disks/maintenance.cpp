// Single-shot operations on a disk or partition beside protection:
// benchmark, file-system refresh, restore conflicts, throughput, the
// snapshots an original disk still carries, and a rollback to one of them.
// Which of them write a line, and which value it prints, their rows say.
#include "connection/shapes.h"
#include "connection/wire_list.h"
#include "platform/alloc.h"
#include "snapshots/rollback_request.h"

using namespace qv;

namespace {

// Operations of DISK_MAINTENANCE.
constexpr uint32_t kBenchmark = 1;
constexpr uint32_t kRefreshFileSystem = 2;

// A maintenance request about zero or one object; of its reply only the
// status word is read.
uint32_t Maintain(const Row& row, QV_HANDLE handle, uint32_t operation, uint32_t parameter,
                  const QV_OBJECT_ID* object) noexcept {
    RemoteCall<DISK_MAINTENANCE> call(handle);
    RpcDiskMaintenance& arg = call.arg;
    arg.token = GetLoginToken(handle);
    arg.Operation = operation;
    arg.Parameter = parameter;
    if (object != nullptr &&
        !FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, *object)) {
        return NoMemory(row);
    }
    call.Invoke();
    return call.Finish(row);
}

void ReleaseConflict(QV_CONFLICT& entry) noexcept {
    Free(entry.Name);
    entry.Name = nullptr;
}

uint32_t ConvertConflict(const RpcConflict& in, QV_CONFLICT& out) noexcept {
    out.Name = CopyWString(in.Object.name);
    out.Number = in.Object.number;
    out.Value = in.Value;
    return out.Name != nullptr ? 0 : QV_STATUS_NO_MEMORY;
}

}  // namespace

extern "C" QV_STATUS qvBenchMarkDisk(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    const QV_OBJECT_ID object{name, number};
    return Maintain(rows::qvBenchMarkDisk, handle, kBenchmark, 0, &object);
}

extern "C" QV_STATUS qvRefreshDiskFileSystem(QV_HANDLE handle, uint32_t parameter) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    return Maintain(rows::qvRefreshDiskFileSystem, handle, kRefreshFileSystem, parameter, nullptr);
}

// The caller's list is written only when the whole reply converted.
extern "C" QV_STATUS qvCheckRestoreConflict(QV_HANDLE handle, const QV_CONFLICT_QUERY* query,
                                            QV_CONFLICT_LIST* list) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (query == nullptr || list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    const Row& row = rows::qvCheckRestoreConflict;
    RemoteCall<CHECK_RESTORE_CONFLICT> call(handle);
    RpcConflictQuery& arg = call.arg;
    arg.token = GetLoginToken(handle);
    arg.Flag = query->Flag != 0 ? 1 : 0;
    // Both references are nested: kind and token 0.
    if (!FillObjectRef(arg.First, query->First) || !FillObjectRef(arg.Second, query->Second) ||
        !FillOptionalWString(arg.Text, query->Text)) {
        return NoMemory(row);
    }
    call.Invoke();
    uint32_t status = call.Finish(row);
    if (status != 0) return status;
    QV_CONFLICT_LIST converted{};
    status = ConvertEntries<ReleaseConflict>(Received(call.res.Conflicts), ConvertConflict,
                                             converted.Entries, converted.Count);
    if (status == 0) *list = converted;
    return status;
}

extern "C" QV_STATUS qvFreeConflictList(QV_CONFLICT_LIST** list, uint32_t keep) {
    if (list == nullptr || *list == nullptr) return 0;
    QV_CONFLICT_LIST& header = **list;
    if (header.Count != 0) {
        ReleaseEntries<&QV_CONFLICT_LIST::Count, &QV_CONFLICT_LIST::Entries>(header,
                                                                             ReleaseConflict);
        header.Entries = nullptr;  // the count stays
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
    if (!FillObjectRef(call.arg.Object, name, number)) return NoMemory(rows::qvTestDiskThroughput);
    call.Invoke();
    const uint32_t status = call.Finish(rows::qvTestDiskThroughput);
    if (status == 0) *throughput = call.res.Throughput;
    return status;
}

extern "C" QV_STATUS qvRollbackToSnapshot(QV_HANDLE handle, uint32_t /*reserved*/,
                                          const QV_OBJECT_ID* object, uint32_t snapshotId) {
    // The variant sends no option.
    return SendRollback<ROLLBACK_TO_SNAPSHOT>(rows::qvRollbackToSnapshot, handle, object,
                                              snapshotId, 0);
}

// The boolean is 0 first, and 1 on success when the record's value says the
// rollback has ended.
extern "C" QV_STATUS qvIsRollbackFinished(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                          uint32_t* finished) {
    return ReadByObject<IS_ROLLBACK_FINISHED>(rows::qvIsRollbackFinished, handle, name, number,
                                              finished, [](const RpcStatus& in, uint32_t& out) {
                                                  out = in.value == 0 ? 1 : 0;
                                                  return 0u;
                                              });
}
