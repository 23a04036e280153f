// Texts the network-boot records hold inline, in arrays of a fixed size.
#pragma once

#include <algorithm>
#include <cstring>
#include <span>

#include "connection/rpc_call.h"

namespace qv {

// Copies a received text into `out`, cut to leave room for the
// terminator, and terminates it; never reads past the units decoded.
inline void CopyIntoArray(const RpcWString& text, std::span<char16_t> out) noexcept {
    const std::u16string_view received = WireText(text);
    const std::size_t kept = std::min(received.size(), out.size() - 1);
    std::copy_n(received.data(), kept, out.data());
    out[kept] = u'\0';
}

}  // namespace qv
