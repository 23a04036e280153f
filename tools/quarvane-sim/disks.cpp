// The disk inventory: GET_DISK_LIST and its list codes.
//
// Every list answers with whole disk records; the list code decides which
// disks are sent, which of their partitions, and how the exclusion flags
// are set. The client's conversion then shows disks, partitions or both.
//
//   code  selection                                                client shows
//   0     online disks, flagged for choosing a primary:            filtered
//         a removable disk or a disk used whole as a mirror is
//         excluded; a disk with a partition in use keeps only its
//         partitions; a partition used as a mirror is excluded
//   1     every online disk                                        disks and partitions
//   2     online disks that can hold a mirror                      disks and partitions
//   3     every online disk                                        disks
//   4     disks that can be a whole-disk mirror (free, no          disks
//         partitions)
//   5     mirror candidates for the given object: for a whole     disks, or partitions
//         disk, whole-disk mirrors at least as large; for a
//         partition, the free partitions at least as large on
//         other disks
//   6     the disk of the given object                             one disk or partition
//   255   every disk, offline ones included                        disks and partitions
//
// Bit 31 of Options asks for a rescan first: the inventory file is read
// again. The low 31 bits of Options are not used.
//
// Record fields beyond the ones the client composes names from:
//   disk Flags: bit 31 system disk, bit 0 removable, bit 1 offline, bit 2 dynamic
//   disk Attribute, partition Attribute: bit 0 holds a protected primary,
//     bit 1 holds a mirror
//   disk Attribute1 bus type, Attribute2 bytes per sector, Attribute3 number of
//     protections whose primary is on the disk, Attribute4 1 for GPT, 0 for MBR
//   Size and UsedSize count units of Measure bytes (1 MiB)
//   partition Extra1 offset in MiB, Attribute2 file system (0 raw, 1 NTFS,
//     2 FAT32, 3 ReFS)
//   disk Text0 location, Text1 vendor and product, Text2 serial number
//   properties P0 bytes per sector, P1 tracks per cylinder, P2 sectors per
//     track, P3 cylinders, P4 bus type, P5 1 online or 4 offline, P6 disk
//     number; Text1 adapter, Text2 location
//   descriptor Text1 vendor, Text2 product, Text3 revision, Text4 serial,
//     Value bus type, Value64 size in bytes
#include <algorithm>
#include <limits>
#include <vector>

#include "disk_records.h"
#include "families.h"
#include "quarvane.h"
#include "status.h"
#include "text.h"
#include "wire.h"

namespace qvsim {
namespace {

constexpr uint32_t kRescan = 0x80000000u;

enum ListCode : uint32_t {
    kForPrimary = 0,
    kAllWithPartitions = 1,
    kMirrorDisksWithPartitions = 2,
    kAllDisks = 3,
    kWholeMirrorDisks = 4,
    kCandidatesFor = 5,
    kOneObject = 6,
    kEverything = 255,
};

constexpr uint32_t kHoldsPrimary = 1;
constexpr uint32_t kHoldsMirror = 2;

struct Selected {
    const Disk* disk = nullptr;
    std::vector<const Partition*> partitions;
    bool excluded = false;
    bool entry_excluded = false;
    std::vector<uint32_t> excluded_partitions;
};

class Lister {
  public:
    explicit Lister(const Model& model) : model_(model) {}

    uint32_t Usage(const ObjectId& id) const {
        uint32_t usage = 0;
        for (const auto& p : model_.protections()) {
            if (Overlap(p.primary, id)) usage |= kHoldsPrimary;
            if (Overlap(p.mirror, id)) usage |= kHoldsMirror;
        }
        return usage;
    }

    uint32_t PrimariesOn(const Disk& d) const {
        uint32_t n = 0;
        for (const auto& p : model_.protections()) n += SameName(p.primary.disk, d.name) ? 1 : 0;
        return n;
    }

    bool WholeDiskUsedAs(const Disk& d, bool mirror) const {
        for (const auto& p : model_.protections()) {
            const ObjectId& side = mirror ? p.mirror : p.primary;
            if (side.number == 0 && SameName(side.disk, d.name)) return true;
        }
        return false;
    }

