#include "connection/rpc_call.h"

#include "diag/log.h"
#include "platform/alloc.h"

namespace qv {

uint32_t MapRpcStatus(enum clnt_stat client_status, uint32_t service_status) noexcept {
    if (client_status == RPC_SUCCESS) return service_status;
    LogMessage(kLogError, u"Error, rpc call error, client status[%08X]",
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

uint32_t NoMemory(const char16_t* line) noexcept {
    const uint32_t status = MapRpcStatus(RPC_SUCCESS, QV_STATUS_NO_MEMORY);
    if (line != nullptr) LogMessage(kLogError, line);
    return status;
}

uint32_t NoMemory(const Row& row) noexcept {
    const uint32_t status = NoMemory(row.no_memory.text);
    if (row.no_memory.error_line && row.error_line != nullptr) {
        LogMessage(kLogError, row.error_line, status);
    }
    return status;
}

void LogFailure(const Row& row, uint32_t service_word, uint32_t status) noexcept {
    uint32_t logged = 0;
    switch (row.log_on) {
        case LogOn::kNone:
            return;
        case LogOn::kServiceWord:
            logged = service_word;
            break;
        case LogOn::kWordOnFailure:
            if (status != 0) LogMessage(kLogError, row.error_line, service_word);
            return;
        case LogOn::kMappedStatus:
            logged = status;
            break;
    }
    if (logged != 0 && row.error_line != nullptr) LogMessage(kLogError, row.error_line, logged);
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

bool FillSingleObject(u_int& count, RpcObjectRef*& elements, const char16_t* name,
                      uint32_t number) noexcept {
    auto* element = static_cast<RpcObjectRef*>(AllocZeroed(1, sizeof(RpcObjectRef)));
    if (element == nullptr) return false;
    elements = element;
    count = 1;
    return FillObjectRef(*element, name, number);
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
