// Backlook views: a snapshot mounted by the service as a disk of its own.
// Mount and unmount send the same request; the view's disk comes back as
// one disk record, converted like an inventory disk with its partitions.
#include <cstdint>
#include <span>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "disks/disk_conversion.h"
#include "platform/alloc.h"

using namespace qv;
using qv::disks::DiskListShape;

namespace {

// Only a mount sends a view name: a null one as no text, an empty one as
// the lone terminator.
template <unsigned P>
uint32_t SendView(const Row& row, QV_HANDLE handle, const QV_OBJECT_ID& object,
                  uint32_t snapshot_id, const QV_WCHAR* view_name) noexcept {
    RemoteCall<P> call(handle);
    RpcBacklookRequest& arg = call.arg;
    if (!FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, object) ||
        !FillOptionalWString(arg.ViewName, view_name)) {
        return NoMemory(row);
    }
    arg.SnapshotId = snapshot_id;
    arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(row);
}

// The view's disk and its partitions into `list` (empty on entry). The
// service counts the partitions in Marker and the list holds Marker + 1
// entries; a Marker above the partitions received, or a disk whose copies
// would outgrow the reply, contradicts itself and leaves the list empty.
uint32_t ConvertViewDisk(const RpcDiskRecord& disk, QV_DISK_LIST& list) noexcept {
    const std::span one(&disk, 1);
    if (disk.Marker > disks::PartitionRecords(disk).size() ||
        !disks::FitsGrowth(one, one, DiskListShape::kEvery)) {
        LogFailure(rows::qvGetBacklookDisk, 0, QV_STATUS_RPC_FAILED);
        return QV_STATUS_RPC_FAILED;
    }
    const std::size_t count = std::size_t{disk.Marker} + 1;
    auto* entries = static_cast<QV_DISK_INFO*>(AllocZeroed(count, sizeof(QV_DISK_INFO)));
    if (entries == nullptr) return NoMemory();
    const std::span block(entries, count);
    if (!disks::ConvertDisks(one, DiskListShape::kEvery, 0, block)) {
        disks::ReleaseDiskEntries(block);
        Free(entries);
        return NoMemory();
    }
    list.Count = static_cast<uint32_t>(count);
    list.Entries = entries;
    return 0;
}

}  // namespace

extern "C" QV_STATUS qvMountBacklook(QV_HANDLE handle, const QV_BACKLOOK_MOUNT* mount) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (mount == nullptr || mount->Owner == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return SendView<MOUNT_BACKLOOK>(rows::qvMountBacklook, handle,
                                    *static_cast<const QV_OBJECT_ID*>(mount->Owner),
                                    mount->SnapshotId, mount->ViewName);
}

extern "C" QV_STATUS qvUnmountBacklook(QV_HANDLE handle, uint32_t /*ownerKind*/,
                                       const QV_OBJECT_ID* object, uint32_t snapshotId) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (object == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return SendView<UNMOUNT_BACKLOOK>(rows::qvUnmountBacklook, handle, *object, snapshotId,
                                      nullptr);
}

extern "C" QV_STATUS qvGetBacklookDisk(QV_HANDLE handle, const QV_SNAPSHOT_KEY* key,
                                       QV_DISK_LIST* list, uint32_t param) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (key == nullptr || key->Owner == nullptr || list == nullptr) {
        return QV_STATUS_INVALID_PARAMETER;
    }
    const auto& owner = *static_cast<const QV_OBJECT_ID*>(key->Owner);
    Clear(*list);

    RemoteCall<GET_BACKLOOK_DISK> call(handle);
    call.arg.token = GetLoginToken(handle);
    call.arg.Number = owner.number;
    call.arg.SnapshotId = key->SnapshotId;
    call.arg.Param = param;
    if (!FillWString(call.arg.Name, owner.name)) return NoMemory(rows::qvGetBacklookDisk);
    call.Invoke();
    const uint32_t status = call.Finish(rows::qvGetBacklookDisk);
    return status != 0 ? status : ConvertViewDisk(call.res.Disk, *list);
}
