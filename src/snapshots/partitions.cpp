// Partition operations: allocate a partition for a disk, expand a disk,
// relocate a partition. The service carries out expansion and relocation
// in the background; nothing reports their progress.
#include "connection/rpc_call.h"

using namespace qv;

extern "C" QV_STATUS qvAllocPartitionForDisk(QV_HANDLE handle,
                                             const QV_PARTITION_REQUEST* request) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (request == nullptr) return QV_STATUS_INVALID_PARAMETER;
    RemoteCall<ALLOC_PARTITION_FOR_DISK> call(handle);
    RpcPartitionAlloc& arg = call.arg;
    arg.token = GetLoginToken(handle);
    arg.Param1 = request->Param1;
    arg.Param2 = request->Param2;
    arg.Param3 = request->Param3;
    arg.Param4 = request->Param4;
    // A single record, not an array: kind and token 0.
    if (!FillObjectRef(arg.Object, request->Object)) return NoMemory(rows::qvAllocPartitionForDisk);
    call.Invoke();
    return call.Finish(rows::qvAllocPartitionForDisk);
}

extern "C" QV_STATUS qvExpandDisk(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                  uint32_t value) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<EXPAND_DISK> call(handle);
    call.arg.Value = value;
    call.arg.token = GetLoginToken(handle);
    if (!FillObjectRef(call.arg.Object, name, number)) return NoMemory(rows::qvExpandDisk);
    call.Invoke();
    return call.Finish(rows::qvExpandDisk);
}

extern "C" QV_STATUS qvRelocatePartition(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                         uint32_t value) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<RELOCATE_PARTITION> call(handle);
    RpcRelocatePartition& arg = call.arg;
    arg.Value = value;
    arg.token = GetLoginToken(handle);
    if (!FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, name, number)) {
        return NoMemory(rows::qvRelocatePartition);
    }
    call.Invoke();
    return call.Finish(rows::qvRelocatePartition);
}

extern "C" QV_STATUS qvGetRelocatePartitionProgress(QV_HANDLE, const QV_WCHAR*, uint32_t,
                                                    QV_PROGRESS*) {
    return 0;
}
