#include "cluster/cluster_records.h"

#include <algorithm>

#include "connection/rpc_call.h"
#include "platform/alloc.h"

namespace qv::cluster {
namespace {

bool HighSurrogate(char16_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

void CopyInto(QV_WCHAR* out, std::size_t units, const RpcWString& in) noexcept {
    const std::u16string_view text = WireText(in);
    std::size_t n = std::min(text.size(), units - 1);
    // A pair cut in two would leave half a character at the end.
    if (n < text.size() && n > 0 && HighSurrogate(text[n - 1])) --n;
    std::copy_n(text.data(), n, out);
    out[n] = 0;
}

bool FillText(RpcWString& out, std::u16string_view text, bool empty_as_none) noexcept {
    out.RpcWString_len = 0;
    out.RpcWString_val = nullptr;
    if (text.empty() && empty_as_none) return true;
    auto* units = static_cast<RpcWChar*>(AllocZeroed(text.size() + 1, sizeof(RpcWChar)));
    if (units == nullptr) return false;
    std::copy(text.begin(), text.end(), units);
    out.RpcWString_val = units;
    out.RpcWString_len = static_cast<u_int>(text.size() + 1);
    return true;
}

bool FillKey(RpcClusterGroupKey& key, const QV_CLUSTER_GROUP& group) noexcept {
    return FillText(key.groupName, ArrayText(group.groupName), false) &&
           FillText(key.groupTag, ArrayText(group.groupTag), false);
}

void ConvertDisk(const RpcClusterDisk& in, QV_CLUSTER_DISK& out) noexcept {
    if (!WireText(in.diskName).empty()) CopyInto(out.diskName, in.diskName);
    out.diskId = in.diskId;
    if (!WireText(in.diskText1).empty()) CopyInto(out.diskText1, in.diskText1);
    if (!WireText(in.diskText2).empty()) CopyInto(out.diskText2, in.diskText2);
    out.diskValue1 = in.diskValue1;
    out.diskValue2 = in.diskValue2;
}

}  // namespace qv::cluster
