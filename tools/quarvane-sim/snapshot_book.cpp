#include "snapshot_book.h"

#include <algorithm>
#include <chrono>

#include "status.h"
#include "text.h"
#include "wire.h"

namespace qvsim {
namespace {

// Where an operation stands after `elapsed` seconds at `rate` MiB/s.
void Advance(Operation& op, double elapsed, double rate) {
    if (!op.Running()) return;
    op.elapsed_s = elapsed;
    op.done_mib = std::min(op.total_mib, rate * elapsed);
    if (op.done_mib >= op.total_mib) op.state = OpState::kCompleted;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::u16string Spelled(const ObjectId& id) {
    return id.number == 0 ? id.disk : id.disk + u":" + FromUtf8(std::to_string(id.number));
}

int64_t EpochSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string SnapshotBook::Key(const ObjectId& id) {
    // Names are compared as the inventory compares them: case aside.
    std::u16string lower = id.disk;
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return ToUtf8(lower) + ":" + std::to_string(id.number);
}

SnapshotBook::SnapshotBook(SnapshotStore& store, const Model& model) : store_(store) {
    for (const Protection& p : model.protections()) {
        syncs_seen_[Key(p.primary)] = p.completed_syncs;
        verifies_seen_[Key(p.primary)] = p.verify.state;
    }
}

void SnapshotBook::Refresh(Model& model, Clock::time_point now) {
    for (auto& [key, t] : taking_) {
        const bool was_running = t.op.Running();
        Advance(t.op, Seconds(now - t.started), t.rate_mib_s);
        if (was_running && t.op.state == OpState::kCompleted) {
            Protection* p = nullptr;
            for (auto& candidate : model.protections()) {
                if (Key(candidate.primary) == key) p = &candidate;
            }
            if (p == nullptr) continue;
            Snapshot s;
            s.id = t.snapshot_id;
            s.owner = p->primary;
            s.taken_at = EpochSeconds();
            s.name = u"Snapshot " + FromUtf8(std::to_string(s.id));
            store_.snapshots.push_back(s);
            model.MarkChanged();
            model.events().SnapshotTaken(p->primary);
            Raise(
                NotificationKind::kSnapshotTaken, p->primary,
                Spelled(p->primary) + u": snapshot " + FromUtf8(std::to_string(s.id)) + u" taken");
        }
    }
    for (auto& [key, t] : rollbacks_) Advance(t.op, Seconds(now - t.started), t.rate_mib_s);
    for (const Protection& p : model.protections()) {
        const std::string key = Key(p.primary);
        uint32_t& seen = syncs_seen_[key];
        if (p.completed_syncs > seen) {
            Raise(NotificationKind::kSyncFinished, p.primary,
                  Spelled(p.primary) + u": synchronisation finished");
        }
        seen = p.completed_syncs;
        OpState& verify = verifies_seen_[key];
        if (p.verify.state == OpState::kFailed && verify != OpState::kFailed) {
            Raise(NotificationKind::kVerifyFailed, p.primary,
                  Spelled(p.primary) + u": verify failed");
        }
        verify = p.verify.state;
    }
}

Snapshot* SnapshotBook::Find(const ObjectId& owner, uint32_t id) {
    for (Snapshot& s : store_.snapshots) {
        if (s.id == id && Key(s.owner) == Key(owner)) return &s;
    }
    return nullptr;
}

Snapshot* SnapshotBook::FindView(std::u16string_view name) {
    for (Snapshot& s : store_.snapshots) {
        if (s.view && SameName(*s.view, name)) return &s;
    }
    return nullptr;
}

TimedOperation* SnapshotBook::Taking(const ObjectId& owner) {
    const auto it = taking_.find(Key(owner));
    return it == taking_.end() ? nullptr : &it->second;
}

TimedOperation* SnapshotBook::RollingBack(const ObjectId& owner) {
    const auto it = rollbacks_.find(Key(owner));
    return it == rollbacks_.end() ? nullptr : &it->second;
}

// A snapshot is taken of a mirrored protection, one at a time, and not
// while the protection rolls back.
uint32_t SnapshotBook::StartSnapshot(const Protection& p, const Rates& rates,
                                     Clock::time_point now) {
    if (const TimedOperation* t = Taking(p.primary); t != nullptr && t->op.Running()) {
        return status::kAlreadyInProgress;
    }
    if (const TimedOperation* r = RollingBack(p.primary); r != nullptr && r->op.Running()) {
        return status::kOtherOperationRunning;
    }
    if (p.state != MirrorState::kMirrored) return status::kWrongState;
    TimedOperation& t = taking_[Key(p.primary)];
    t.op.Start(static_cast<double>(p.size_mib), 0, 0);
    t.started = now;
    t.rate_mib_s = p.CopyRate(rates);
    t.snapshot_id = store_.next_id++;
    return status::kOk;
}

// A mounted snapshot cannot be rolled back to: its view would change under
// its reader.
uint32_t SnapshotBook::StartRollback(const Protection& p, uint32_t snapshot_id, const Rates& rates,
                                     Clock::time_point now) {
    const Snapshot* s = Find(p.primary, snapshot_id);
    if (s == nullptr) return status::kSnapshotNotFound;
    if (s->view) return status::kDismountFirst;
    if (const TimedOperation* r = RollingBack(p.primary); r != nullptr && r->op.Running()) {
        return status::kAlreadyInProgress;
    }
    if (const TimedOperation* t = Taking(p.primary); t != nullptr && t->op.Running()) {
        return status::kOtherOperationRunning;
    }
    if (p.state != MirrorState::kMirrored && p.state != MirrorState::kSuspended) {
        return status::kWrongState;
    }
    TimedOperation& t = rollbacks_[Key(p.primary)];
    t.op.Start(static_cast<double>(p.size_mib), 0, 0);
    t.started = now;
    t.rate_mib_s = p.CopyRate(rates);
    t.snapshot_id = snapshot_id;
    return status::kOk;
}

Protection* BookContext::Find(const RpcObjectRef* ref, uint32_t& word) const {
    if (ref == nullptr) {
        word = status::kInvalidParameter;
        return nullptr;
    }
    Protection* p = service.model().FindProtection(wire::Object(*ref));
    word = p != nullptr ? status::kOk : status::kProtectionNotFound;
    return p;
}

void SnapshotBook::Raise(NotificationKind kind, const ObjectId& object, std::u16string text) {
    notifications_.push_back(Notification{kind, object.number, next_sequence_++, std::move(text)});
}

}  // namespace qvsim
