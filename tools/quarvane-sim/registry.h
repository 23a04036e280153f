// The handlers of the procedures the daemon models, by procedure number.
//
// A family registers a typed handler per procedure; the server decodes the
// arguments with the procedure table, finds the handler here and calls it
// with the decoded argument record and a zeroed result record. Procedures
// without a handler get the server's default answer.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "proc_table.h"

namespace qvsim {

class Registry {
  public:
    using Handler = std::function<void(const void* arg, void* res)>;

    template <unsigned P, typename F>
    void On(F handler) {
        using Arg = typename qv::wire::Proc<P>::Arg;
        using Res = typename qv::wire::Proc<P>::Res;
        static_assert(std::is_invocable_v<F&, const Arg&, Res&>,
                      "a handler takes (const Arg&, Res&) of its procedure");
        handlers_[P] = [h = std::move(handler)](const void* arg, void* res) mutable {
            h(*static_cast<const Arg*>(arg), *static_cast<Res*>(res));
        };
    }

    // Empty when the procedure is not modelled.
    const Handler& Find(unsigned proc) const { return handlers_.at(proc); }

  private:
    std::array<Handler, qv::wire::kProcCount> handlers_;
};

// What the server needs to know about every procedure's records beyond the
// procedure table: where the argument carries the login token and names its
// object, and how to put a status word into the result.
struct RecordAccess {
    // The login token of a decoded argument; empty when the procedure is
    // not one whose token identifies the caller.
    std::optional<uint32_t> (*token)(const void* arg) = nullptr;
    // "Disk1:1", "Disk1:1 on Disk3:2", "group G", "user admin": what the
    // request names, for the request log; empty when it names nothing.
    std::string (*object)(const void* arg) = nullptr;
    // Sets and reads the result's status word; null when the result has
    // none.
    void (*set_status)(void* res, uint32_t word) = nullptr;
    uint32_t (*get_status)(const void* res) = nullptr;
};

const RecordAccess& Access(unsigned proc);

}  // namespace qvsim
