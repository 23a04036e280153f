// Snapshots of one protected object: take, follow, cancel, list, delete.
//
// The list and the delete share one request, RpcSnapshotQuery, which names
// an object by a one-element Objects array or a group by GroupName, and a
// single snapshot by SnapshotId.
#include <algorithm>
#include <span>

#include "connection/shapes.h"
#include "connection/wire_list.h"
#include "diag/log.h"
#include "mirrors/progress_conversion.h"
#include "platform/alloc.h"
#include "snapshots/snapshot_conversion.h"

using namespace qv;

namespace {

constexpr ProgressReport kSnapshotProgress{
    LongOperation::kSnapshot,
    u"Snapshot Disk, %s:%u, return:%u state:%u dirtyData:%u totalDone:%u",
    LoggedState::kConverted,
};

// The take option the service knows: 1, or nothing.
constexpr uint32_t kTakeOption = 1;

// What a selector names, read once: the object or the group, and for the
// single-snapshot kinds the snapshot's number.
struct Selection {
    const QV_OBJECT_ID* object = nullptr;
    const QV_GROUP_REF* group = nullptr;
    bool single = false;
    uint32_t snapshot_id = 0;

    snapshots::SnapshotOwner Owner() const noexcept {
        return {object, group != nullptr ? group->Name : nullptr};
    }
};

// False for a kind outside 1 to 4 or a missing target or owner.
bool ReadSelector(const QV_SNAPSHOT_SELECTOR& selector, Selection& out) noexcept {
    if (selector.Target == nullptr) return false;
    const void* owner = selector.Target;
    switch (selector.Kind) {
        case QV_SNAPSHOTS_OF_OBJECT:
        case QV_SNAPSHOTS_OF_GROUP:
            break;
        case QV_SNAPSHOT_OF_OBJECT:
        case QV_SNAPSHOT_OF_GROUP: {
            const auto* key = static_cast<const QV_SNAPSHOT_KEY*>(selector.Target);
            owner = key->Owner;
            out.single = true;
            out.snapshot_id = key->SnapshotId;
            break;
        }
        default:
            return false;
    }
    if (owner == nullptr) return false;
    if (selector.Kind == QV_SNAPSHOTS_OF_OBJECT || selector.Kind == QV_SNAPSHOT_OF_OBJECT) {
        out.object = static_cast<const QV_OBJECT_ID*>(owner);
    } else {
        out.group = static_cast<const QV_GROUP_REF*>(owner);
    }
    return true;
}

bool IsSnapshotKind(uint32_t kind) noexcept {
    return kind >= QV_SNAPSHOTS_OF_OBJECT && kind <= QV_SNAPSHOT_OF_GROUP;
}

// The query's object or group and snapshot number; false when the heap
// says no (what was allocated goes back with the request).
bool FillQuery(RpcSnapshotQuery& query, uint32_t kind, const Selection& selection) noexcept {
    query.Kind = kind;
    query.SnapshotId = selection.snapshot_id;
    if (selection.object != nullptr) {
        return FillSingleObject(query.Objects.Objects_len, query.Objects.Objects_val,
                                *selection.object);
    }
    return FillWString(query.GroupName, selection.group->Name);
}

// Fills `list` (empty on entry) from the records. Every record is
// converted even when one runs out of memory: the list then keeps every
// entry, the ones short of a text or a view included, for the caller to give
// back, and the call reports the lack of memory. A count above the records
// received is refused.
uint32_t ConvertList(const RpcSnapshotList& reply, const Selection& selection,
                     QV_SNAPSHOT_LIST& list) noexcept {
    const auto received = Received(reply.Records);
    std::span<const RpcSnapshotRecord> converted;
    if (selection.single) {
        const auto found =
            std::ranges::find(received, selection.snapshot_id, &RpcSnapshotRecord::SnapshotId);
        if (found == received.end()) return QV_STATUS_SNAPSHOT_NOT_FOUND;
        converted = std::span(&*found, 1);
    } else {
        const auto walked = Walk(received, reply.Count);
        if (!walked) {
            LogFailure(rows::qvGetSnapshotList, 0, QV_STATUS_RPC_FAILED);
            return QV_STATUS_RPC_FAILED;
        }
        converted = *walked;
    }
    if (converted.empty()) return 0;
    auto* entries =
        static_cast<QV_SNAPSHOT_INFO*>(AllocZeroed(converted.size(), sizeof(QV_SNAPSHOT_INFO)));
    if (entries == nullptr) return QV_STATUS_NO_MEMORY;
    list.Count = static_cast<uint32_t>(converted.size());
    list.Entries = entries;
    const snapshots::SnapshotOwner owner = selection.Owner();
    uint32_t status = 0;
    for (const RpcSnapshotRecord& record : converted) {
        if (snapshots::ConvertSnapshot(record, owner, *entries++) != 0) {
            status = QV_STATUS_NO_MEMORY;
        }
    }
    return status;
}

}  // namespace

