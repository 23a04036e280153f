// The request both rollbacks send: the snapshot record with only the
// object, the snapshot's number, the option and the token filled (HasView
// and Value64 0, the texts with no elements). ROLLBACK starts the rollback
// in the background; ROLLBACK_TO_SNAPSHOT is the variant of the disk
// maintenance family.
#pragma once

#include <cstdint>
#include <type_traits>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/object_operation.h"

namespace qv {

struct RollbackLines {
    const char16_t* no_memory;
    ErrorLine error;
};

template <unsigned P>
uint32_t SendRollback(const RollbackLines& lines, QV_HANDLE handle, const QV_OBJECT_ID& object,
                      uint32_t snapshot_id, int32_t option) noexcept {
    static_assert(std::is_same_v<typename wire::Proc<P>::Arg, RpcSnapshotRecord>);
    RemoteCall<P> call(handle);
    RpcSnapshotRecord& arg = call.arg;
    if (!FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, object)) {
        const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        LogMessage(2, lines.no_memory);
        return status;
    }
    arg.SnapshotId = snapshot_id;
    arg.Option = option;
    arg.token = GetLoginToken(handle);
    call.Invoke();
    const uint32_t status = call.Map();
    LogOutcome(lines.error, call, status);
    return status;
}

}  // namespace qv
