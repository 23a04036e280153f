// The six state operations of a protection, named by its primary.
//
//   from \ to        disable  suspend  resume      stop     sync         cancel sync
//   mirrored         removed  susp.    0042        stopped  full sync    0067
//   synchronizing    removed  susp.    0042        stopped  0061         out-of-sync
//   suspended        removed  0042     sync dirty  stopped  0042         0067
//   stopped          removed  0043     full sync   0069     0043         0067
//   out-of-sync      removed  susp.    0042        stopped  sync dirty   0067
//   verifying,
//   restoring        0060     0060     0060        0060     0060         0067
//
// The transitions themselves are Protection's; this file maps procedures
// onto them.
#include "families.h"
#include "quarvane.h"
#include "status.h"
#include "wire.h"

namespace qvsim {
namespace {

using Transition = uint32_t (Protection::*)();

template <unsigned P>
void On(Registry& registry, Service& service, Transition transition) {
    registry.On<P>([&service, transition](const RpcObjectRef& arg, RpcStatus& res) {
        Protection* p = service.model().FindProtection(wire::Object(arg));
        if (p == nullptr) {
            res.status = status::kProtectionNotFound;
            return;
        }
        res.status = (p->*transition)();
        if (res.status == status::kOk) service.model().MarkChanged();
    });
}

}  // namespace

void RegisterMirrorState(Registry& registry, Service& service) {
    registry.On<DISABLE_MIRROR>([&service](const RpcObjectRef& arg, RpcStatus& res) {
        Model& model = service.model();
        const Protection* p = model.FindProtection(wire::Object(arg));
        if (p == nullptr) {
            res.status = status::kProtectionNotFound;
            return;
        }
        res.status = p->CanDisable();
        if (res.status == status::kOk) model.RemoveProtection(p);
    });
    On<SUSPEND_MIRROR>(registry, service, &Protection::Suspend);
    On<RESUME_MIRROR>(registry, service, &Protection::Resume);
    On<STOP_MIRROR>(registry, service, &Protection::Stop);
    On<SYNC_MIRROR>(registry, service, &Protection::StartSync);
    On<CANCEL_SYNC_MIRROR>(registry, service, &Protection::CancelSync);
}

}  // namespace qvsim
