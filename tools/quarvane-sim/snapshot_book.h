// Snapshots of protections, their rollbacks and mounted views, and the
// notifications the model raises.
//
// A snapshot is taken over time at the daemon's copy rate and joins the
// list when it completes; a rollback likewise runs over time. Both are
// computed from the moment they started whenever they are looked at, so the
// answer is exact whatever the polling pattern. Notifications are raised as
// events happen: a snapshot taken, a synchronisation finished, a verify
// that failed; each gets a growing sequence number, its Value3.
//
// The snapshots themselves, their views and the numbers they are given are
// the model's (SnapshotStore), kept in the state file; the operations
// running and the notifications live in memory only.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model.h"
#include "protection.h"
#include "registry.h"
#include "service.h"

namespace qvsim {

// A long operation of the book, measured from its start.
struct TimedOperation {
    Operation op;
    Clock::time_point started;
    double rate_mib_s = 0;  // the protection's copy rate when it started
    uint32_t snapshot_id = 0;
};

// What GET_NOTIFICATIONS reports.
enum class NotificationKind : uint32_t {
    kSnapshotTaken = 1,
    kSyncFinished = 2,
    kVerifyFailed = 3,
};

struct Notification {
    NotificationKind kind;
    uint32_t number;    // the object's partition number
    uint32_t sequence;  // Value3, growing from 1
    std::u16string text;
};

class SnapshotBook {
  public:
    // What the model already holds when the daemon starts (restored from
    // its state file) was raised before, by the run that did it: it counts
    // as seen, and only what happens from now on is raised.
    SnapshotBook(SnapshotStore& store, const Model& model);

    // Brings the running operations up to `now` and raises what happened
    // since the last look: snapshots completed, synchronisations finished,
    // verifies failed.
    void Refresh(Model& model, Clock::time_point now);

    std::vector<Snapshot>& snapshots() noexcept { return store_.snapshots; }
    Snapshot* Find(const ObjectId& owner, uint32_t id);
    Snapshot* FindView(std::u16string_view name);

    // Both run at the protection's copy rate: the daemon's, capped by its
    // own limit.
    uint32_t StartSnapshot(const Protection& p, const Rates& rates, Clock::time_point now);
    uint32_t StartRollback(const Protection& p, uint32_t snapshot_id, const Rates& rates,
                           Clock::time_point now);
    // The running or last operation of an object, or null.
    TimedOperation* Taking(const ObjectId& owner);
    TimedOperation* RollingBack(const ObjectId& owner);

    uint32_t NextViewDisk() noexcept { return store_.next_view_disk++; }

    void Raise(NotificationKind kind, const ObjectId& object, std::u16string text);
    const std::vector<Notification>& notifications() const noexcept { return notifications_; }

  private:
    static std::string Key(const ObjectId& id);

    SnapshotStore& store_;
    std::map<std::string, TimedOperation> taking_;
    std::map<std::string, TimedOperation> rollbacks_;
    std::map<std::string, uint32_t> syncs_seen_;
    std::map<std::string, OpState> verifies_seen_;
    std::vector<Notification> notifications_;
    uint32_t next_sequence_ = 1;
};

// What the handlers of the families that share the book hold.
struct BookContext {
    Service& service;
    std::shared_ptr<SnapshotBook> book;

    // The protection whose primary `ref` names, or null with the refusal
    // (the protection not found, or a missing reference).
    Protection* Find(const RpcObjectRef* ref, uint32_t& word) const;

    // Registers `handler` for procedure P; the book is brought up to date
    // before each request.
    template <unsigned P, typename F>
    void On(Registry& registry, F handler) const {
        registry.On<P>([c = *this, h = std::move(handler)](const auto& arg, auto& res) mutable {
            c.book->Refresh(c.service.model(), Clock::now());
            h(arg, res);
        });
    }
};

// The procedures of the snapshot families (snapshots.cpp) and of the disk
// layout, maintenance and notification families (disk_maintenance.cpp).
void RegisterSnapshotProcedures(Registry& registry, const BookContext& c);
void RegisterMaintenanceProcedures(Registry& registry, const BookContext& c);

}  // namespace qvsim
