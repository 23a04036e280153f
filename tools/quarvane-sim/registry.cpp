#include "registry.h"

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
