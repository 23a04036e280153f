#include "protection.h"

#include <algorithm>
#include <array>
#include <utility>

#include "status.h"

namespace qvsim {
namespace {

constexpr std::array<std::pair<MirrorState, const char*>, 7> kStateNames{{
    {MirrorState::kMirrored, "mirrored"},
    {MirrorState::kSynchronizing, "synchronizing"},
    {MirrorState::kSuspended, "suspended"},
    {MirrorState::kStopped, "stopped"},
    {MirrorState::kOutOfSync, "out-of-sync"},
    {MirrorState::kRestoring, "restoring"},
    {MirrorState::kVerifying, "verifying"},
}};


// The refusal for an operation that needs the protection to itself while
// verify or restore has it.
bool Busy(MirrorState s) { return s == MirrorState::kVerifying || s == MirrorState::kRestoring; }

}  // namespace

const char* StateName(MirrorState state) noexcept {
    for (const auto& [s, name] : kStateNames) {
        if (s == state) return name;
    }
    return "unknown";
}

std::optional<MirrorState> StateFromName(std::string_view name) noexcept {
    for (const auto& [s, n] : kStateNames) {
        if (name == n) return s;
    }
    return std::nullopt;
}

void Operation::Start(double total, uint32_t request_mode, uint32_t request_options) noexcept {
    state = OpState::kRunning;
    result = 0;
    total_mib = total;
    done_mib = 0;
    elapsed_s = 0;
    mode = request_mode;
    options = request_options;
}

Protection::Protection(ObjectId primary_id, ObjectId mirror_id, uint64_t size,
                       MirrorSettings config)
    : primary(std::move(primary_id)),
      mirror(std::move(mirror_id)),
      size_mib(size),
      settings(std::move(config)) {
    // A new mirror knows nothing yet: everything is copied once.
    BeginSync(static_cast<double>(size_mib));
}

void Protection::BeginSync(double amount_mib) {
    dirty_mib = std::min(amount_mib, static_cast<double>(size_mib));
    sync.Start(dirty_mib, 0, 0);
    state = MirrorState::kSynchronizing;
}

uint32_t Protection::Suspend() {
    switch (state) {
        case MirrorState::kMirrored:
        case MirrorState::kOutOfSync:
            break;
        case MirrorState::kSynchronizing:
            // What is left of the copy stays dirty; resuming picks it up.
            sync.state = OpState::kCancelled;
            sync.result = status::kCancelled;
            break;
        case MirrorState::kSuspended:
            return status::kWrongState;
        case MirrorState::kStopped:
            return status::kProtectionStopped;
        case MirrorState::kVerifying:
        case MirrorState::kRestoring:
            return status::kOtherOperationRunning;
    }
    state = MirrorState::kSuspended;
    return status::kOk;
}

uint32_t Protection::Resume() {
    switch (state) {
        case MirrorState::kSuspended:
            BeginSync(dirty_mib);
            return status::kOk;
        case MirrorState::kStopped:
            BeginSync(static_cast<double>(size_mib));
            return status::kOk;
        case MirrorState::kVerifying:
        case MirrorState::kRestoring:
            return status::kOtherOperationRunning;
        default:
            return status::kWrongState;
    }
}

uint32_t Protection::Stop() {
    switch (state) {
        case MirrorState::kStopped:
            return status::kAlreadyStopped;
        case MirrorState::kVerifying:
        case MirrorState::kRestoring:
            return status::kOtherOperationRunning;
        case MirrorState::kSynchronizing:
            sync.state = OpState::kCancelled;
            sync.result = status::kCancelled;
            break;
        default:
            break;
    }
    // Nothing is tracked while stopped, so the mirror must be copied whole
    // when mirroring starts again.
    state = MirrorState::kStopped;
    dirty_mib = static_cast<double>(size_mib);
    return status::kOk;
}

uint32_t Protection::StartSync() {
    switch (state) {
        case MirrorState::kMirrored:
            // Asked for while in sync: the client wants the mirror rebuilt.
            BeginSync(static_cast<double>(size_mib));
            return status::kOk;
        case MirrorState::kOutOfSync:
            BeginSync(dirty_mib);
            return status::kOk;
        case MirrorState::kSynchronizing:
            return status::kAlreadyInProgress;
        case MirrorState::kSuspended:
            return status::kWrongState;
        case MirrorState::kStopped:
            return status::kProtectionStopped;
        case MirrorState::kVerifying:
        case MirrorState::kRestoring:
            return status::kOtherOperationRunning;
    }
    return status::kWrongState;
}

uint32_t Protection::CancelSync() {
    if (state != MirrorState::kSynchronizing) return status::kNoTaskRunning;
    sync.state = OpState::kCancelled;
    sync.result = status::kCancelled;
    state = MirrorState::kOutOfSync;
    return status::kOk;
}

uint32_t Protection::CanDisable() const {
    return Busy(state) ? status::kOtherOperationRunning : status::kOk;
}

uint32_t Protection::StartVerify(uint32_t mode, uint32_t options) {
    switch (state) {
        case MirrorState::kMirrored:
            verify.Start(static_cast<double>(size_mib), mode, options);
            state = MirrorState::kVerifying;
            return status::kOk;
        case MirrorState::kVerifying:
            return status::kAlreadyInProgress;
        case MirrorState::kSynchronizing:
        case MirrorState::kRestoring:
            return status::kOtherOperationRunning;
        case MirrorState::kStopped:
            return status::kProtectionStopped;
        default:
            // Comparing makes sense only while the mirror is meant to match.
            return status::kWrongState;
    }
}

uint32_t Protection::CancelVerify() {
    if (state != MirrorState::kVerifying) return status::kNoTaskRunning;
    verify.state = OpState::kCancelled;
    verify.result = status::kCancelled;
    state = MirrorState::kMirrored;
    return status::kOk;
}

uint32_t Protection::StartRestore(uint32_t mode, uint32_t options) {
    switch (state) {
        case MirrorState::kMirrored:
        case MirrorState::kSuspended:
        case MirrorState::kStopped:
            restore.Start(static_cast<double>(size_mib), mode, options);
            state = MirrorState::kRestoring;
            return status::kOk;
        case MirrorState::kRestoring:
            return status::kAlreadyInProgress;
        case MirrorState::kSynchronizing:
        case MirrorState::kVerifying:
            return status::kOtherOperationRunning;
        case MirrorState::kOutOfSync:
            // The mirror holds a half-finished copy: nothing to restore from.
            return status::kWrongState;
    }
    return status::kWrongState;
}

uint32_t Protection::CancelRestore() {
    if (state != MirrorState::kRestoring) return status::kNoTaskRunning;
    restore.state = OpState::kCancelled;
    restore.result = status::kCancelled;
    // The primary is half restored; mirroring stays paused so that the
    // restore can be run again before anything is copied the other way.
    state = MirrorState::kSuspended;
    dirty_mib = restore.total_mib - restore.done_mib;
    return status::kOk;
}

double Protection::CopyRate(const Rates& rates) const noexcept {
    double rate = rates.copy_mib_s;
    if (settings.limit != 0) rate = std::min(rate, static_cast<double>(settings.limit));
    return rate;
}

void Protection::Workload(double dt, const Rates& rates) {
    if (state == MirrorState::kRestoring) return;  // the primary is off-line to applications
    const double written = rates.write_mib_s * dt * kMiB;
    primary_io.read_bytes += rates.read_mib_s * dt * kMiB;
    primary_io.written_bytes += written;
    switch (state) {
        case MirrorState::kSuspended:
            dirty_mib = std::min(dirty_mib + rates.write_mib_s * dt, static_cast<double>(size_mib));
            break;
        case MirrorState::kStopped:
            break;
        default:
            mirror_io.written_bytes += written;
            break;
    }
}

bool Protection::Step(double dt, const Rates& rates) {
    bool changed = false;
    while (dt > 0) {
        double step = dt;
        Operation* op = nullptr;
        switch (state) {
            case MirrorState::kSynchronizing:
                op = &sync;
                break;
            case MirrorState::kVerifying:
                op = &verify;
                break;
            case MirrorState::kRestoring:
                op = &restore;
                break;
            default:
                break;
        }
        if (op != nullptr) {
            const double rate = CopyRate(rates);
            const bool fails = state == MirrorState::kVerifying && verify_fails;
            const double end = fails ? op->total_mib / 2 : op->total_mib;
            const double left = std::max(0.0, end - op->done_mib);
            const bool finishes = left <= rate * dt;
            step = finishes ? left / rate : dt;
            const double moved = finishes ? left : rate * dt;
            const double bytes = moved * kMiB;
            op->done_mib += moved;
            op->elapsed_s += step;
            if (state == MirrorState::kSynchronizing) {
                dirty_mib = std::max(0.0, dirty_mib - moved);
                primary_bg_io.read_bytes += bytes;
                mirror_bg_io.written_bytes += bytes;
            } else if (state == MirrorState::kVerifying) {
                primary_bg_io.read_bytes += bytes;
                mirror_bg_io.read_bytes += bytes;
            } else {
                mirror_bg_io.read_bytes += bytes;
                primary_bg_io.written_bytes += bytes;
            }
            if (finishes) {
                Workload(step, rates);
                age_s += step;
                dt -= step;
                op->done_mib = end;
                op->state = fails ? OpState::kFailed : OpState::kCompleted;
                if (fails) op->result = status::kDiskError;
                if (state == MirrorState::kSynchronizing) ++completed_syncs;
                // Each of the three ends with primary and mirror alike.
                dirty_mib = 0;
                state = MirrorState::kMirrored;
                changed = true;
                continue;
            }
        }
        Workload(step, rates);
        age_s += step;
        dt -= step;
    }
    return changed;
}

}  // namespace qvsim
