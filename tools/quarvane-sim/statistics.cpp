// GET_MIRROR_STATS: a protection's state, condition, amounts and counters.
//
//   State       the protection's state (see MirrorState)
//   Condition   see Condition: unavailable disks first, then by state
//   Amount1     bytes protected (the primary's size)
//   Amount2     bytes not yet on the mirror
//   Io1, Io2    the application's traffic on the primary, and as mirrored
//   Io3, Io4    background copying (synchronisation, verify, restore) on the
//               primary side and on the mirror side
//               (Bytes1 read, Bytes2 written, Count1 reads, Count2 writes,
//               Count3 errors, counted in 64 KiB requests)
//   Divisor1, Divisor2  seconds since the protection was enabled, so the
//               client's rates are averages over its life
//   Value1      percent of the primary that the mirror holds
//   Value2      seconds since the protection was enabled
//   Value3      MiB not yet on the mirror
//   Value4      synchronisations completed
//   Value5      the protection's copy rate in MiB/s
//   Value6      seconds the running synchronisation, verify or restore has taken
//   VerifyProgress while verifying, RestoreProgress while restoring
#include <algorithm>
#include <cmath>

#include "families.h"
#include "mirror_records.h"
#include "progress.h"
#include "quarvane.h"
#include "status.h"
#include "wire.h"

namespace qvsim {
namespace {


int64_t Bytes(double v) { return v > 0 ? static_cast<int64_t>(v) : 0; }

// A non-negative amount as a 32-bit count, saturating.
uint32_t Whole(double s) {
    return s >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(std::max(0.0, s));
}

void Counters(const IoSide& side, RpcIoCounters& out) {
    out.Bytes1 = Bytes(side.read_bytes);
    out.Bytes2 = Bytes(side.written_bytes);
    out.Count1 = Bytes(side.read_bytes / kBlockBytes);
    out.Count2 = Bytes(side.written_bytes / kBlockBytes);
    out.Count3 = 0;
}

bool Available(const Model& model, const ObjectId& id) {
    Target t;
    return model.Locate(id, t) == status::kOk && !t.disk->offline;
}

Condition ConditionOf(const Model& model, const Protection& p) {
    if (!Available(model, p.primary)) return Condition::kPrimaryUnavailable;
    if (!Available(model, p.mirror)) return Condition::kMirrorUnavailable;
    switch (p.state) {
        case MirrorState::kMirrored:
            return Condition::kNormal;
        case MirrorState::kSynchronizing:
            return Condition::kSynchronizing;
        case MirrorState::kSuspended:
            return Condition::kSuspended;
        case MirrorState::kStopped:
            return Condition::kStopped;
        case MirrorState::kOutOfSync:
            return Condition::kSyncCancelled;
        case MirrorState::kVerifying:
        case MirrorState::kRestoring:
            return Condition::kMaintenance;
    }
    return Condition::kDirty;
}

const Operation* Running(const Protection& p) {
    for (const Operation* op : {&p.sync, &p.verify, &p.restore}) {
        if (op->Running()) return op;
    }
    return nullptr;
}

void Fill(const Model& model, const Protection& p, RpcMirrorStats& out) {
    out.State = static_cast<uint32_t>(p.state);
    out.Condition = static_cast<uint32_t>(ConditionOf(model, p));
    out.Amount1 = Bytes(static_cast<double>(p.size_mib) * kMiB);
    out.Amount2 = Bytes(p.dirty_mib * kMiB);
    Counters(p.primary_io, *wire::Allocate(out.Io1.Io1_len, out.Io1.Io1_val, 1));
    Counters(p.mirror_io, *wire::Allocate(out.Io2.Io2_len, out.Io2.Io2_val, 1));
    Counters(p.primary_bg_io, *wire::Allocate(out.Io3.Io3_len, out.Io3.Io3_val, 1));
    Counters(p.mirror_bg_io, *wire::Allocate(out.Io4.Io4_len, out.Io4.Io4_val, 1));
    const uint32_t age = std::max<uint32_t>(1, Whole(p.age_s));
    out.Divisor1 = age;
    out.Divisor2 = age;
    const double size = static_cast<double>(p.size_mib);
    out.Value1 =
        size > 0 ? static_cast<uint32_t>(std::floor((size - p.dirty_mib) * 100.0 / size)) : 100;
    out.Value2 = Whole(p.age_s);
    out.Value3 = Whole(std::ceil(p.dirty_mib));
    out.Value4 = p.completed_syncs;
    out.Value5 = Whole(p.CopyRate(model.rates()));
    const Operation* op = Running(p);
    out.Value6 = op != nullptr ? Whole(op->elapsed_s) : 0;

    if (p.state == MirrorState::kVerifying) {
        FillVerifyProgress(p, model.rates(),
                           *wire::Allocate(out.VerifyProgress.VerifyProgress_len,
                                           out.VerifyProgress.VerifyProgress_val, 1));
    } else if (p.state == MirrorState::kRestoring) {
        FillProgress(p.restore, *wire::Allocate(out.RestoreProgress.RestoreProgress_len,
                                                out.RestoreProgress.RestoreProgress_val, 1));
    }
}

}  // namespace

void FillMirrorStats(const Model& model, const Protection& p, RpcMirrorStats& out) {
    Fill(model, p, out);
}

void RegisterStatistics(Registry& registry, Service& service) {
    registry.On<GET_MIRROR_STATS>([&service](const RpcObjectRef& arg, RpcMirrorStats& res) {
        const Protection* p = service.model().FindProtection(wire::Object(arg));
        if (p == nullptr) {
            res.status = status::kProtectionNotFound;
            return;
        }
        Fill(service.model(), *p, res);
    });
}

}  // namespace qvsim
