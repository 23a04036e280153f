#include "snapshots/snapshot_conversion.h"

#include "connection/rpc_call.h"
#include "platform/alloc.h"

namespace qv::snapshots {
namespace {

// Owner kinds of an entry.
constexpr uint32_t kOwnedByObject = 0;
constexpr uint32_t kOwnedByGroup = 1;

// A new QV_OBJECT_ID with its own copy of the name; null when the heap says
// no (nothing is kept then).
QV_OBJECT_ID* CopyObjectId(const QV_OBJECT_ID& id) noexcept {
    auto* copy = static_cast<QV_OBJECT_ID*>(AllocZeroed(1, sizeof(QV_OBJECT_ID)));
    if (copy == nullptr) return nullptr;
    char16_t* name = DupString(id.name == nullptr ? u"" : id.name);
    if (name == nullptr) {
        Free(copy);
        return nullptr;
    }
    copy->name = name;
    copy->number = id.number;
    return copy;
}

void FillOwner(const SnapshotOwner& owner, QV_SNAPSHOT_INFO& entry) noexcept {
    if (owner.object != nullptr) {
        entry.OwnerKind = kOwnedByObject;
        entry.Owner = CopyObjectId(*owner.object);
    } else {
        entry.OwnerKind = kOwnedByGroup;
        entry.Owner = DupString(owner.group == nullptr ? u"" : owner.group);
    }
}

// The mounted view: the record's Text2 as its name, an empty Text3.
QV_SNAPSHOT_VIEW* NewView(const RpcSnapshotRecord& record) noexcept {
    auto* view = static_cast<QV_SNAPSHOT_VIEW*>(AllocZeroed(1, sizeof(QV_SNAPSHOT_VIEW)));
    if (view == nullptr) return nullptr;
    view->Text3 = DupString(u"");
    view->ViewName = CopyWString(record.Text2);
    if (view->Text3 == nullptr || view->ViewName == nullptr) {
        Free(view->Text3);
        Free(view->ViewName);
        Free(view);
        return nullptr;
    }
    return view;
}

}  // namespace

uint32_t ConvertSnapshot(const RpcSnapshotRecord& record, const SnapshotOwner& owner,
                         QV_SNAPSHOT_INFO& entry) noexcept {
    uint32_t status = 0;
    entry.Text1 = CopyWString(record.Text1);
    entry.ViewName = DupString(u"");
    if (entry.Text1 == nullptr || entry.ViewName == nullptr) status = QV_STATUS_NO_MEMORY;
    entry.Value64 = record.Value64;
    FillOwner(owner, entry);
    entry.SnapshotId = record.SnapshotId;
    if (record.HasView != 0) {
        entry.View = NewView(record);
        if (entry.View == nullptr) status = QV_STATUS_NO_MEMORY;
    }
    if (!CopyOptionalWString(record.Text3, entry.Text3)) status = QV_STATUS_NO_MEMORY;
    return status;
}

void ReleaseSnapshotEntry(QV_SNAPSHOT_INFO& entry) noexcept {
    Free(entry.ViewName);
    Free(entry.Text1);
    if (entry.Owner != nullptr) {
        if (entry.OwnerKind != kOwnedByObject) {
            Free(entry.Owner);
        } else {
            auto* id = static_cast<QV_OBJECT_ID*>(entry.Owner);
            Free(const_cast<QV_WCHAR*>(id->name));
            Free(id);
        }
    }
    Free(entry.Text3);
    if (entry.View != nullptr) {
        Free(entry.View->Text3);
        Free(entry.View->ViewName);
        Free(entry.View);
    }
    entry.ViewName = entry.Text1 = entry.Text3 = nullptr;
    entry.Owner = nullptr;
    entry.View = nullptr;
}

void ReleaseSnapshotEntries(std::span<QV_SNAPSHOT_INFO> entries) noexcept {
    for (QV_SNAPSHOT_INFO& entry : entries) ReleaseSnapshotEntry(entry);
}

}  // namespace qv::snapshots
