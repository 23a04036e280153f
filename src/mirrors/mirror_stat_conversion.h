// The statistics of one protection, from the service's RpcMirrorStats into
// the caller's QV_MIRROR_STAT. qvGetMirrorStat converts its reply here, and
// the group statistics convert each member's record the same way.
#pragma once

#include <cstdint>

#include "quarvane.h"
#include "qvcliapi.h"

namespace qv {

// The protection's state as the caller sees it: 1 to 14 pass, anything
// else gives 0. Groups report their own state on the same scale.
uint32_t MirrorState(uint32_t wire_state) noexcept;

// The service's condition code renumbered for the caller; an unknown code
// gives 0.
uint32_t MirrorCondition(uint32_t wire_condition) noexcept;

// Fills `out`, which the caller has zeroed: state, condition, amounts in
// KiB, the four counter blocks with their rates, and the progress of the
// long operation that the state names. Only the first element of each wire
// array is read, and only when the array holds one.
void ConvertMirrorStats(const RpcMirrorStats& in, QV_MIRROR_STAT& out) noexcept;

}  // namespace qv