    bool AnyPartitionInUse(const Disk& d) const {
        for (const auto& p : model_.protections()) {
            for (const ObjectId* side : {&p.primary, &p.mirror}) {
                if (side->number != 0 && SameName(side->disk, d.name)) return true;
            }
        }
        return false;
    }

    static bool CanHoldMirror(const Disk& d) {
        return !d.system && !d.removable && !d.offline && !d.Dynamic();
    }

    static Selected Whole(const Disk& d) {
        Selected s;
        s.disk = &d;
        for (const auto& p : d.partitions) s.partitions.push_back(&p);
        return s;
    }

    uint32_t Select(const RpcDiskListRequest& req, std::vector<Selected>& out) const {
        const auto& disks = model_.inventory().disks;
        switch (req.ListCode) {
            case kForPrimary:
                for (const auto& d : disks) {
                    if (d.offline) continue;
                    Selected s = Whole(d);
                    s.excluded = d.removable || WholeDiskUsedAs(d, true);
                    s.entry_excluded = AnyPartitionInUse(d);
                    for (const auto& p : d.partitions) {
                        if ((Usage(ObjectId{d.name, p.number}) & kHoldsMirror) != 0) {
                            s.excluded_partitions.push_back(p.number);
                        }
                    }
                    out.push_back(std::move(s));
                }
                return status::kOk;
            case kAllWithPartitions:
            case kAllDisks:
                for (const auto& d : disks) {
                    if (!d.offline) out.push_back(Whole(d));
                }
                return status::kOk;
            case kMirrorDisksWithPartitions:
                for (const auto& d : disks) {
                    if (CanHoldMirror(d) && !WholeDiskUsedAs(d, true) &&
                        !WholeDiskUsedAs(d, false)) {
                        out.push_back(Whole(d));
                    }
                }
                return status::kOk;
            case kWholeMirrorDisks:
                for (const auto& d : disks) {
                    if (CanHoldMirror(d) && d.partitions.empty() && Usage({d.name, 0}) == 0) {
                        out.push_back(Whole(d));
                    }
                }
                return status::kOk;
            case kCandidatesFor:
                return SelectCandidates(req, out);
            case kOneObject: {
                Target target;
                const uint32_t found = LocateObject(req, target);
                if (found != status::kOk) return found;
                out.push_back(Whole(*target.disk));
                return status::kOk;
            }
            case kEverything:
                for (const auto& d : disks) out.push_back(Whole(d));
                return status::kOk;
            default:
                return status::kInvalidParameter;
        }
    }

  private:
    uint32_t LocateObject(const RpcDiskListRequest& req, Target& target) const {
        const ObjectId id = wire::Object(req.Object);
        if (id.disk.empty()) return status::kInvalidParameter;
        return model_.Locate(id, target);
    }

    uint32_t SelectCandidates(const RpcDiskListRequest& req, std::vector<Selected>& out) const {
        Target target;
        const uint32_t found = LocateObject(req, target);
        if (found != status::kOk) return found;
        const uint64_t need = target.SizeMiB();
        for (const auto& d : model_.inventory().disks) {
            if (!CanHoldMirror(d) || &d == target.disk) continue;
            if (target.partition == nullptr) {
                if (d.partitions.empty() && d.size_mib >= need && Usage({d.name, 0}) == 0) {
                    out.push_back(Whole(d));
                }
                continue;
            }
            Selected s;
            s.disk = &d;
            for (const auto& p : d.partitions) {
                if (p.size_mib >= need && Usage({d.name, p.number}) == 0)
                    s.partitions.push_back(&p);
            }
            if (!s.partitions.empty()) out.push_back(std::move(s));
        }
        return status::kOk;
    }

