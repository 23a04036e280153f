// The service's notifications: three numbers and a text each.
#include "connection/rpc_call.h"
#include "connection/wire_list.h"
#include "platform/alloc.h"

using namespace qv;

namespace {

void ReleaseNotification(QV_NOTIFICATION& entry) noexcept {
    Free(entry.Text);
    entry.Text = nullptr;
}

uint32_t ConvertNotification(const RpcNotification& in, QV_NOTIFICATION& out) noexcept {
    out.Value1 = in.Value1;
    out.Value2 = in.Value2;
    out.Value3 = in.Value3;
    out.Text = CopyWString(in.Text);
    return out.Text != nullptr ? 0 : QV_STATUS_NO_MEMORY;
}

}  // namespace

// The caller's list is written only when the whole reply converted.
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
    uint32_t status = call.Finish(rows::qvGetNotifications);
    if (status != 0) return status;
    const auto received = Received(call.res.Notifications);
    QV_NOTIFICATION_LIST converted{};
    status = ConvertEntries<ReleaseNotification>(received, ConvertNotification, converted.Entries,
                                                 converted.Count);
    if (status != 0) return status;
    converted.FirstValue3 = received.empty() ? 0 : received.front().Value3;
    *list = converted;
    return 0;
}

extern "C" QV_STATUS qvFreeNotifications(QV_NOTIFICATION_LIST* list) {
    if (list == nullptr) return 0;
    ReleaseEntries<&QV_NOTIFICATION_LIST::Count, &QV_NOTIFICATION_LIST::Entries>(
        *list, ReleaseNotification);
    return 0;
}
