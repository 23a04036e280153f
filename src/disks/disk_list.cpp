// The disk inventory: qvGetDiskList, qvFreeDiskList, qvRefreshDiskList.
// All three go through GET_DISK_LIST.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "connection/rpc_call.h"
#include "connection/wire_list.h"
#include "diag/log.h"
#include "disks/disk_conversion.h"

using namespace qv;
using qv::disks::DiskListShape;

namespace {

// Asks the service to rescan its disks before it answers.
constexpr uint32_t kRescan = 0x80000000u;

// What one list kind asks the service for, and which entries the reply
// makes. Kinds 7 and 8 name a disk or a partition by their object's number:
// a partition number picks `by_partition`, 0 (the whole disk) `shape`.
struct ListKind {
    uint32_t kind;
    uint32_t list_code;
    DiskListShape shape;
    DiskListShape by_partition;
    bool needs_object;
};

constexpr std::array kListKinds{
    ListKind{1, 0, DiskListShape::kFiltered, DiskListShape::kFiltered, false},
    ListKind{3, 1, DiskListShape::kEvery, DiskListShape::kEvery, false},
    ListKind{4, 2, DiskListShape::kEvery, DiskListShape::kEvery, false},
    ListKind{5, 3, DiskListShape::kDisks, DiskListShape::kDisks, false},
    ListKind{6, 4, DiskListShape::kDisks, DiskListShape::kDisks, false},
    ListKind{7, 5, DiskListShape::kDisks, DiskListShape::kPartitions, true},
    ListKind{8, 6, DiskListShape::kOneDisk, DiskListShape::kOnePartition, true},
    ListKind{255, 255, DiskListShape::kEvery, DiskListShape::kEvery, false},
};

// Kinds the table does not know are asked as list code 0 and give nothing.
constexpr ListKind kUnknownKind{0, 0, DiskListShape::kNone, DiskListShape::kNone, false};

const ListKind& FindListKind(uint32_t kind) noexcept {
    const auto found = std::ranges::find(kListKinds, kind, &ListKind::kind);
    return found == kListKinds.end() ? kUnknownKind : *found;
}

uint32_t ListNoMemory() noexcept { return NoMemory(rows::qvGetDiskList); }

// Converts a successful reply into `list` (empty on entry). The block is
// sized once by the same walk that fills it; on any failure the list stays
// empty and nothing is kept.
uint32_t ConvertReply(const RpcDiskList& reply, DiskListShape shape, uint32_t partition,
                      QV_DISK_LIST& list) noexcept {
    if (reply.DiskCount == 0) return 0;
    const auto received = Received(reply.Disks);
    const auto walked = Walk(received, reply.DiskCount);
    if (!walked) {
        LogMessage(kLogError, u"qvGetDiskList, reply counts %u disks but carries %u[%08X]",
                   reply.DiskCount, static_cast<unsigned>(received.size()), QV_STATUS_RPC_FAILED);
        return QV_STATUS_RPC_FAILED;
    }
    const auto records = *walked;

    const std::size_t count = disks::CountDiskEntries(records, shape, partition);
    if (count == 0) return 0;
    // Every partition entry copies its disk's texts: long texts on a disk
    // with many partitions would make the list outgrow the reply by their
    // product. The list may hold only so many times what arrived.
    if (!disks::FitsGrowth(records, received, shape, partition)) {
        LogMessage(kLogError,
                   u"qvGetDiskList, reply would convert into more than %u times its size[%08X]",
                   static_cast<unsigned>(disks::kMaxGrowth), QV_STATUS_RPC_FAILED);
        return QV_STATUS_RPC_FAILED;
    }
    if (count > UINT32_MAX) return ListNoMemory();
    EntryBlock<QV_DISK_INFO, disks::ReleaseDiskEntry> block(count);
    if (!block || !disks::ConvertDisks(records, shape, partition, block.span())) {
        return ListNoMemory();
    }
    block.MoveTo(list.Entries, list.Count);
    return 0;
}

}  // namespace

QV_STATUS qvGetDiskList(QV_HANDLE handle, const QV_DISK_FILTER* filter, QV_DISK_LIST* list) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (filter == nullptr || list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    const ListKind& kind = FindListKind(filter->Kind);
    if (kind.needs_object && filter->Object == nullptr) return QV_STATUS_INVALID_PARAMETER;

    Clear(*list);

    RemoteCall<GET_DISK_LIST> call(handle);
    call.arg.ListCode = kind.list_code;
    call.arg.Options = filter->Options | (filter->Refresh != 0 ? kRescan : 0);
    call.arg.token = GetLoginToken(handle);
    uint32_t partition = 0;
    if (filter->Object != nullptr) {
        // Nested reference: kind and token stay 0.
        if (!FillObjectRef(call.arg.Object, *filter->Object)) return ListNoMemory();
        partition = filter->Object->number;
    }
    const DiskListShape shape = partition != 0 ? kind.by_partition : kind.shape;

    call.Invoke();
    const uint32_t status = call.Finish(rows::qvGetDiskList);
    if (status != 0) return status;
    return ConvertReply(call.res, shape, partition, *list);
}

QV_STATUS qvFreeDiskList(QV_DISK_LIST** list, uint32_t keepHeader) {
    return ReleaseList<&QV_DISK_LIST::Count, &QV_DISK_LIST::Entries>(list, keepHeader,
                                                                     disks::ReleaseDiskEntry);
}

QV_STATUS qvRefreshDiskList(QV_HANDLE handle) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<GET_DISK_LIST> call(handle);
    call.arg.ListCode = 0;
    call.arg.Options = kRescan | 0xFFu;
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(rows::qvRefreshDiskList);
}
