#include "mirrors/mirror_stat_conversion.h"

#include <array>

#include "mirrors/progress_conversion.h"

namespace qv {
namespace {

// The protection states that carry the progress of a long operation.
constexpr uint32_t kStateRestoring = 9;
constexpr uint32_t kStateVerifying = 10;
constexpr uint32_t kStateRollingBack = 11;
constexpr uint32_t kStateSnapshotting = 12;
constexpr uint32_t kLastState = 14;

// Caller's condition for each wire condition, indexed by the wire value.
constexpr std::array<uint32_t, 10> kConditions = {0, 1, 3, 4, 5, 6, 7, 8, 2, 9};

// The first element of a decoded wire array, or null when it has none.
template <typename T>
const T* First(u_int count, const T* elements) noexcept {
    return count > 0 && elements != nullptr ? elements : nullptr;
}

void ConvertIoCounters(const RpcIoCounters& in, QV_IO_COUNTERS& out) noexcept {
    out.KiB1 = KiB(in.Bytes1);
    out.KiB2 = KiB(in.Bytes2);
    out.Count1 = static_cast<uint64_t>(in.Count1);
    out.Count2 = static_cast<uint64_t>(in.Count2);
    out.Count3 = static_cast<uint64_t>(in.Count3);
}

void ApplyRates(QV_IO_COUNTERS& io, uint32_t divisor) noexcept {
    if (divisor == 0) return;
    io.Rate1 = io.KiB1 / divisor;
    io.Rate2 = io.KiB2 / divisor;
}

// The progress that travels with a protection in one of the operation
// states. The kind is set even when the service sent no progress record.
void ConvertStateProgress(const RpcMirrorStats& in, QV_MIRROR_STAT& out) noexcept {
    const auto operation = [&](uint32_t kind, u_int count, const RpcProgress* records,
                               LongOperation op) {
        out.ProgressKind = kind;
        if (const RpcProgress* first = First(count, records)) {
            ConvertProgress(*first, op, out.Progress.Operation);
        }
    };
    switch (out.State) {
        case kStateRestoring:
            operation(QV_PROGRESS_KIND_RESTORE, in.RestoreProgress.RestoreProgress_len,
                      in.RestoreProgress.RestoreProgress_val, LongOperation::kRestore);
            break;
        case kStateRollingBack:
            operation(QV_PROGRESS_KIND_ROLLBACK, in.RollbackProgress.RollbackProgress_len,
                      in.RollbackProgress.RollbackProgress_val, LongOperation::kRollback);
            break;
        case kStateSnapshotting:
            operation(QV_PROGRESS_KIND_SNAPSHOT, in.SnapshotProgress.SnapshotProgress_len,
                      in.SnapshotProgress.SnapshotProgress_val, LongOperation::kSnapshot);
            break;
        case kStateVerifying:
            out.ProgressKind = QV_PROGRESS_KIND_VERIFY;
            if (const RpcVerifyProgress* first = First(in.VerifyProgress.VerifyProgress_len,
                                                       in.VerifyProgress.VerifyProgress_val)) {
                ConvertVerifyProgress(*first, out.Progress.Verify);
            }
            break;
        default:
            break;
    }
}

}  // namespace

uint32_t MirrorState(uint32_t wire_state) noexcept {
    return wire_state >= 1 && wire_state <= kLastState ? wire_state : 0;
}

uint32_t MirrorCondition(uint32_t wire_condition) noexcept {
    return wire_condition < kConditions.size() ? kConditions[wire_condition] : 0;
}

void ConvertMirrorStats(const RpcMirrorStats& in, QV_MIRROR_STAT& out) noexcept {
    out.State = MirrorState(in.State);
    out.Condition = MirrorCondition(in.Condition);
    out.Amount2KiB = KiB(in.Amount2);
    out.Amount1KiB = KiB(in.Amount1);
    out.Value1 = in.Value1;
    out.Value2 = in.Value2;
    out.Value3 = in.Value3;
    out.Value4 = in.Value4;
    out.Value5 = in.Value5;
    out.Value6 = in.Value6;

    const struct {
        u_int count;
        const RpcIoCounters* records;
        QV_IO_COUNTERS& out;
    } blocks[] = {
        {in.Io1.Io1_len, in.Io1.Io1_val, out.Io1},
        {in.Io2.Io2_len, in.Io2.Io2_val, out.Io2},
        {in.Io3.Io3_len, in.Io3.Io3_val, out.Io3},
        {in.Io4.Io4_len, in.Io4.Io4_val, out.Io4},
    };
    for (const auto& block : blocks) {
        if (const RpcIoCounters* first = First(block.count, block.records)) {
            ConvertIoCounters(*first, block.out);
        }
    }
    // The first and third blocks are timed by one divisor, the second and
    // fourth by the other.
    ApplyRates(out.Io1, in.Divisor1);
    ApplyRates(out.Io3, in.Divisor1);
    ApplyRates(out.Io2, in.Divisor2);
    ApplyRates(out.Io4, in.Divisor2);

    ConvertStateProgress(in, out);
}

}  // namespace qv
