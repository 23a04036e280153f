// Every procedure the library calls is answered by quarvane-sim, or marked
// NotModelled in the table of exported functions (and then really not
// modelled): checked against the daemon's own registry of handlers.
#include <cstdio>

#include "connection/exports.h"
#include "families.h"
#include "registry.h"
#include "service.h"

namespace {

struct Called {
    const char* function;
    unsigned procedure;
    qv::Sim sim;
};

constexpr Called kCalled[] = {
#define QV_REMOTE(name, family, shape, procedure, sim, token, logs, answer, output, release, no_memory, line) \
    {#name, procedure, qv::Sim::k##sim},
#define QV_SESSION(name, family, procedure, sim) {#name, procedure, qv::Sim::k##sim},
#include "exports.def"
};

}  // namespace

int main() {
    qvsim::Service service(qvsim::Options{},
                           qvsim::Model(qvsim::Inventory{}, qvsim::Rates{}, qvsim::Clock::now()));
    qvsim::Registry registry;
    qvsim::RegisterAll(registry, service);
    int wrong = 0;
    for (const Called& c : kCalled) {
        const bool modelled = static_cast<bool>(registry.Find(c.procedure));
        if (modelled != (c.sim == qv::Sim::kModelled)) {
            std::printf("%s calls %s, which quarvane-sim %s, but its row says %s\n", c.function,
                        qv::wire::ProcTable(c.procedure).name,
                        modelled ? "models" : "does not model",
                        modelled ? "NotModelled" : "Modelled");
            ++wrong;
        }
    }
    std::printf("%zu calls checked against quarvane-sim's handlers\n", std::size(kCalled));
    return wrong == 0 ? 0 : 1;
}
