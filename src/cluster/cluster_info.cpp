// The cluster as the service pictures it: its names, its groups with one
// physical disk each, and the physical disks of one group. The caller's
// records hold their texts inline, so a whole group or disk is one block
// and the release functions give back only the arrays.
#include "cluster/cluster_records.h"
#include "connection/rpc_call.h"
#include "platform/alloc.h"

using namespace qv;
using namespace qv::cluster;

namespace {

void ConvertGroup(const RpcClusterGroup& in, QV_CLUSTER_GROUP& out) noexcept {
    CopyInto(out.groupName, in.key.groupName);
    CopyInto(out.groupTag, in.key.groupTag);
    out.value1 = in.value1;
    out.value2 = in.value2;
    out.value3 = in.value3;
    out.value4 = in.value4;
    ConvertDisk(in.disk, out.disk);
}

// A name of the cluster: copied only when the service sends one, so the
// caller's own text stays otherwise.
template <std::size_t N>
void CopyName(QV_WCHAR (&out)[N], const RpcWString& in) noexcept {
    if (!WireText(in).empty()) CopyInto(out, in);
}

}  // namespace

extern "C" QV_STATUS qvGetClusterInfo(QV_HANDLE handle, QV_CLUSTER_INFO* info) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (info == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<GET_CLUSTER_INFO> call(handle);
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    const uint32_t status = call.Finish(rows::qvGetClusterInfo);
    if (status != 0) return status;

    const RpcClusterInfo& res = call.res;
    info->infoWord = res.infoWord;
    info->groupCount = 0;
    info->groups = nullptr;
    const u_int count = res.groups.groups_val != nullptr ? res.groups.groups_len : 0;
    if (count != 0) {
        auto* groups = static_cast<QV_CLUSTER_GROUP*>(AllocZeroed(count, sizeof(QV_CLUSTER_GROUP)));
        // Without the groups the names are not copied either.
        if (groups == nullptr) return NoMemory();
        for (u_int i = 0; i < count; ++i) ConvertGroup(res.groups.groups_val[i], groups[i]);
        info->groupCount = count;
        info->groups = groups;
    }
    CopyName(info->name1, res.name1);
    CopyName(info->name2, res.name2);
    CopyName(info->name3, res.name3);
    return 0;
}

extern "C" QV_STATUS qvFreeClusterInfo(QV_CLUSTER_INFO** info, uint32_t keep) {
    if (info == nullptr || *info == nullptr) return 0;
    // groupCount stays: the caller may still read how many there were.
    Free((*info)->groups);
    (*info)->groups = nullptr;
    if (keep == 0) {
        Free(*info);
        *info = nullptr;
    }
    return 0;
}

extern "C" QV_STATUS qvGetClusterGroupPhysicalDiskList(QV_HANDLE handle,
                                                       const QV_CLUSTER_GROUP* group,
                                                       QV_CLUSTER_DISK_LIST* list) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (group == nullptr || list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    Clear(*list);

    const Row& row = rows::qvGetClusterGroupPhysicalDiskList;
    RemoteCall<GET_CLUSTER_GROUP_PHYSICAL_DISK_LIST> call(handle);
    call.arg.token = GetLoginToken(handle);
    const uint32_t status = Send(call, row, FillKey(call.arg.key, *group));
    if (status != 0) return status;

    const RpcClusterDiskList& res = call.res;
    const u_int count = res.disks.disks_val != nullptr ? res.disks.disks_len : 0;
    if (count == 0) return 0;
    auto* disks = static_cast<QV_CLUSTER_DISK*>(AllocZeroed(count, sizeof(QV_CLUSTER_DISK)));
    if (disks == nullptr) return NoMemory();
    for (u_int i = 0; i < count; ++i) ConvertDisk(res.disks.disks_val[i], disks[i]);
    list->count = count;
    list->disks = disks;
    return 0;
}

extern "C" QV_STATUS qvFreePhysicalDiskList(QV_CLUSTER_DISK_LIST** list, uint32_t keep) {
    if (list == nullptr || *list == nullptr) return 0;
    Free((*list)->disks);
    (*list)->disks = nullptr;
    (*list)->count = 0;
    if (keep == 0) {
        Free(*list);
        *list = nullptr;
    }
    return 0;
}