    const Model& model_;
};

uint32_t Narrow(uint64_t v) {
    return v > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                    : static_cast<uint32_t>(v);
}

void FillPartition(const Lister& lister, const Selected& s, const Partition& p,
                   RpcPartitionRecord& out) {
    const bool excluded = std::find(s.excluded_partitions.begin(), s.excluded_partitions.end(),
                                    p.number) != s.excluded_partitions.end();
    out.Number = p.number;
    out.Excluded = excluded ? 1 : 0;
    out.Attribute = static_cast<int>(lister.Usage(ObjectId{s.disk->name, p.number}));
    out.Type = p.type;
    wire::SetText(out.Letters, p.letters);
    wire::SetText(out.Label, p.label);
    out.Extra1 = Narrow(p.offset_mib);
    out.Size = Narrow(p.size_mib);
    out.Measure = kBytesPerMiB;
    out.Extra2 = 0;
    out.UsedSize = Narrow(p.used_mib);
    out.Attribute2 = p.file_system;
}

void FillDisk(const Lister& lister, const Selected& s, RpcDiskRecord& out) {
    const Disk& d = *s.disk;
    out.Number = d.number;
    out.Flags = (d.system ? 0x80000000u : 0u) | (d.removable ? 1u : 0u) | (d.offline ? 2u : 0u) |
                (d.Dynamic() ? 4u : 0u);
    out.Excluded = s.excluded ? 1 : 0;
    uint32_t usage = lister.Usage(ObjectId{d.name, 0});
    out.Attribute = static_cast<int>(usage);
    out.Attribute1 = static_cast<int>(d.bus);
    out.Attribute2 = static_cast<int>(d.bytes_per_sector);
    out.Attribute3 = static_cast<int>(lister.PrimariesOn(d));
    wire::SetText(out.Name, d.name);
    out.Marker = static_cast<uint32_t>(d.partitions.size());
    out.DiskEntryExcluded = s.entry_excluded ? 1 : 0;
    out.Size = Narrow(d.size_mib);
    out.Measure = kBytesPerMiB;
    out.Attribute4 = d.gpt ? 1 : 0;

    RpcPartitionRecord* parts = wire::Allocate(out.Partitions.Partitions_len,
                                               out.Partitions.Partitions_val, s.partitions.size());
    for (std::size_t i = 0; i < s.partitions.size(); ++i) {
        FillPartition(lister, s, *s.partitions[i], parts[i]);
    }

    std::u16string model = d.vendor;
    if (!model.empty() && !d.product.empty()) model += u' ';
    model += d.product;
    wire::SetText(out.Text0, d.location);
    wire::SetText(out.Text1, model);
    wire::SetText(out.Text2, d.serial);

    const uint64_t bytes = d.size_mib * kBytesPerMiB;
    RpcDiskProperties* props =
        wire::Allocate(out.Properties.Properties_len, out.Properties.Properties_val, 1);
    props->P0 = d.bytes_per_sector;
    props->P1 = 255;
    props->P2 = 63;
    props->P3 = Narrow(bytes / (255ull * 63ull * d.bytes_per_sector));
    props->P4 = d.bus;
    props->P5 = d.offline ? 4u : 1u;
    props->P6 = d.number;
    wire::SetText(props->Text1, d.adapter);
    wire::SetText(props->Text2, d.location);

    RpcDiskDescriptor* desc =
        wire::Allocate(out.Descriptors.Descriptors_len, out.Descriptors.Descriptors_val, 1);
    wire::SetText(desc->Text1, d.vendor);
    wire::SetText(desc->Text2, d.product);
    wire::SetText(desc->Text3, d.revision);
    wire::SetText(desc->Text4, d.serial);
    desc->Value = d.bus;
    desc->Value64 = static_cast<int64_t>(bytes);
}

}  // namespace

void FillDiskRecord(const Model& model, const Disk& disk, RpcDiskRecord& out) {
    const Lister lister(model);
    FillDisk(lister, Lister::Whole(disk), out);
}

void RegisterDisks(Registry& registry, Service& service) {
    registry.On<GET_DISK_LIST>([&service](const RpcDiskListRequest& req, RpcDiskList& res) {
        if ((req.Options & kRescan) != 0) {
            res.status = service.Rescan();
            if (res.status != status::kOk) return;
        }
        const Lister lister(service.model());
        std::vector<Selected> selected;
        res.status = lister.Select(req, selected);
        if (res.status != status::kOk) return;
        RpcDiskRecord* disks =
            wire::Allocate(res.Disks.Disks_len, res.Disks.Disks_val, selected.size());
        res.DiskCount = static_cast<uint32_t>(selected.size());
        for (std::size_t i = 0; i < selected.size(); ++i) FillDisk(lister, selected[i], disks[i]);
    });
}

}  // namespace qvsim
