// The progress readers of the long operations that name one object: restore
// of the primary, rollback, snapshot. Each sends the object reference, turns
// the RpcProgress reply into the caller's QV_PROGRESS with its operation's
// state range and writes one informational line with the figures; a failed
// read writes one error line and leaves the caller's record alone.
//
//   constexpr ProgressReader kRollback{LongOperation::kRollback,
//       u"Rollback Disk, %s:%u, return:%u state:%u dirtyData:%u totalDone:%u",
//       u"qvGetRollbackProgress, getting rollback progess error[%08X]",
//       LoggedState::kConverted};
//   return ReadObjectProgress<GET_ROLLBACK_PROGRESS>(kRollback, handle, name, number, progress);
#pragma once

#include <cstdint>
#include <type_traits>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/object_operation.h"
#include "mirrors/progress_conversion.h"

namespace qv {

// Which state the informational line prints.
enum class LoggedState {
    kConverted,  // the caller's state, after the range check
    kReceived,   // the state as the service sent it
};

struct ProgressReader {
    LongOperation operation;
    // Name (%s), number, result, state, dirty data, total done (%u each).
    const char16_t* progress_line;
    // The mapped status (%08X).
    const char16_t* error_line;
    LoggedState logged_state;
};

// A null progress is refused with QV_STATUS_INVALID_PARAMETER before
// anything is sent.
template <unsigned P>
uint32_t ReadObjectProgress(const ProgressReader& reader, QV_HANDLE handle, const char16_t* name,
                            uint32_t number, QV_PROGRESS* progress) noexcept {
    static_assert(std::is_same_v<typename wire::Proc<P>::Res, RpcProgress>,
                  "a progress reader reads an RpcProgress");
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (progress == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<P> call(handle);
    const uint32_t status = CallWithObject(call, handle, name, number);
    if (status != 0) {
        LogMessage(2, reader.error_line, status);
        return status;
    }

    ConvertProgress(call.res, reader.operation, *progress);
    const uint32_t logged_state =
        reader.logged_state == LoggedState::kReceived ? call.res.State : progress->State;
    LogProgress(reader.progress_line, name == nullptr ? u"" : name, number, progress->Result,
                logged_state, progress->DirtyData, progress->TotalDone);
    return 0;
}

}  // namespace qv
