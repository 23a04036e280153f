// Snapshots, rollback and Backlook views of a protection: TAKE_SNAPSHOT,
// GET_SNAPSHOT_PROGRESS, CANCEL_SNAPSHOT, GET_SNAPSHOT_LIST,
// DELETE_SNAPSHOTS, ROLLBACK, GET_ROLLBACK_PROGRESS, CANCEL_ROLLBACK,
// ROLLBACK_TO_SNAPSHOT, IS_ROLLBACK_FINISHED, MOUNT_BACKLOOK,
// UNMOUNT_BACKLOOK, GET_BACKLOOK_DISK, IS_ORIGINAL_DISK_HAS_SNAPSHOTS and
// CLEAR_ORIGINAL_DISK_SNAPSHOTS.
//
// Snapshots belong to a protection, named by its primary; one of an object
// that is not protected is refused as the protection not found. A mounted
// snapshot cannot be rolled back to nor deleted until it is unmounted, and
// a view's name names one view at a time. A mounted view is a disk of its
// own, numbered from 100, holding the primary's partitions as they were.
#include <algorithm>
#include <memory>

#include "disk_records.h"
#include "families.h"
#include "groups.h"
#include "progress.h"
#include "quarvane.h"
#include "snapshot_book.h"
#include "status.h"
#include "text.h"
#include "wire.h"

namespace qvsim {
namespace {

// Selector kinds of GET_SNAPSHOT_LIST and DELETE_SNAPSHOTS.
constexpr uint32_t kAllOfObject = 1;
constexpr uint32_t kAllOfGroup = 2;
constexpr uint32_t kOneOfObject = 3;
constexpr uint32_t kOneOfGroup = 4;

// The truth-valued procedures answer yes with a nonzero word that is no
// refusal.
constexpr uint32_t kYes = 1;

using Context = BookContext;

// A change to the snapshots or their views is saved like any other.
void MarkChanged(const Context& c) { c.service.model().MarkChanged(); }

void FillRecord(const Snapshot& s, RpcSnapshotRecord& out) {
    wire::SetObject(*wire::Allocate(out.Objects.Objects_len, out.Objects.Objects_val, 1), s.owner);
    out.SnapshotId = s.id;
    out.HasView = s.view ? 1 : 0;
    out.Value64 = s.taken_at;
    wire::SetText(out.Text1, s.name);
    wire::SetText(out.Text2, s.view.value_or(u""));
    wire::SetText(out.Text3, u"");
}

// The snapshots a query names; groups hold none here.
std::vector<Snapshot*> Selected(SnapshotBook& book, const ObjectId& owner, uint32_t kind,
                                uint32_t id) {
    std::vector<Snapshot*> out;
    if (kind != kAllOfObject && kind != kOneOfObject) return out;
    for (Snapshot& s : book.snapshots()) {
        if (Same(s.owner, owner) && (kind == kAllOfObject || s.id == id)) out.push_back(&s);
    }
    return out;
}

uint32_t Delete(SnapshotBook& book, const ObjectId& owner, uint32_t kind, uint32_t id) {
    const std::vector<Snapshot*> chosen = Selected(book, owner, kind, id);
    if (kind == kOneOfObject && chosen.empty()) return status::kSnapshotNotFound;
    for (const Snapshot* s : chosen) {
        if (s->view)
            return kind == kOneOfObject ? status::kDismountFirst : status::kSnapshotsMounted;
    }
    auto& all = book.snapshots();
    std::erase_if(all, [&](const Snapshot& s) {
        return std::find(chosen.begin(), chosen.end(), &s) != chosen.end();
    });
    return status::kOk;
}

// The progress and the cancel of one kind of the book's operations.
using OperationOf = TimedOperation* (SnapshotBook::*)(const ObjectId& owner);

template <unsigned Progress, unsigned Cancel>
void RegisterFollowing(Registry& registry, const Context& c, OperationOf of) {
    c.On<Progress>(registry, [c, of](const RpcObjectRef& arg, RpcProgress& res) {
        const Protection* p = c.Find(&arg, res.status);
        if (p == nullptr) return;
        const TimedOperation* t = ((*c.book).*of)(p->primary);
        if (t == nullptr) {
            res.status = status::kNoTaskRunning;
            return;
        }
        FillProgress(t->op, res);
    });
    c.On<Cancel>(registry, [c, of](const RpcObjectRef& arg, RpcStatus& res) {
        const Protection* p = c.Find(&arg, res.status);
        if (p == nullptr) return;
        TimedOperation* t = ((*c.book).*of)(p->primary);
        if (t == nullptr || !t->op.Running()) {
            res.status = status::kNoTaskRunning;
            return;
        }
        t->op.state = OpState::kCancelled;
        t->op.result = status::kCancelled;
    });
}

void RegisterTakeAndList(Registry& registry, const Context& c) {
    c.On<TAKE_SNAPSHOT>(registry, [c](const RpcTakeSnapshot& arg, RpcStatus& res) {
        Protection* p =
            c.Find(wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val), res.status);
        if (p != nullptr)
            res.status = c.book->StartSnapshot(*p, c.service.model().rates(), Clock::now());
    });
    c.On<GET_SNAPSHOT_LIST>(registry, [c](const RpcSnapshotQuery& arg, RpcSnapshotList& res) {
        ObjectId owner;
        if (const RpcObjectRef* ref =
                wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val)) {
            owner = wire::Object(*ref);
        }
        if (arg.Kind < kAllOfObject || arg.Kind > kOneOfGroup) {
            res.status = status::kInvalidParameter;
            return;
        }
        if ((arg.Kind == kAllOfObject || arg.Kind == kOneOfObject) &&
            c.service.model().FindProtection(owner) == nullptr) {
            res.status = status::kProtectionNotFound;
            return;
        }
        const std::vector<Snapshot*> chosen = Selected(*c.book, owner, arg.Kind, arg.SnapshotId);
        RpcSnapshotRecord* records =
            wire::Allocate(res.Records.Records_len, res.Records.Records_val, chosen.size());
        res.Count = static_cast<uint32_t>(chosen.size());
        for (std::size_t i = 0; i < chosen.size(); ++i) FillRecord(*chosen[i], records[i]);
    });
    c.On<DELETE_SNAPSHOTS>(registry, [c](const RpcSnapshotQuery& arg, RpcStatus& res) {
        const Protection* p = nullptr;
        if (arg.Kind == kAllOfGroup || arg.Kind == kOneOfGroup) {
            res.status = arg.Kind == kOneOfGroup ? status::kSnapshotNotFound : status::kOk;
            return;
        }
        p = c.Find(wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val), res.status);
        if (p == nullptr) return;
        res.status = Delete(*c.book, p->primary, arg.Kind, arg.SnapshotId);
        if (res.status == status::kOk) MarkChanged(c);
    });
}

