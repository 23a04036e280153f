// What a caller asks of the service's cluster support: configure a cluster
// group on one of its disks or remove that, move a group between the nodes,
// pass a message, pull a block of information text. The service answers
// the four cluster requests with its status word alone.
#include <cstring>

#include "cluster/cluster_records.h"
#include "connection/rpc_call.h"
#include "platform/alloc.h"

using namespace qv;
using namespace qv::cluster;

extern "C" QV_STATUS qvSetClusterGroupInfo(QV_HANDLE handle, const QV_CLUSTER_GROUP* group) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (group == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<SET_CLUSTER_GROUP_INFO> call(handle);
    RpcClusterGroupConfig& arg = call.arg;
    arg.token = GetLoginToken(handle);
    // The disk's texts travel only when they hold something; its two values
    // are the service's to set, and the group's four are not sent at all.
    const QV_CLUSTER_DISK& disk = group->disk;
    arg.disk.diskId = disk.diskId;
    arg.disk.diskValue1 = 0;
    arg.disk.diskValue2 = 0;
    const bool filled = FillKey(arg.key, *group) &&
                        FillText(arg.disk.diskName, ArrayText(disk.diskName), true) &&
                        FillText(arg.disk.diskText1, ArrayText(disk.diskText1), true) &&
                        FillText(arg.disk.diskText2, ArrayText(disk.diskText2), true);
    return Send(call, rows::qvSetClusterGroupInfo, filled);
}

extern "C" QV_STATUS qvRemoveClusterGroupInfo(QV_HANDLE handle, const QV_CLUSTER_GROUP* group) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (group == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<REMOVE_CLUSTER_GROUP_INFO> call(handle);
    call.arg.token = GetLoginToken(handle);
    return Send(call, rows::qvRemoveClusterGroupInfo, FillKey(call.arg.key, *group));
}

extern "C" QV_STATUS qvFailoverAction(QV_HANDLE handle, const QV_CLUSTER_GROUP* group,
                                      uint32_t action) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (group == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<FAILOVER_ACTION> call(handle);
    call.arg.token = GetLoginToken(handle);
    call.arg.action = action;
    return Send(call, rows::qvFailoverAction, FillKey(call.arg.key, *group));
}

extern "C" QV_STATUS qvClusterCommunication(QV_HANDLE handle, const QV_WCHAR* text) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;

    RemoteCall<CLUSTER_COMMUNICATION> call(handle);
    call.arg.token = GetLoginToken(handle);
    const std::u16string_view message(text != nullptr ? text : u"");
    return Send(call, rows::qvClusterCommunication, FillText(call.arg.text, message, true));
}

extern "C" QV_STATUS qvPullInformation(QV_HANDLE handle, uint32_t kind, QV_PULL_INFO* info) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (info == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<PULL_INFORMATION> call(handle);
    call.arg.token = GetLoginToken(handle);
    call.arg.infoKind = kind;
    // The row's line keeps the name the function was known by when it was added.
    const Row& row = rows::qvPullInformation;
    uint32_t status = Send(call, row, true);
    if (status != 0) return status;

    const u_int length = call.res.data.data_val != nullptr ? call.res.data.data_len : 0;
    char* text = nullptr;
    if (length != 0) {
        // The service counts a terminator; one is added all the same, so a
        // text without it is still terminated.
        text = static_cast<char*>(Alloc(static_cast<std::size_t>(length) + 1));
        if (text == nullptr) {
            status = NoMemory();
            LogFailure(row, 0, status);
            return status;
        }
        std::memcpy(text, call.res.data.data_val, length);
        text[length] = 0;
    }
    info->length = length;
    info->text = text;
    return 0;
}
