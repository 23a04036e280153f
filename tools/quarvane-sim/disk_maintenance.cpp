// Disk layout, maintenance and notifications: ALLOC_PARTITION_FOR_DISK,
// EXPAND_DISK, RELOCATE_PARTITION, DISK_MAINTENANCE, CHECK_RESTORE_CONFLICT,
// TEST_DISK_THROUGHPUT and GET_NOTIFICATIONS.
//
// Partitions are laid out in MiB against the disk's free space:
//   ALLOC_PARTITION_FOR_DISK  Object the disk; Param1 the size (0: the
//                             largest free extent), Param2 the file system
//                             (0 raw, 1 NTFS, 2 FAT32, 3 ReFS); the new
//                             partition takes the next number and the first
//                             free extent that holds it
//   EXPAND_DISK               Object a partition; Value the MiB to add, taken
//                             from the free space right after it
//   RELOCATE_PARTITION        Object a partition; Value its new offset, in
//                             free space (its own extent counts as free)
// A partition that a protection uses is not moved nor resized (in use);
// no room is answered as the storage limitation. Changes last until the
// inventory is read again.
//
// DISK_MAINTENANCE Operation 1 benchmarks the object (Value1 read, Value2
// write MiB/s in the reply), 2 refreshes the file systems (the inventory is
// read again). TEST_DISK_THROUGHPUT answers the object's bus speed in MiB/s.
// CHECK_RESTORE_CONFLICT lists what a restore of First from Second would
// disturb: the mounted views of First's snapshots (Value: the snapshot) and
// the other protections using Second's disk extent (Value 0).
//
// GET_NOTIFICATIONS: Param1 the kind (0 every kind), Param2 the first
// sequence number wanted, Param3 at most this many (0 no limit).
#include <algorithm>
#include <limits>
#include <vector>

#include "families.h"
#include "quarvane.h"
#include "snapshot_book.h"
#include "status.h"
#include "text.h"
#include "wire.h"

