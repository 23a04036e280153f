#include "progress.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qvsim {
namespace {


uint32_t Clamp32(double v) {
    if (!(v > 0)) return 0;
    constexpr double kMax = std::numeric_limits<uint32_t>::max();
    return v >= kMax ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(v);
}

int64_t Clamp64(double v) {
    if (!(v > 0)) return 0;
    constexpr double kMax = 9.0e18;
    return v >= kMax ? static_cast<int64_t>(kMax) : static_cast<int64_t>(v);
}

uint32_t Percent(const Operation& op) {
    if (op.total_mib <= 0) return op.state == OpState::kCompleted ? 100 : 0;
    return Clamp32(std::floor(op.done_mib * 100.0 / op.total_mib));
}

}  // namespace

void FillProgress(const Operation& op, RpcProgress& out) {
    out.State = static_cast<uint32_t>(op.state);
    out.Result = op.result;
    out.DirtyData = Clamp32(std::ceil(op.total_mib - op.done_mib));
    out.TotalDone = Clamp32(std::floor(op.done_mib));
}

void FillVerifyProgress(const Protection& p, const Rates& rates, RpcVerifyProgress& out) {
    const Operation& op = p.verify;
    const double done = op.done_mib * kMiB;
    const double total = op.total_mib * kMiB;
    // A verify knows no failed state: any early end reads as state 3; the
    // event log and the notifications tell a failure from a cancel.
    const OpState state = op.state == OpState::kFailed ? OpState::kCancelled : op.state;
    out.State = static_cast<uint32_t>(state);
    out.Amount0 = Clamp64(total - done);  // left to compare
    out.Amount1 = Clamp64(done);          // compared
    out.Amount2 = Clamp64(total);         // to compare in all
    out.Amount3 = 0;                      // found different: the simulated mirror always matches
    out.Count = Clamp64(std::floor(done / kBlockBytes));  // blocks compared
    out.Value1 = Percent(op);
    out.Value2 = Clamp32(std::floor(op.elapsed_s));  // seconds spent
    out.Value3 = 0;                                  // blocks found different
    out.Value4 = op.mode;
    out.Value5 = op.options;
    // Bytes per second: the current rate while running, the average after.
    const double rate = op.Running()       ? p.CopyRate(rates) * kMiB
                        : op.elapsed_s > 0 ? done / op.elapsed_s
                                           : 0;
    out.Value6 = Clamp32(rate);
}

}  // namespace qvsim
