// The service's notifications: three numbers and a text each.
#include <span>

#include "connection/rpc_call.h"
#include "diag/log.h"
#include "mirrors/object_operation.h"
#include "platform/alloc.h"

using namespace qv;

namespace {

constexpr ErrorLine kNotificationsLine{
    u"qvGetNotifications, calling rpc getting notifications list error[%08X]",
    LogOn::kMappedStatus};

void ReleaseEntries(QV_NOTIFICATION* entries, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) Free(entries[i].Text);
    Free(entries);
}

// Fills `list` from the reply; on lack of memory nothing is kept and the
// list stays empty.
uint32_t ConvertNotifications(const RpcNotificationList& reply,
                              QV_NOTIFICATION_LIST& list) noexcept {
    list.FirstValue3 = 0;
    list.Count = 0;
    list.Entries = nullptr;
    if (reply.Notifications.Notifications_val == nullptr) return 0;
    const std::span received(reply.Notifications.Notifications_val,
                             reply.Notifications.Notifications_len);
    if (received.empty()) return 0;
    auto* entries =
        static_cast<QV_NOTIFICATION*>(AllocZeroed(received.size(), sizeof(QV_NOTIFICATION)));
    if (entries == nullptr) return MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
    for (std::size_t i = 0; i < received.size(); ++i) {
        entries[i].Value1 = received[i].Value1;
        entries[i].Value2 = received[i].Value2;
        entries[i].Value3 = received[i].Value3;
        entries[i].Text = CopyWString(received[i].Text);
        if (entries[i].Text == nullptr) {
            ReleaseEntries(entries, i);
            return MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
        }
    }
    list.FirstValue3 = received.front().Value3;
    list.Count = static_cast<uint32_t>(received.size());
    list.Entries = entries;
    return 0;
}

}  // namespace

extern "C" QV_STATUS qvGetNotifications(QV_HANDLE handle, uint32_t param1, uint32_t param2,
                                        uint32_t param3, QV_NOTIFICATION_LIST* list) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    RemoteCall<GET_NOTIFICATIONS> call(handle);
    // The first value travels last.
    call.arg.token = GetLoginToken(handle);
    call.arg.Param2 = param2;
    call.arg.Param3 = param3;
    call.arg.Param1 = param1;
    call.Invoke();
    const uint32_t status = call.Map();
    LogOutcome(kNotificationsLine, call, status);
    return status != 0 ? status : ConvertNotifications(call.res, *list);
}

extern "C" QV_STATUS qvFreeNotifications(QV_NOTIFICATION_LIST* list) {
    if (list == nullptr || list->Entries == nullptr) return 0;
    ReleaseEntries(list->Entries, list->Count);
    return 0;
}
