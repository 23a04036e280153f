// The cluster's records between the wire and the caller. The caller's
// records hold their texts in fixed arrays, so every copy into them is
// bounded by the array and terminated, whatever the service sends, and
// every copy out of them stops at the array's end even when the caller left
// no terminator.
#pragma once

#include <cstddef>
#include <string_view>

#include "connection/rpc_call.h"
#include "proc_table.h"
#include "qvcliapi.h"

namespace qv::cluster {

// The text of a caller's fixed array, up to its first zero unit or its end.
template <std::size_t N>
std::u16string_view ArrayText(const QV_WCHAR (&text)[N]) noexcept {
    std::size_t n = 0;
    while (n < N && text[n] != 0) ++n;
    return {text, n};
}

// Copies a received text into an array of `units` units: cut to fit with
// its terminator, never splitting a surrogate pair, always terminated.
void CopyInto(QV_WCHAR* out, std::size_t units, const RpcWString& in) noexcept;
template <std::size_t N>
void CopyInto(QV_WCHAR (&out)[N], const RpcWString& in) noexcept {
    CopyInto(out, N, in);
}

// A wire string from a caller's text, counted with its terminator; an empty
// text goes as the lone terminator, or, when `empty_as_none`, with no units
// at all. False when the heap says no.
bool FillText(RpcWString& out, std::u16string_view text, bool empty_as_none) noexcept;

// The group key from the caller's group: both texts always sent.
bool FillKey(RpcClusterGroupKey& key, const QV_CLUSTER_GROUP& group) noexcept;

// Calls when the request could be built, maps, and writes the row's line;
// a request short of memory is the row's no-memory case.
template <unsigned P>
uint32_t Send(RemoteCall<P>& call, const Row& row, bool filled) noexcept {
    if (!filled) return NoMemory(row);
    call.Invoke();
    return call.Finish(row);
}

// A received disk into a caller's block that starts zeroed: the three texts
// only when non-empty, the numbers always.
void ConvertDisk(const RpcClusterDisk& in, QV_CLUSTER_DISK& out) noexcept;

}  // namespace qv::cluster
