// Mirror configuration: ENABLE_MIRROR, CHANGE_MIRROR_CONFIG,
// GET_MIR_CONFIG_LIST and GET_MIRROR_CONFIG.
//
// A protection is named by its primary. Enabling checks the pair as the
// service does, in this order: both objects exist; neither disk is offline,
// removable or dynamic; the two do not overlap; the primary is not already
// part of a protection; the mirror is not on the system disk; a whole-disk
// mirror has no partitions; the mirror is not part of a protection; the
// mirror is at least as large as the primary. A new protection starts with
// a full synchronisation.
//
// The settings are stored as sent and echoed back; the only one the daemon
// acts on is Limit, a cap in MiB/s on the protection's background copying.
#include "families.h"
#include "mirror_records.h"
#include "quarvane.h"
#include "status.h"
#include "text.h"
#include "wire.h"

namespace qvsim {
namespace {

MirrorSettings ReadSettings(const RpcMirrorConfig& c) {
    MirrorSettings s;
    s.setting1 = c.Setting1;
    s.setting2 = c.Setting2;
    s.setting3 = c.Setting3;
    s.mirror_kind = c.MirrorKind;
    s.schedule_mode = c.ScheduleMode;
    s.text1 = wire::OptionalText(c.Text1);
    s.text2 = wire::OptionalText(c.Text2);
    s.text3 = wire::OptionalText(c.Text3);
    s.text4 = wire::OptionalText(c.Text4);
    if (const RpcSnapshotSchedule* r =
            wire::First(c.Schedules.Schedules_len, c.Schedules.Schedules_val)) {
        s.schedule = Schedule{r->Spare1, r->GroupParam, r->Mode,   r->Param1, r->Spare2, r->Spare3,
                              r->Spare4, r->Param2,     r->Param3, r->Param4, r->Param5, r->Param6};
    }
    s.enable_option1 = c.EnableOption1;
    s.enable_option2 = c.EnableOption2;
    s.enable_option3 = c.EnableOption3;
    s.enable_option4 = c.EnableOption4;
    s.setting4 = c.Setting4;
    s.setting5 = c.Setting5;
    s.setting6 = c.Setting6;
    s.setting7 = c.Setting7;
    s.setting8 = c.Setting8;
    s.setting9 = c.Setting9;
    s.setting10 = c.Setting10;
    s.setting11 = c.Setting11;
    s.setting12 = c.Setting12;
    s.setting13 = c.Setting13;
    s.setting14 = c.Setting14;
    s.switch1 = c.Switch1;
    s.switch2 = c.Switch2;
    s.limit = c.Limit;
    s.spare1 = c.Spare1;
    s.spare2 = c.Spare2;
    return s;
}

void WriteConfig(const Protection& p, RpcMirrorConfig& c) {
    const MirrorSettings& s = p.settings;
    c.status = status::kOk;
    wire::SetObject(*wire::Allocate(c.Primaries.Primaries_len, c.Primaries.Primaries_val, 1),
                    p.primary);
    wire::SetObject(*wire::Allocate(c.Mirrors.Mirrors_len, c.Mirrors.Mirrors_val, 1), p.mirror);
    c.Setting1 = s.setting1;
    c.Setting2 = s.setting2;
    c.Setting3 = s.setting3;
    c.MirrorKind = s.mirror_kind;
    c.ScheduleMode = s.schedule_mode;
    wire::SetOptionalText(c.Text1, s.text1);
    wire::SetOptionalText(c.Text2, s.text2);
    wire::SetOptionalText(c.Text3, s.text3);
    RpcSnapshotSchedule* r =
        wire::Allocate(c.Schedules.Schedules_len, c.Schedules.Schedules_val, 1);
    *r = RpcSnapshotSchedule{s.schedule.spare1, s.schedule.group_param, s.schedule.mode,
                             s.schedule.param1, s.schedule.spare2,      s.schedule.spare3,
                             s.schedule.spare4, s.schedule.param2,      s.schedule.param3,
                             s.schedule.param4, s.schedule.param5,      s.schedule.param6};
    c.EnableOption2 = s.enable_option2;
    c.EnableOption1 = s.enable_option1;
    c.EnableOption3 = s.enable_option3;
    c.token = 0;
    c.Setting7 = s.setting7;
    c.Setting12 = s.setting12;
    c.Setting8 = s.setting8;
    c.Switch2 = s.switch2;
    c.Setting4 = s.setting4;
    c.EnableOption4 = s.enable_option4;
    c.Switch1 = s.switch1;
    c.Setting5 = s.setting5;
    c.Setting6 = s.setting6;
    c.Limit = s.limit;
    c.Setting10 = s.setting10;
    c.Setting11 = s.setting11;
    c.Spare1 = s.spare1;
    c.Setting13 = s.setting13;
    c.Setting14 = s.setting14;
    c.Spare2 = s.spare2;
    c.Setting9 = s.setting9;
    wire::SetOptionalText(c.Text4, s.text4);
}

uint32_t Usable(const Disk& d) {
    if (d.offline) return status::kDiskOffline;
    if (d.removable || d.Dynamic()) return status::kDiskNotSupported;
    return status::kOk;
}

uint32_t Enable(Model& model, const RpcMirrorConfig& c) {
    const RpcObjectRef* primary_ref =
        wire::First(c.Primaries.Primaries_len, c.Primaries.Primaries_val);
    const RpcObjectRef* mirror_ref = wire::First(c.Mirrors.Mirrors_len, c.Mirrors.Mirrors_val);
    if (primary_ref == nullptr || mirror_ref == nullptr) return status::kInvalidParameter;

    Target primary;
    Target mirror;
    if (const uint32_t s = model.Locate(wire::Object(*primary_ref), primary); s != status::kOk)
        return s;
    if (const uint32_t s = model.Locate(wire::Object(*mirror_ref), mirror); s != status::kOk)
        return s;
    if (const uint32_t s = Usable(*primary.disk); s != status::kOk) return s;
    if (const uint32_t s = Usable(*mirror.disk); s != status::kOk) return s;

    const ObjectId primary_id = primary.Id();
    const ObjectId mirror_id = mirror.Id();
    if (Overlap(primary_id, mirror_id)) return status::kInvalidParameter;
    if (model.UserOf(primary_id) != nullptr) return status::kProtectionExists;
    if (mirror.disk->system) return status::kSystemDiskAsMirror;
    if (mirror.partition == nullptr && !mirror.disk->partitions.empty()) {
        return status::kMirrorHasPartitions;
    }
    if (model.UserOf(mirror_id) != nullptr) return status::kProtectionExists;
    if (mirror.SizeMiB() < primary.SizeMiB()) return status::kMirrorTooSmall;

    model.AddProtection(Protection(primary_id, mirror_id, primary.SizeMiB(), ReadSettings(c)));
    return status::kOk;
}

uint32_t Change(Model& model, const RpcMirrorConfig& c) {
    const RpcObjectRef* primary_ref =
        wire::First(c.Primaries.Primaries_len, c.Primaries.Primaries_val);
    if (primary_ref == nullptr) return status::kInvalidParameter;
    Protection* p = model.FindProtection(wire::Object(*primary_ref));
    if (p == nullptr) return status::kProtectionNotFound;
    // The mirror of a protection cannot be changed; naming another one is
    // a mistake, naming none is fine.
    if (const RpcObjectRef* m = wire::First(c.Mirrors.Mirrors_len, c.Mirrors.Mirrors_val)) {
        const ObjectId mirror = wire::Object(*m);
        if (!mirror.disk.empty() && !Same(mirror, p->mirror)) return status::kInvalidParameter;
    }
    MirrorSettings settings = ReadSettings(c);
    // A change carries neither the enable options nor the fourth text.
    settings.text4 = p->settings.text4;
    settings.enable_option1 = p->settings.enable_option1;
    settings.enable_option2 = p->settings.enable_option2;
    settings.enable_option3 = p->settings.enable_option3;
    settings.enable_option4 = p->settings.enable_option4;
    p->settings = std::move(settings);
    model.MarkChanged();
    return status::kOk;
}

// Kind 0 lists every protection; kind 1 those whose primary is the given
// partition, or lies on the given disk when its number is 0.
uint32_t Select(Model& model, const RpcConfigListQuery& q, std::vector<const Protection*>& out) {
    if (q.Kind == 0) {
        for (const auto& p : model.protections()) out.push_back(&p);
        return status::kOk;
    }
    if (q.Kind != 1) return status::kInvalidParameter;
    const RpcObjectRef* ref = wire::First(q.Objects.Objects_len, q.Objects.Objects_val);
    if (ref == nullptr) return status::kInvalidParameter;
    Target target;
    if (const uint32_t s = model.Locate(wire::Object(*ref), target); s != status::kOk) return s;
    const ObjectId id = target.Id();
    for (const auto& p : model.protections()) {
        const bool match = id.number == 0 ? SameName(p.primary.disk, id.disk) : Same(p.primary, id);
        if (match) out.push_back(&p);
    }
    return status::kOk;
}

}  // namespace

void WriteMirrorConfig(const Protection& p, RpcMirrorConfig& out) { WriteConfig(p, out); }

void RegisterMirrorConfig(Registry& registry, Service& service) {
    registry.On<ENABLE_MIRROR>([&service](const RpcMirrorConfig& arg, RpcStatus& res) {
        res.status = Enable(service.model(), arg);
    });

    registry.On<CHANGE_MIRROR_CONFIG>([&service](const RpcMirrorConfig& arg, RpcStatus& res) {
        res.status = Change(service.model(), arg);
    });

    registry.On<GET_MIR_CONFIG_LIST>(
        [&service](const RpcConfigListQuery& arg, RpcMirrorConfigList& res) {
            std::vector<const Protection*> selected;
            res.status = Select(service.model(), arg, selected);
            if (res.status != status::kOk) return;
            RpcMirrorConfig* configs =
                wire::Allocate(res.Configs.Configs_len, res.Configs.Configs_val, selected.size());
            res.Count = static_cast<uint32_t>(selected.size());
            for (std::size_t i = 0; i < selected.size(); ++i) WriteConfig(*selected[i], configs[i]);
        });

    registry.On<GET_MIRROR_CONFIG>([&service](const RpcObjectRef& arg, RpcMirrorConfig& res) {
        const Protection* p = service.model().FindProtection(wire::Object(arg));
        if (p == nullptr) {
            res.status = status::kProtectionNotFound;
            return;
        }
        WriteConfig(*p, res);
    });
}

}  // namespace qvsim