void RegisterRollback(Registry& registry, const Context& c) {
    const auto start = [c](const RpcSnapshotRecord& arg, RpcStatus& res) {
        const Protection* p =
            c.Find(wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val), res.status);
        if (p != nullptr)
            res.status =
                c.book->StartRollback(*p, arg.SnapshotId, c.service.model().rates(), Clock::now());
    };
    c.On<ROLLBACK>(registry, start);
    c.On<ROLLBACK_TO_SNAPSHOT>(registry, start);
    // value 0: no rollback runs.
    c.On<IS_ROLLBACK_FINISHED>(registry, [c](const RpcObjectRef& arg, RpcStatus& res) {
        const Protection* p = c.Find(&arg, res.status);
        if (p == nullptr) return;
        const TimedOperation* t = c.book->RollingBack(p->primary);
        res.value = t != nullptr && t->op.Running() ? 1 : 0;
    });
    c.On<IS_ORIGINAL_DISK_HAS_SNAPSHOTS>(registry, [c](const RpcObjectRef& arg, RpcStatus& res) {
        const ObjectId id = wire::Object(arg);
        const bool any = std::any_of(c.book->snapshots().begin(), c.book->snapshots().end(),
                                     [&](const Snapshot& s) { return Overlap(s.owner, id); });
        res.status = any ? kYes : status::kOk;
    });
    c.On<CLEAR_ORIGINAL_DISK_SNAPSHOTS>(registry, [c](const RpcObjectRef& arg, RpcStatus& res) {
        const ObjectId id = wire::Object(arg);
        auto& all = c.book->snapshots();
        if (std::any_of(all.begin(), all.end(),
                        [&](const Snapshot& s) { return Overlap(s.owner, id) && s.view; })) {
            res.status = status::kSnapshotsMounted;
            return;
        }
        if (std::erase_if(all, [&](const Snapshot& s) { return Overlap(s.owner, id); }) != 0) {
            MarkChanged(c);
        }
    });
}

