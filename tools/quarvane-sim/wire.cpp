#include "wire.h"

#include <cstring>

namespace qvsim::wire {

std::u16string Text(const RpcWString& s) {
    std::u16string out;
    if (s.RpcWString_val == nullptr) return out;
    for (u_int i = 0; i < s.RpcWString_len; ++i) {
        const auto unit = static_cast<char16_t>(s.RpcWString_val[i]);
        if (unit == 0) break;
        out.push_back(unit);
    }
    return out;
}

std::optional<std::u16string> OptionalText(const RpcWString& s) {
    if (s.RpcWString_len == 0 || s.RpcWString_val == nullptr) return std::nullopt;
    return Text(s);
}

void SetText(RpcWString& out, std::u16string_view text) {
    RpcWChar* units = Allocate(out.RpcWString_len, out.RpcWString_val, text.size() + 1);
    for (std::size_t i = 0; i < text.size(); ++i) units[i] = static_cast<RpcWChar>(text[i]);
}

void SetOptionalText(RpcWString& out, const std::optional<std::u16string>& text) {
    if (text) {
        SetText(out, *text);
    } else {
        out.RpcWString_len = 0;
        out.RpcWString_val = nullptr;
    }
}

ObjectId Object(const RpcObjectRef& ref) { return ObjectId{Text(ref.name), ref.number}; }

void SetObject(RpcObjectRef& out, const ObjectId& id) {
    out.kind = 0;
    SetText(out.name, id.disk);
    out.number = id.number;
    out.token = 0;
}

}  // namespace qvsim::wire
