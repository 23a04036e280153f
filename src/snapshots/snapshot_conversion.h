// Snapshot records of the service turned into caller-owned QV_SNAPSHOT_INFO
// entries, and their release.
//
// The owner of a listed snapshot is the one the caller selected, not the
// object the record names: an object's entry carries its own QV_OBJECT_ID
// (a block holding a copy of the name), a group's entry the group's name
// itself. The release follows OwnerKind to give back the right shape.
#pragma once

#include <cstdint>
#include <span>

#include "quarvane.h"
#include "qvcliapi.h"

namespace qv::snapshots {

// The owner every entry of one list gets.
struct SnapshotOwner {
    const QV_OBJECT_ID* object;  // set for an object's snapshots
    const char16_t* group;       // otherwise the group's name (null reads as "")
};

// Fills `entry` (zeroed by the caller) from `record`. Returns 0, or
// QV_STATUS_NO_MEMORY when a text or the view block cannot be allocated;
// whatever was filled stays in the entry for ReleaseSnapshotEntry. An owner
// that cannot be allocated leaves Owner null and the status as it is.
uint32_t ConvertSnapshot(const RpcSnapshotRecord& record, const SnapshotOwner& owner,
                         QV_SNAPSHOT_INFO& entry) noexcept;

// Gives back every string and block of an entry and clears the pointers.
void ReleaseSnapshotEntry(QV_SNAPSHOT_INFO& entry) noexcept;
void ReleaseSnapshotEntries(std::span<QV_SNAPSHOT_INFO> entries) noexcept;

}  // namespace qv::snapshots
