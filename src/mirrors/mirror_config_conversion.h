// The mirror configuration between the caller's QV_MIRROR_CONFIG and the
// wire's RpcMirrorConfig.
//
// The fill builds the request that enable and change send; the conversion
// reads a configuration the service sent (one entry of the mirror list, a
// member of a listed group). Wire and caller order differ, so every field
// is matched by name.
#pragma once

#include <cstdint>

#include "quarvane.h"
#include "qvcliapi.h"

namespace qv {

// The service knows mirror kinds 1 and 2; anything else travels, and reads
// back, as 0.
constexpr uint32_t ReduceMirrorKind(uint32_t kind) noexcept {
    return kind == 1 || kind == 2 ? kind : 0;
}

// A caller's 32-bit boolean as the wire carries it.
constexpr uint32_t WireSwitch(uint32_t value) noexcept { return value != 0 ? 1 : 0; }

// Whether Text4 goes with the request: only a new protection carries it.
enum class MirrorText4 { kSend, kLeaveOut };

// Fills the configuration part of a request into a zeroed `wire`: one
// primary, one mirror and one schedule, the texts the caller gives (a null
// text stays a zero-element text), enumerated fields limited to their
// accepted set. Status, token, the enable options and the spares are the
// caller's to set. LimitOn is a precondition the caller checks; it is not
// sent.
// Returns 0, or QV_STATUS_NO_MEMORY after logging the fill's line; then
// `wire` is zeroed again with nothing left allocated.
uint32_t FillRpcMirrorConfig(RpcMirrorConfig& wire, const QV_MIRROR_CONFIG& config,
                             MirrorText4 text4) noexcept;

// A configuration from the service carries one primary, one mirror and one
// schedule; a record without any of them cannot be read.
bool IsCompleteMirrorConfig(const RpcMirrorConfig& wire) noexcept;

// Reads a received configuration into `out` (zeroed first): the first
// primary, mirror and schedule, copies of the texts that have elements,
// MirrorKind and the schedule Mode reduced, the switches as received,
// LimitOn from Limit, the reserved fields 0.
// Returns 0; QV_STATUS_RPC_FAILED for a record that is not complete (nothing
// is read); QV_STATUS_NO_MEMORY when a copy fails. On failure `out` is
// zeroed with nothing allocated. Nothing is logged: the caller names the
// function in its own line.
uint32_t ConvertMirrorConfig(const RpcMirrorConfig& wire, QV_MIRROR_CONFIG& out) noexcept;

// Gives back the strings of a configuration that ConvertMirrorConfig filled
// (names of Primary and Mirror, Text1 to Text4) and clears their pointers.
void ReleaseMirrorConfigStrings(QV_MIRROR_CONFIG& config) noexcept;

}  // namespace qv