extern "C" QV_STATUS qvTakeSnapshot(QV_HANDLE handle, const QV_SNAPSHOT_REQUEST* request) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (request == nullptr || request->Owner == nullptr) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<TAKE_SNAPSHOT> call(handle);
    RpcTakeSnapshot& arg = call.arg;
    // No group name; the text goes as the lone terminator.
    if (!FillSingleObject(arg.Objects.Objects_len, arg.Objects.Objects_val,
                          *static_cast<const QV_OBJECT_ID*>(request->Owner)) ||
        !FillWString(arg.Text, nullptr)) {
        return NoMemory(rows::qvTakeSnapshot);
    }
    arg.Option = request->Option == kTakeOption ? 1 : 0;
    arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(rows::qvTakeSnapshot);
}

extern "C" QV_STATUS qvGetSnapshotProgress(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                                           QV_PROGRESS* progress) {
    return ReadByObject<GET_SNAPSHOT_PROGRESS>(
        rows::qvGetSnapshotProgress, handle, name, number, progress,
        [&](const RpcProgress& in, QV_PROGRESS& out) {
            return ReportProgress(in, kSnapshotProgress, name, number, out);
        });
}

extern "C" QV_STATUS qvGetSnapshotList(QV_HANDLE handle, const QV_SNAPSHOT_SELECTOR* selector,
                                       QV_SNAPSHOT_LIST* list) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    Selection selection;
    if (selector == nullptr || list == nullptr || !ReadSelector(*selector, selection)) {
        return QV_STATUS_INVALID_PARAMETER;
    }

    RemoteCall<GET_SNAPSHOT_LIST> call(handle);
    call.arg.Param1 = selector->Param1;
    call.arg.Param2 = selector->Param2;
    call.arg.Param3 = selector->Param3;
    call.arg.token = GetLoginToken(handle);
    if (!FillQuery(call.arg, selector->Kind, selection)) return NoMemory(rows::qvGetSnapshotList);
    Clear(*list);
    call.Invoke();
    const uint32_t status = call.Finish(rows::qvGetSnapshotList);
    return status != 0 ? status : ConvertList(call.res, selection, *list);
}

extern "C" QV_STATUS qvFreeSnapshotList(QV_SNAPSHOT_LIST** list, uint32_t keepHeader) {
    return ReleaseList<&QV_SNAPSHOT_LIST::Count, &QV_SNAPSHOT_LIST::Entries>(
        list, keepHeader, snapshots::ReleaseSnapshotEntry);
}

extern "C" QV_STATUS qvDeleteSnapshots(QV_HANDLE handle, const QV_SNAPSHOT_SELECTOR* selector) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    Selection selection;
    if (selector == nullptr) return QV_STATUS_INVALID_PARAMETER;
    if (!IsSnapshotKind(selector->Kind)) {
        LogMessage(kLogError, u"qvDeleteSnapshots, parameter invalid");
        return QV_STATUS_INVALID_PARAMETER;
    }
    if (!ReadSelector(*selector, selection)) return QV_STATUS_INVALID_PARAMETER;

    // The list's three parameters are not part of a delete.
    RemoteCall<DELETE_SNAPSHOTS> call(handle);
    call.arg.token = GetLoginToken(handle);
    if (!FillQuery(call.arg, selector->Kind, selection)) return NoMemory(rows::qvDeleteSnapshots);
    call.Invoke();
    return call.Finish(rows::qvDeleteSnapshots);
}
