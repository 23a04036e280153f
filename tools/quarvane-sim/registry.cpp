#include "registry.h"

#include <concepts>
#include <string>

#include "text.h"
#include "wire.h"

namespace qvsim {
namespace {

// Procedures whose argument has a token field that clients always send as
// 0: the token there identifies nobody, so the service does not check it.
constexpr unsigned kTokenSentAsZero[] = {
    ENABLE_PXE_BOOT_ON_SERVER,
    DISABLE_PXE_BOOT_ON_SERVER,
    SET_PXE_BOOT_PROPERTIES_ON_SERVER,
};

constexpr bool TokenSentAsZero(unsigned proc) {
    for (unsigned p : kTokenSentAsZero) {
        if (p == proc) return true;
    }
    return false;
}

// "Disk1:1", or "Disk1" for a whole disk; empty for no reference.
std::string Ref(const RpcObjectRef* ref) {
    if (ref == nullptr) return "";
    const std::string name = ToUtf8(wire::Text(ref->name));
    return name.empty() || ref->number == 0 ? name : name + ":" + std::to_string(ref->number);
}

// The records name their objects in a few shapes, by the same field names
// throughout the protocol; an array of references (len, val) stands for its
// first element.
template <typename Arg>
std::string ObjectOf(const Arg& a) {
    const auto first = [](const auto& array) -> std::string {
        const auto& [len, val] = array;
        return Ref(wire::First(len, val));
    };
    std::string out;
    if constexpr (std::same_as<Arg, RpcObjectRef>) {
        out = Ref(&a);
    } else if constexpr (requires { a.Primaries; }) {
        out = first(a.Primaries);
        if constexpr (requires { a.Mirrors; }) out += " on " + first(a.Mirrors);
    } else if constexpr (requires { a.Objects; }) {
        out = first(a.Objects);
    } else if constexpr (requires { a.Object; }) {
        out = Ref(&a.Object);
    } else if constexpr (requires { a.First; }) {
        out = Ref(&a.First) + " and " + Ref(&a.Second);
    } else if constexpr (requires { a.login1; }) {
        out = "user " + ToUtf8(wire::Text(a.login1));
    }
    if constexpr (requires { a.GroupName; }) {
        const std::string group = ToUtf8(wire::Text(a.GroupName));
        if (!group.empty()) out += (out.empty() ? "group " : " in group ") + group;
    }
    return out;
}

template <unsigned P>
RecordAccess MakeAccess() {
    using Arg = typename qv::wire::Proc<P>::Arg;
    using Res = typename qv::wire::Proc<P>::Res;
    RecordAccess access;
    if constexpr (requires(const Arg& a) { a.token; }) {
        if constexpr (!TokenSentAsZero(P)) {
            access.token = [](const void* arg) -> std::optional<uint32_t> {
                return static_cast<const Arg*>(arg)->token;
            };
        }
    }
    access.object = [](const void* arg) { return ObjectOf(*static_cast<const Arg*>(arg)); };
    if constexpr (requires(Res & r) { r.status = 0u; }) {
        access.set_status = [](void* res, uint32_t word) { static_cast<Res*>(res)->status = word; };
        access.get_status = [](const void* res) { return static_cast<const Res*>(res)->status; };
    }
    return access;
}

template <std::size_t... N>
std::array<RecordAccess, sizeof...(N)> MakeTable(std::index_sequence<N...>) {
    return {MakeAccess<static_cast<unsigned>(N)>()...};
}

}  // namespace

const RecordAccess& Access(unsigned proc) {
    static const auto table = MakeTable(std::make_index_sequence<qv::wire::kProcCount>());
    return table.at(proc);
}

}  // namespace qvsim
