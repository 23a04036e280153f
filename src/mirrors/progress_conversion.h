// Progress of the long operations, from the service's records into the
// caller's.
//
// Restore of the primary, rollback and snapshot report an RpcProgress, each
// with its own range of states; a verify reports an RpcVerifyProgress. The
// same records come alone from each operation's progress procedure and
// inside the statistics of a protection or a group, so every reader converts
// them here.
#pragma once

#include <cstdint>

#include "quarvane.h"
#include "qvcliapi.h"

namespace qv {

// The long operations reported through an RpcProgress.
enum class LongOperation {
    kRestore,   // states 1 to 4
    kRollback,  // states 1 to 5
    kSnapshot,  // states 1 to 4
};

// The state as the caller sees it: unchanged inside the operation's range,
// 0 outside it.
uint32_t ProgressState(LongOperation operation, uint32_t wire_state) noexcept;

// State through ProgressState; Result, DirtyData and TotalDone copied. The
// record's status word is not read.
void ConvertProgress(const RpcProgress& in, LongOperation operation, QV_PROGRESS& out) noexcept;

// A verify's state: 1, 2 and 3 pass, anything else gives 0.
uint32_t VerifyProgressState(uint32_t wire_state) noexcept;

// Every field but Result, which no wire field feeds and which stays as the
// caller had it. Amounts become KiB, cut to their low 32 bits.
void ConvertVerifyProgress(const RpcVerifyProgress& in, QV_VERIFY_PROGRESS& out) noexcept;

// Which state a progress reader's informational line prints.
enum class LoggedState {
    kConverted,  // the caller's state, after the range check
    kReceived,   // the state as the service sent it
};

// The informational line a progress reader of a long operation writes with
// its figures: name (%s), number, result, state, dirty data, total done (%u
// each).
struct ProgressReport {
    LongOperation operation;
    const char16_t* line;
    LoggedState logged_state;
};

// ConvertProgress for `report`'s operation, then its line about the object
// (name, number). Returns 0: a progress record always converts.
uint32_t ReportProgress(const RpcProgress& in, const ProgressReport& report, const char16_t* name,
                        uint32_t number, QV_PROGRESS& out) noexcept;

// A byte amount from the wire in KiB: an unsigned 64-bit division whose low
// 32 bits are kept.
constexpr uint32_t KiB(int64_t bytes) noexcept {
    return static_cast<uint32_t>(static_cast<uint64_t>(bytes) >> 10);
}

}  // namespace qv
