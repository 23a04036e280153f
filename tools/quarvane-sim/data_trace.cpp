// Data trace configuration of a protected disk or partition:
// SET_DATA_TRACE_CONFIG and GET_DATA_TRACE_CONFIG.
//
// The object must exist and be the primary of a protection; its settings go
// when the protection is disabled. Until set, an object reads Option 0, no
// text and Count 5; a Count of 0 is stored as 5.
#include "families.h"
#include "quarvane.h"
#include "status.h"
#include "wire.h"

namespace qvsim {
namespace {

constexpr uint32_t kDefaultCount = 5;

uint32_t ProtectedObject(Model& model, const ObjectId& id, ObjectId& out) {
    Target target;
    if (const uint32_t s = model.Locate(id, target); s != status::kOk) return s;
    out = target.Id();
    return model.FindProtection(out) != nullptr ? status::kOk : status::kProtectionNotFound;
}

}  // namespace

void RegisterDataTrace(Registry& registry, Service& service) {
    registry.On<SET_DATA_TRACE_CONFIG>([&service](const RpcDataTraceConfig& arg, RpcStatus& res) {
        const RpcObjectRef* ref = wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val);
        if (ref == nullptr) {
            res.status = status::kInvalidParameter;
            return;
        }
        DataTraceConfig config;
        res.status = ProtectedObject(service.model(), wire::Object(*ref), config.object);
        if (res.status != status::kOk) return;
        config.option = arg.Option;
        config.text = wire::OptionalText(arg.Text);
        config.count = arg.Count != 0 ? arg.Count : kDefaultCount;
        service.model().SetTrace(std::move(config));
    });

    registry.On<GET_DATA_TRACE_CONFIG>(
        [&service](const RpcObjectRef& arg, RpcDataTraceConfig& res) {
            ObjectId object;
            res.status = ProtectedObject(service.model(), wire::Object(arg), object);
            if (res.status != status::kOk) return;
            DataTraceConfig config;
            config.object = object;
            config.count = kDefaultCount;
            if (const DataTraceConfig* stored = service.model().FindTrace(object)) config = *stored;
            wire::SetObject(*wire::Allocate(res.Objects.Objects_len, res.Objects.Objects_val, 1),
                            config.object);
            res.Option = config.option;
            wire::SetOptionalText(res.Text, config.text);
            res.Count = config.count;
        });
}

}  // namespace qvsim