namespace qvsim {
namespace {

constexpr uint32_t kBenchmark = 1;
constexpr uint32_t kRefreshFileSystem = 2;

// MiB/s read by bus type (1 ATA, 2 SATA, 3 SAS, 4 SCSI, 5 NVMe, 6 USB).
uint32_t BusSpeed(uint32_t bus) {
    constexpr uint32_t kSpeeds[] = {100, 133, 550, 1100, 320, 3200, 40};
    return bus < std::size(kSpeeds) ? kSpeeds[bus] : kSpeeds[0];
}

struct Extent {
    uint64_t offset = 0;
    uint64_t size = 0;
};

// The free extents of `disk`, in order, leaving `skip` (a partition number)
// out of the used space.
std::vector<Extent> FreeExtents(const Disk& disk, uint32_t skip = 0) {
    std::vector<Extent> used;
    for (const Partition& p : disk.partitions) {
        if (p.number != skip) used.push_back({p.offset_mib, p.size_mib});
    }
    std::sort(used.begin(), used.end(),
              [](const Extent& a, const Extent& b) { return a.offset < b.offset; });
    std::vector<Extent> free;
    uint64_t at = 1;  // the first MiB holds the partition table
    for (const Extent& e : used) {
        if (e.offset > at) free.push_back({at, e.offset - at});
        at = std::max(at, e.offset + e.size);
    }
    if (disk.size_mib > at) free.push_back({at, disk.size_mib - at});
    return free;
}

// The inventory with one disk changed by `change`, which answers the word.
template <typename F>
uint32_t ChangeDisk(Model& model, const ObjectId& id, bool partition_needed, F change) {
    Target target;
    const uint32_t found = model.Locate(id, target);
    if (found != status::kOk) return found;
    if (partition_needed && target.partition == nullptr) return status::kInvalidParameter;
    if (model.UserOf(id) != nullptr) return status::kResourceInUse;
    Inventory changed = model.inventory();
    Disk& disk = *std::find_if(changed.disks.begin(), changed.disks.end(),
                               [&](const Disk& d) { return SameName(d.name, target.disk->name); });
    const uint32_t word = change(disk);
    if (word == status::kOk) {
        model.ReplaceInventory(std::move(changed));
        model.MarkChanged();
    }
    return word;
}

uint32_t Allocate(Disk& disk, uint64_t size, uint32_t file_system) {
    const std::vector<Extent> free = FreeExtents(disk);
    const Extent* room = nullptr;
    for (const Extent& e : free) {
        if (size == 0 ? (room == nullptr || e.size > room->size) : e.size >= size) {
            room = &e;
            if (size != 0) break;
        }
    }
    if (room == nullptr) return status::kStorageLimit;
    Partition p;
    for (const Partition& q : disk.partitions) p.number = std::max(p.number, q.number);
    ++p.number;
    p.offset_mib = room->offset;
    p.size_mib = size == 0 ? room->size : size;
    p.file_system = file_system;
    disk.partitions.push_back(p);
    return status::kOk;
}

uint32_t Expand(Disk& disk, uint32_t number, uint64_t more) {
    Partition& p = *std::find_if(disk.partitions.begin(), disk.partitions.end(),
                                 [&](const Partition& q) { return q.number == number; });
    for (const Extent& e : FreeExtents(disk)) {
        if (e.offset == p.offset_mib + p.size_mib && e.size >= more) {
            p.size_mib += more;
            return status::kOk;
        }
    }
    return status::kStorageLimit;
}

uint32_t Relocate(Disk& disk, uint32_t number, uint64_t offset) {
    Partition& p = *std::find_if(disk.partitions.begin(), disk.partitions.end(),
                                 [&](const Partition& q) { return q.number == number; });
    for (const Extent& e : FreeExtents(disk, number)) {
        if (offset >= e.offset && offset + p.size_mib <= e.offset + e.size) {
            p.offset_mib = offset;
            return status::kOk;
        }
    }
    return status::kStorageLimit;
}

void RegisterLayout(Registry& registry, const BookContext& c) {
    c.On<ALLOC_PARTITION_FOR_DISK>(registry, [c](const RpcPartitionAlloc& arg, RpcStatus& res) {
        ObjectId disk = wire::Object(arg.Object);
        disk.number = 0;
        if (arg.Param2 > 3) {
            res.status = status::kInvalidParameter;
            return;
        }
        res.status = ChangeDisk(c.service.model(), disk, false, [&](Disk& d) {
            if (d.Dynamic() || d.offline) return status::kDiskNotSupported;
            return Allocate(d, arg.Param1, arg.Param2);
        });
    });
    c.On<EXPAND_DISK>(registry, [c](const RpcExpandDisk& arg, RpcStatus& res) {
        const ObjectId id = wire::Object(arg.Object);
        res.status = ChangeDisk(c.service.model(), id, true,
                                [&](Disk& d) { return Expand(d, id.number, arg.Value); });
    });
    c.On<RELOCATE_PARTITION>(registry, [c](const RpcRelocatePartition& arg, RpcStatus& res) {
        const RpcObjectRef* ref = wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val);
        if (ref == nullptr) {
            res.status = status::kInvalidParameter;
            return;
        }
        const ObjectId id = wire::Object(*ref);
        res.status = ChangeDisk(c.service.model(), id, true,
                                [&](Disk& d) { return Relocate(d, id.number, arg.Value); });
    });
}

void RegisterMaintenance(Registry& registry, const BookContext& c) {
    c.On<DISK_MAINTENANCE>(
        registry, [c](const RpcDiskMaintenance& arg, RpcDiskMaintenanceResult& res) {
            if (arg.Operation == kRefreshFileSystem) {
                res.status = c.service.Rescan();
                return;
            }
            const RpcObjectRef* ref = wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val);
            if (arg.Operation != kBenchmark || ref == nullptr) {
                res.status = status::kInvalidParameter;
                return;
            }
            Target target;
            res.status = c.service.model().Locate(wire::Object(*ref), target);
            if (res.status != status::kOk) return;
            const uint32_t speed = BusSpeed(target.disk->bus);
            res.Value1 = speed;
            res.Value2 = speed * 9 / 10;
            wire::SetText(res.Text1, u"MiB/s");
        });
    c.On<TEST_DISK_THROUGHPUT>(
        registry, [c](const RpcThroughputQuery& arg, RpcThroughputResult& res) {
            Target target;
            res.status = c.service.model().Locate(wire::Object(arg.Object), target);
            if (res.status == status::kOk) res.Throughput = BusSpeed(target.disk->bus);
        });
    c.On<CHECK_RESTORE_CONFLICT>(registry, [c](const RpcConflictQuery& arg, RpcConflictList& res) {
        const ObjectId first = wire::Object(arg.First);
        const ObjectId second = wire::Object(arg.Second);
        std::vector<std::pair<ObjectId, uint32_t>> found;
        for (const Snapshot& s : c.book->snapshots()) {
            if (s.view && Same(s.owner, first)) {
                found.emplace_back(ObjectId{u"Backlook" + FromUtf8(std::to_string(s.view_disk)), 0},
                                   s.id);
            }
        }
        if (!second.disk.empty()) {
            for (const Protection& p : c.service.model().protections()) {
                if (Same(p.primary, first)) continue;
                if (Overlap(p.primary, second) || Overlap(p.mirror, second)) {
                    found.emplace_back(p.primary, 0);
                }
            }
        }
        RpcConflict* out =
            wire::Allocate(res.Conflicts.Conflicts_len, res.Conflicts.Conflicts_val, found.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            wire::SetObject(out[i].Object, found[i].first);
            out[i].Value = found[i].second;
            wire::SetText(out[i].Text, u"");
        }
    });
}

void RegisterNotifications(Registry& registry, const BookContext& c) {
    c.On<GET_NOTIFICATIONS>(registry, [c](const RpcNotificationQuery& arg,
                                          RpcNotificationList& res) {
        std::vector<const Notification*> chosen;
        for (const Notification& n : c.book->notifications()) {
            if (arg.Param1 != 0 && static_cast<uint32_t>(n.kind) != arg.Param1) continue;
            if (n.sequence < arg.Param2) continue;
            if (arg.Param3 != 0 && chosen.size() >= arg.Param3) break;
            chosen.push_back(&n);
        }
        RpcNotification* out = wire::Allocate(res.Notifications.Notifications_len,
                                              res.Notifications.Notifications_val, chosen.size());
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            out[i].Value1 = static_cast<uint32_t>(chosen[i]->kind);
            out[i].Value2 = chosen[i]->number;
            out[i].Value3 = chosen[i]->sequence;
            wire::SetText(out[i].Text, chosen[i]->text);
        }
    });
}

}  // namespace

void RegisterMaintenanceProcedures(Registry& registry, const BookContext& c) {
    RegisterLayout(registry, c);
    RegisterMaintenance(registry, c);
    RegisterNotifications(registry, c);
}

}  // namespace qvsim