// The snapshot a mount or unmount names, of the protection its object
// belongs to; null with the refusal in `refusal` when there is none.
Snapshot* ViewSnapshot(const Context& c, const RpcBacklookRequest& arg,
                       decltype(RpcStatus::status)& refusal) {
    const Protection* p =
        c.Find(wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val), refusal);
    if (p == nullptr) return nullptr;
    Snapshot* s = c.book->Find(p->primary, arg.SnapshotId);
    if (s == nullptr) refusal = status::kSnapshotNotFound;
    return s;
}

void RegisterViews(Registry& registry, const Context& c) {
    c.On<MOUNT_BACKLOOK>(registry, [c](const RpcBacklookRequest& arg, RpcStatus& res) {
        Snapshot* s = ViewSnapshot(c, arg, res.status);
        if (s == nullptr) return;
        std::u16string name = wire::Text(arg.ViewName);
        if (name.empty()) name = u"Backlook " + FromUtf8(std::to_string(s->id));
        if (s->view || c.book->FindView(name) != nullptr) {
            res.status = status::kResourceInUse;
            return;
        }
        s->view = name;
        s->view_disk = c.book->NextViewDisk();
        MarkChanged(c);
    });
    c.On<UNMOUNT_BACKLOOK>(registry, [c](const RpcBacklookRequest& arg, RpcStatus& res) {
        Snapshot* s = ViewSnapshot(c, arg, res.status);
        if (s == nullptr) return;
        if (!s->view) {
            res.status = status::kSnapshotNotMounted;
        } else {
            s->view.reset();
            s->view_disk = 0;
            MarkChanged(c);
        }
    });
    c.On<GET_BACKLOOK_DISK>(registry, [c](const RpcBacklookDiskQuery& arg, RpcBacklookDisk& res) {
        const ObjectId owner{wire::Text(arg.Name), arg.Number};
        const Snapshot* s = c.book->Find(owner, arg.SnapshotId);
        if (s == nullptr) {
            res.status = status::kSnapshotNotFound;
            return;
        }
        if (!s->view) {
            res.status = status::kSnapshotNotMounted;
            return;
        }
        Target target;
        res.status = c.service.model().Locate(owner, target);
        if (res.status != status::kOk) return;
        // The view disk holds what the snapshot holds: the whole disk, or
        // the one partition.
        Disk view = *target.disk;
        view.number = s->view_disk;
        view.name = u"Backlook" + FromUtf8(std::to_string(s->view_disk));
        view.system = false;
        view.removable = false;
        if (target.partition != nullptr) {
            view.partitions = {*target.partition};
            view.size_mib = target.partition->size_mib;
        }
        for (Partition& part : view.partitions) part.label = *s->view;
        FillDiskRecord(c.service.model(), view, res.Disk);
    });
}

}  // namespace

void RegisterSnapshotProcedures(Registry& registry, const BookContext& c) {
    RegisterTakeAndList(registry, c);
    RegisterFollowing<GET_SNAPSHOT_PROGRESS, CANCEL_SNAPSHOT>(registry, c, &SnapshotBook::Taking);
    RegisterRollback(registry, c);
    RegisterFollowing<GET_ROLLBACK_PROGRESS, CANCEL_ROLLBACK>(registry, c,
                                                              &SnapshotBook::RollingBack);
    RegisterViews(registry, c);
}

void RegisterSnapshots(Registry& registry, Service& service) {
    // One book, shared by the handlers of both files.
    const BookContext c{service, std::make_shared<SnapshotBook>(service.model().snapshot_store(),
                                                                 service.model())};
    RegisterSnapshotProcedures(registry, c);
    RegisterMaintenanceProcedures(registry, c);
    RegisterGroupProcedures(registry, c);
}

}  // namespace qvsim
