// Partition operations: allocate a partition for a disk, expand a disk,
// relocate a partition. The service carries out expansion and relocation
// in the background; nothing reports their progress.
#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/object_operation.h"

using namespace qv;

namespace {

constexpr ErrorLine kAllocLine{
    u"qvAllocPartitionForDisk, calling rpc allocate partition error[%08X]", LogOn::kMappedStatus};
constexpr ErrorLine kExpandLine{u"qvExpandDisk, expand disk starting error[%08X]",
                                LogOn::kServiceWord};
constexpr ErrorLine kRelocateLine{u"qvRelocatePartition, reloate partition starting error[%08X]",
                                  LogOn::kServiceWord};

// Sends the request `call` holds and writes its line.
template <unsigned P>
uint32_t Send(RemoteCall<P>& call, const ErrorLine& line) noexcept {
    call.Invoke();
    const uint32_t status = call.Map();
    LogOutcome(line, call, status);
    return status;
}

}  // namespace

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
    if (!FillObjectRef(arg.Object, request->Object)) {
        const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        LogMessage(2, kAllocLine.text, status);
        return status;
    }
    return Send(call, kAllocLine);
}

extern "C" QV_STATUS qvExpandDisk(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                  uint32_t value) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<EXPAND_DISK> call(handle);
    call.arg.Value = value;
    call.arg.token = GetLoginToken(handle);
    if (!FillObjectRef(call.arg.Object, name, number)) {
        return MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
    }
    return Send(call, kExpandLine);
}

extern "C" QV_STATUS qvRelocatePartition(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                         uint32_t value) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<RELOCATE_PARTITION> call(handle);
    RpcRelocatePartition& arg = call.arg;
    arg.Value = value;
    arg.token = GetLoginToken(handle);
    if (!FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, name, number)) {
        const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        LogMessage(2, u"qvRelocatePartition, no more memory for allocation");
        return status;
    }
    return Send(call, kRelocateLine);
}

extern "C" QV_STATUS qvGetRelocatePartitionProgress(QV_HANDLE, const QV_WCHAR*, uint32_t,
                                                    QV_PROGRESS*) {
    return 0;
}
