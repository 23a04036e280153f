// Backlook views: a snapshot mounted by the service as a disk of its own.
// Mount and unmount send the same request; the view's disk comes back as
// one disk record, converted like an inventory disk with its partitions.
#include <cstdint>
#include <span>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "disks/disk_conversion.h"
#include "mirrors/object_operation.h"
#include "platform/alloc.h"

using namespace qv;
using qv::disks::DiskListShape;

namespace {

struct ViewOperation {
    ErrorLine error;
    const char16_t* no_memory;
};

constexpr ViewOperation kMount{
    {u"qvMountBacklook, mount backlook error[%08X]", LogOn::kServiceWord},
    u"qvMountBacklook, no more memory for allocation",
};
constexpr ViewOperation kUnmount{
    {u"qvUnmountBacklook, unmount backlook error[%08X]", LogOn::kServiceWord},
    u"qvUnmountBacklook, no more memory for allocation",
};
constexpr ErrorLine kViewDiskLine{u"qvGetBacklookDisk, calling rpc getting disk list error[%08X]",
                                  LogOn::kMappedStatus};

// Only a mount sends a view name: a null one as no text, an empty one as
// the lone terminator.
template <unsigned P>
uint32_t SendView(const ViewOperation& op, QV_HANDLE handle, const QV_OBJECT_ID& object,
                  uint32_t snapshot_id, const QV_WCHAR* view_name) noexcept {
    RemoteCall<P> call(handle);
    RpcBacklookRequest& arg = call.arg;
    if (!FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val, object) ||
        !FillOptionalWString(arg.ViewName, view_name)) {
        const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        LogMessage(2, op.no_memory);
        return status;
    }
    arg.SnapshotId = snapshot_id;
    arg.token = GetLoginToken(handle);
    call.Invoke();
    const uint32_t status = call.Map();
    LogOutcome(op.error, call, status);
    return status;
}

// The view's disk and its partitions into `list` (empty on entry). The
// service counts the partitions in Marker and the list holds Marker + 1
// entries; a Marker above the partitions received, or a disk whose copies
// would outgrow the reply, contradicts itself and leaves the list empty.
uint32_t ConvertViewDisk(const RpcDiskRecord& disk, QV_DISK_LIST& list) noexcept {
    const std::span one(&disk, 1);
    if (disk.Marker > disks::PartitionRecords(disk).size() ||
        !disks::FitsGrowth(one, one, DiskListShape::kEvery)) {
        LogMessage(2, kViewDiskLine.text, QV_STATUS_RPC_FAILED);
        return QV_STATUS_RPC_FAILED;
    }
    const std::size_t count = std::size_t{disk.Marker} + 1;
    auto* entries = static_cast<QV_DISK_INFO*>(AllocZeroed(count, sizeof(QV_DISK_INFO)));
    if (entries == nullptr) return MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
    const std::span block(entries, count);
    if (!disks::ConvertDisks(one, DiskListShape::kEvery, 0, block)) {
        disks::ReleaseDiskEntries(block);
        Free(entries);
        return MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
    }
    list.Count = static_cast<uint32_t>(count);
    list.Entries = entries;
    return 0;
}

}  // namespace

extern "C" QV_STATUS qvMountBacklook(QV_HANDLE handle, const QV_BACKLOOK_MOUNT* mount) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (mount == nullptr || mount->Owner == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return SendView<MOUNT_BACKLOOK>(kMount, handle, *static_cast<const QV_OBJECT_ID*>(mount->Owner),
                                    mount->SnapshotId, mount->ViewName);
}

extern "C" QV_STATUS qvUnmountBacklook(QV_HANDLE handle, uint32_t /*ownerKind*/,
                                       const QV_OBJECT_ID* object, uint32_t snapshotId) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (object == nullptr) return QV_STATUS_INVALID_PARAMETER;
    return SendView<UNMOUNT_BACKLOOK>(kUnmount, handle, *object, snapshotId, nullptr);
}

extern "C" QV_STATUS qvGetBacklookDisk(QV_HANDLE handle, const QV_SNAPSHOT_KEY* key,
                                       QV_DISK_LIST* list, uint32_t param) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (key == nullptr || key->Owner == nullptr || list == nullptr) {
        return QV_STATUS_INVALID_PARAMETER;
    }
    const auto& owner = *static_cast<const QV_OBJECT_ID*>(key->Owner);
    list->Count = 0;
    list->Entries = nullptr;

    RemoteCall<GET_BACKLOOK_DISK> call(handle);
    call.arg.token = GetLoginToken(handle);
    call.arg.Number = owner.number;
    call.arg.SnapshotId = key->SnapshotId;
    call.arg.Param = param;
    if (!FillWString(call.arg.Name, owner.name)) {
        const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        LogMessage(2, kViewDiskLine.text, status);
        return status;
    }
    call.Invoke();
    const uint32_t status = call.Map();
    LogOutcome(kViewDiskLine, call, status);
    return status != 0 ? status : ConvertViewDisk(call.res.Disk, *list);
}
