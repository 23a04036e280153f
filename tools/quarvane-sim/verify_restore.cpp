// Verify and restore of a protection: start, progress, cancel.
//
// Verify compares primary and mirror; it runs only on a mirrored
// protection and leaves it mirrored. Restore copies the mirror back over the
// primary; it runs on a mirrored, suspended or stopped protection and ends
// mirrored, or suspended when cancelled. Both go at the protection's copy
// rate. Their progress stays readable after they end, until the next one
// starts; before the first, the progress readers answer 0x6FFC0067.
#include "families.h"
#include "progress.h"
#include "quarvane.h"
#include "status.h"
#include "wire.h"

namespace qvsim {
namespace {

// The protection named by a reference, or null with the refusal in `word`.
Protection* Find(Service& service, const RpcObjectRef* ref, uint32_t& word) {
    if (ref == nullptr) {
        word = status::kInvalidParameter;
        return nullptr;
    }
    Protection* p = service.model().FindProtection(wire::Object(*ref));
    word = p != nullptr ? status::kOk : status::kProtectionNotFound;
    return p;
}

uint32_t Changed(Service& service, uint32_t word) {
    if (word == status::kOk) service.model().MarkChanged();
    return word;
}

}  // namespace

void RegisterVerifyRestore(Registry& registry, Service& service) {
    registry.On<VERIFY_DATA>([&service](const RpcVerifyRequest& arg, RpcStatus& res) {
        Protection* p = Find(service, wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val),
                             res.status);
        if (p == nullptr) return;
        const uint32_t options = (arg.Option1 != 0 ? 1u : 0u) | (arg.Option2 != 0 ? 2u : 0u);
        res.status = Changed(service, p->StartVerify(arg.Mode, options));
    });

    registry.On<GET_VERIFY_PROGRESS>([&service](const RpcObjectRef& arg, RpcVerifyProgress& res) {
        const Protection* p = Find(service, &arg, res.status);
        if (p == nullptr) return;
        if (p->verify.state == OpState::kNone) {
            res.status = status::kNoTaskRunning;
            return;
        }
        FillVerifyProgress(*p, service.model().rates(), res);
    });

    registry.On<CANCEL_VERIDY_DATA>([&service](const RpcObjectRef& arg, RpcStatus& res) {
        Protection* p = Find(service, &arg, res.status);
        if (p != nullptr) res.status = Changed(service, p->CancelVerify());
    });

    registry.On<RESTORE_PRIMARY>([&service](const RpcRestoreRequest& arg, RpcStatus& res) {
        Protection* p =
            Find(service, wire::First(arg.Primaries.Primaries_len, arg.Primaries.Primaries_val),
                 res.status);
        if (p == nullptr) return;
        // The counterpart names where the data comes from: the protection's
        // own mirror, or nothing.
        if (const RpcObjectRef* c =
                wire::First(arg.Counterparts.Counterparts_len, arg.Counterparts.Counterparts_val)) {
            const ObjectId from = wire::Object(*c);
            if (!from.disk.empty() && !Same(from, p->mirror)) {
                res.status = status::kInvalidParameter;
                return;
            }
        }
        res.status =
            Changed(service, p->StartRestore(static_cast<uint32_t>(arg.Mode), arg.Option1));
    });

    registry.On<GET_RESTORE_PRIMARY_PROGRESS>(
        [&service](const RpcObjectRef& arg, RpcProgress& res) {
            const Protection* p = Find(service, &arg, res.status);
            if (p == nullptr) return;
            if (p->restore.state == OpState::kNone) {
                res.status = status::kNoTaskRunning;
                return;
            }
            FillProgress(p->restore, res);
        });

    registry.On<CANCEL_RESTORE_PRIMARY>([&service](const RpcObjectRef& arg, RpcStatus& res) {
        Protection* p = Find(service, &arg, res.status);
        if (p != nullptr) res.status = Changed(service, p->CancelRestore());
    });
}

}  // namespace qvsim
