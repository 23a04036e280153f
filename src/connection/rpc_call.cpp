#include "connection/rpc_call.h"

#include "diag/log.h"
#include "platform/alloc.h"

namespace qv {

uint32_t MapRpcStatus(enum clnt_stat client_status, uint32_t service_status) noexcept {
    if (client_status == RPC_SUCCESS) return service_status;
    LogMessage(2, u"Error, rpc call error, client status[%08X]",
               static_cast<unsigned>(client_status));
    switch (client_status) {
        case RPC_TIMEDOUT:
            return QV_STATUS_RPC_TIMEOUT;
        case RPC_CANTSEND:
        case RPC_CANTRECV:
            return QV_STATUS_RPC_CHANNEL;
        default:
            return QV_STATUS_RPC_FAILED;
    }
}

bool FillWString(RpcWString& out, const char16_t* text) noexcept {
    const std::u16string_view view(text == nullptr ? u"" : text, StrLen16(text));
    // char16_t and the wire's unsigned short share size and representation.
    static_assert(sizeof(char16_t) == sizeof(u_short));
    char16_t* copy = DupString(view);
    if (copy == nullptr) return false;
    out.RpcWString_len = static_cast<u_int>(view.size() + 1);
    out.RpcWString_val = reinterpret_cast<u_short*>(copy);
    return true;
}

bool FillOptionalWString(RpcWString& out, const char16_t* text) noexcept {
    if (text == nullptr) {
        out.RpcWString_len = 0;
        out.RpcWString_val = nullptr;
        return true;
    }
    return FillWString(out, text);
}

bool FillObjectRef(RpcObjectRef& ref, const char16_t* name, uint32_t number) noexcept {
    ref.number = number;
    return FillWString(ref.name, name);
}

void ReleaseObjectRef(RpcObjectRef& ref) noexcept {
    if (ref.name.RpcWString_val != nullptr) {
        Free(ref.name.RpcWString_val);
        ref.name.RpcWString_val = nullptr;
    }
}

std::u16string_view WireText(const RpcWString& s) noexcept {
    if (s.RpcWString_val == nullptr || s.RpcWString_len == 0) return {};
    const auto* units = reinterpret_cast<const char16_t*>(s.RpcWString_val);
    const std::u16string_view all(units, s.RpcWString_len);
    return all.substr(0, all.find(u'\0'));
}

char16_t* CopyWString(const RpcWString& s) noexcept { return DupString(WireText(s)); }

bool CopyOptionalWString(const RpcWString& s, char16_t*& out) noexcept {
    out = s.RpcWString_len == 0 ? nullptr : CopyWString(s);
    return s.RpcWString_len == 0 || out != nullptr;
}

}  // namespace qv
