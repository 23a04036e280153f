// The request both rollbacks send: the snapshot record with only the
// object, the snapshot's number, the option and the token filled (HasView
// and Value64 0, the texts with no elements). ROLLBACK starts the rollback
// in the background; ROLLBACK_TO_SNAPSHOT is the variant of the disk
// maintenance family.
#pragma once

#include <cstdint>
#include <type_traits>

#include "connection/rpc_call.h"

namespace qv {

template <unsigned P>
uint32_t SendRollback(const Row& row, QV_HANDLE handle, const QV_OBJECT_ID* object,
                      uint32_t snapshot_id, int32_t option) noexcept {
    static_assert(std::is_same_v<typename wire::Proc<P>::Arg, RpcSnapshotRecord>);
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (object == nullptr) return QV_STATUS_INVALID_PARAMETER;
    RemoteCall<P> call(handle);
    RpcSnapshotRecord& arg = call.arg;
    if (!FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, *object)) {
        return NoMemory(row);
    }
    arg.SnapshotId = snapshot_id;
    arg.Option = option;
    arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(row);
}

}  // namespace qv
