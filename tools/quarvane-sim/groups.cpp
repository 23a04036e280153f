// Protection groups: CREATE_GROUP, CHANGE_GROUP_CONFIG, DELETE_GROUP,
// ADD_GROUP_MEMBER, ADD_GROUP_MEMBERS, REMOVE_GROUP_MEMBER,
// GET_GROUP_CONFIG_LIST, the operations on every member (SUSPEND_GROUP,
// RESUME_GROUP, STOP_GROUP, SYNC_GROUP, CANCEL_SYNC_GROUP), the group's
// snapshot and rollback (TAKE_GROUP_SNAPSHOT, CANCEL_GROUP_SNAPSHOT,
// GET_GROUP_SNAPSHOT_PROGRESS, ROLLBACK_GROUP, CANCEL_GROUP_ROLLBACK,
// GET_GROUP_ROLLBACK_PROGRESS) and GET_GROUP_STAT.
//
// A member is a protection of the model, named by its primary, and belongs
// to one group at most; a member whose protection is disabled leaves its
// group. The group's Setting2, Setting3, Setting4, Setting7, Setting8 and
// Switch2 are written over its members' when it is changed and when a
// member joins. An operation on the group runs on every member; one that a
// member refuses is answered with the first refusal, the other members
// having made the change. A group snapshot is a snapshot of every member,
// numbered as the first member's; rolling the group back to it rolls every
// member back to its own. Groups live in memory only, like snapshots.
//
// GET_GROUP_STAT answers the group's state (12 while a snapshot runs on a
// member, 11 while a rollback does, else the first member's state that is
// not mirrored, else 1), the running operation's progress summed over the
// members, and
//   Value1  members
//   Value2  members mirrored
//   Value3  MiB not yet on the mirrors
//   Value4  synchronisations completed by the members
#include <algorithm>
#include <list>
#include <memory>

#include "groups.h"
#include "mirror_records.h"
#include "progress.h"
#include "quarvane.h"
#include "status.h"
#include "wire.h"

namespace qvsim {
namespace {

constexpr uint32_t kGroupRollingBack = 11;
constexpr uint32_t kGroupSnapshotting = 12;

struct GroupSnapshot {
    uint32_t id = 0;
    std::vector<std::pair<ObjectId, uint32_t>> taken;  // each member's own snapshot
};

struct Group {
    std::u16string name;
    std::optional<std::u16string> text;
    int32_t setting2 = 0;
    int32_t setting3 = 0;
    uint32_t mirror_kind = 0;
    uint32_t setting4 = 0;
    uint32_t setting7 = 0;
    uint32_t setting8 = 0;
    uint32_t switch2 = 0;
    uint32_t group_setting1 = 0;
    Schedule schedule;
    std::vector<ObjectId> members;
    std::vector<GroupSnapshot> snapshots;
};

struct Groups {
    std::list<Group> all;

    Group* Find(const RpcWString& name) {
        const std::u16string wanted = wire::Text(name);
        for (Group& g : all) {
            if (g.name == wanted) return &g;
        }
        return nullptr;
    }
    const Group* GroupOf(const ObjectId& member) const {
        for (const Group& g : all) {
            if (std::any_of(g.members.begin(), g.members.end(),
                            [&](const ObjectId& m) { return Same(m, member); })) {
                return &g;
            }
        }
        return nullptr;
    }
};

// The group's members that are still protections; the others leave it.
std::vector<Protection*> Members(Model& model, Group& g) {
    std::vector<Protection*> out;
    std::erase_if(g.members, [&](const ObjectId& m) {
        Protection* p = model.FindProtection(m);
        if (p != nullptr) out.push_back(p);
        return p == nullptr;
    });
    return out;
}

void ApplySettings(const Group& g, Protection& p) {
    p.settings.setting2 = g.setting2;
    p.settings.setting3 = g.setting3;
    p.settings.setting4 = g.setting4;
    p.settings.setting7 = g.setting7;
    p.settings.setting8 = g.setting8;
    p.settings.switch2 = g.switch2;
}

void ReadGroup(const RpcGroupConfig& c, Group& g) {
    g.text = wire::OptionalText(c.Text);
    g.setting2 = c.Setting2;
    g.setting3 = c.Setting3;
    g.mirror_kind = c.MirrorKind;
    g.setting4 = c.Setting4;
    g.setting7 = c.Setting7;
    g.setting8 = c.Setting8;
    g.switch2 = c.Switch2;
    g.group_setting1 = c.GroupSetting1;
    if (const RpcSnapshotSchedule* r =
            wire::First(c.Schedules.Schedules_len, c.Schedules.Schedules_val)) {
        g.schedule = Schedule{r->Spare1, r->GroupParam, r->Mode,   r->Param1, r->Spare2, r->Spare3,
                              r->Spare4, r->Param2,     r->Param3, r->Param4, r->Param5, r->Param6};
    }
}

void WriteGroup(Model& model, Group& g, RpcGroupConfig& out) {
    wire::SetText(out.GroupName, g.name);
    wire::SetOptionalText(out.Text, g.text);
    out.Setting2 = g.setting2;
    out.Setting3 = g.setting3;
    out.MirrorKind = g.mirror_kind;
    out.Setting4 = g.setting4;
    out.Setting7 = g.setting7;
    out.Setting8 = g.setting8;
    out.Switch2 = g.switch2;
    out.GroupSetting1 = g.group_setting1;
    const Schedule& s = g.schedule;
    *wire::Allocate(out.Schedules.Schedules_len, out.Schedules.Schedules_val, 1) =
        RpcSnapshotSchedule{s.spare1, s.group_param, s.mode,   s.param1, s.spare2, s.spare3,
                            s.spare4, s.param2,      s.param3, s.param4, s.param5, s.param6};
    const std::vector<Protection*> members = Members(model, g);
    RpcMirrorConfigList* list = wire::Allocate(out.Members.Members_len, out.Members.Members_val, 1);
    list->Count = static_cast<uint32_t>(members.size());
    RpcMirrorConfig* configs =
        wire::Allocate(list->Configs.Configs_len, list->Configs.Configs_val, members.size());
    for (std::size_t i = 0; i < members.size(); ++i) WriteMirrorConfig(*members[i], configs[i]);
}

// Adds members all or none: each a protection of no group yet.
uint32_t Join(Model& model, Groups& groups, Group& g, const std::vector<ObjectId>& wanted) {
    std::vector<Protection*> joining;
    for (const ObjectId& id : wanted) {
        Protection* p = model.FindProtection(id);
        if (p == nullptr) return status::kProtectionNotFound;
        if (groups.GroupOf(p->primary) != nullptr ||
            std::find(joining.begin(), joining.end(), p) != joining.end()) {
            return status::kResourceInUse;
        }
        joining.push_back(p);
    }
    for (Protection* p : joining) {
        g.members.push_back(p->primary);
        ApplySettings(g, *p);
    }
    model.MarkChanged();
    return status::kOk;
}

// What a group's operation answers: the first member's refusal, or 0.
struct FirstRefusal {
    uint32_t word = status::kOk;
    void operator()(uint32_t w) {
        if (word == status::kOk) word = w;
    }
};

// The book's operation of one kind on each member that has one.
using OperationOf = TimedOperation* (SnapshotBook::*)(const ObjectId& owner);

std::vector<TimedOperation*> Operations(SnapshotBook& book, const std::vector<Protection*>& members,
                                        OperationOf of) {
    std::vector<TimedOperation*> out;
    for (const Protection* p : members) {
        if (TimedOperation* t = (book.*of)(p->primary)) out.push_back(t);
    }
    return out;
}

bool AnyRunning(const std::vector<TimedOperation*>& ops) {
    return std::any_of(ops.begin(), ops.end(), [](const TimedOperation* t) { return t->op.Running(); });
}

// The members' progress as one: running while any runs, else failed,
// cancelled or completed; the amounts summed, the first result that is not 0.
void SumProgress(const std::vector<TimedOperation*>& ops, RpcProgress& out) {
    bool failed = false;
    bool cancelled = false;
    for (const TimedOperation* t : ops) {
        RpcProgress one{};
        FillProgress(t->op, one);
        out.DirtyData += one.DirtyData;
        out.TotalDone += one.TotalDone;
        if (out.Result == status::kOk) out.Result = one.Result;
        failed = failed || t->op.state == OpState::kFailed;
        cancelled = cancelled || t->op.state == OpState::kCancelled;
    }
    const OpState state = AnyRunning(ops) ? OpState::kRunning
                          : failed        ? OpState::kFailed
                          : cancelled     ? OpState::kCancelled
                                          : OpState::kCompleted;
    out.State = static_cast<uint32_t>(state);
}

struct GroupContext {
    BookContext c;
    std::shared_ptr<Groups> groups;

    Model& model() const { return c.service.model(); }

    // The group a request names, or null with the refusal.
    Group* Find(const RpcWString& name, uint32_t& word) const {
        Group* g = groups->Find(name);
        word = g != nullptr ? status::kOk : status::kInvalidParameter;
        return g;
    }

    template <unsigned P, typename F>
    void On(Registry& registry, F handler) const {
        c.On<P>(registry, std::move(handler));
    }
};

void RegisterConfiguration(Registry& registry, const GroupContext& g) {
    g.On<CREATE_GROUP>(registry, [g](const RpcGroupConfig& arg, RpcStatus& res) {
        const std::u16string name = wire::Text(arg.GroupName);
        if (name.empty()) {
            res.status = status::kInvalidParameter;
        } else if (g.groups->Find(arg.GroupName) != nullptr) {
            res.status = status::kProtectionExists;
        } else {
            Group& created = g.groups->all.emplace_back();
            created.name = name;
            ReadGroup(arg, created);
        }
    });
    g.On<CHANGE_GROUP_CONFIG>(registry, [g](const RpcGroupConfig& arg, RpcStatus& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        ReadGroup(arg, *group);
        for (Protection* p : Members(g.model(), *group)) ApplySettings(*group, *p);
        g.model().MarkChanged();
    });
    g.On<DELETE_GROUP>(registry, [g](const RpcGroupName& arg, RpcStatus& res) {
        const Group* group = g.Find(arg.GroupName, res.status);
        if (group != nullptr) g.groups->all.remove_if([&](const Group& x) { return &x == group; });
    });
    g.On<ADD_GROUP_MEMBER>(registry, [g](const RpcGroupMember& arg, RpcStatus& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        const RpcObjectRef* ref = wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val);
        res.status = ref == nullptr ? status::kInvalidParameter
                                    : Join(g.model(), *g.groups, *group, {wire::Object(*ref)});
    });
    g.On<ADD_GROUP_MEMBERS>(registry, [g](const RpcGroupMembers& arg, RpcStatus& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        std::vector<ObjectId> wanted;
        if (const RpcObjectSet* set =
                wire::First(arg.MemberSets.MemberSets_len, arg.MemberSets.MemberSets_val)) {
            for (u_int i = 0; i < set->Objects.Objects_len; ++i) {
                wanted.push_back(wire::Object(set->Objects.Objects_val[i]));
            }
        }
        res.status = Join(g.model(), *g.groups, *group, wanted);
    });
    g.On<REMOVE_GROUP_MEMBER>(registry, [g](const RpcGroupMember& arg, RpcStatus& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        const RpcObjectRef* ref = wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val);
        const ObjectId member = ref != nullptr ? wire::Object(*ref) : ObjectId{};
        const auto removed = std::erase_if(
            group->members, [&](const ObjectId& m) { return Same(m, member); });
        res.status = removed != 0 ? status::kOk : status::kProtectionNotFound;
    });
    // A name selects that group; kind 2 the group of the object; else all.
    g.On<GET_GROUP_CONFIG_LIST>(registry, [g](const RpcConfigListQuery& arg,
                                              RpcGroupConfigList& res) {
        std::vector<Group*> chosen;
        const RpcObjectRef* ref = wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val);
        for (Group& group : g.groups->all) {
            Members(g.model(), group);
            const bool named = wire::Text(arg.Name).empty() || wire::Text(arg.Name) == group.name;
            const bool holds =
                arg.Kind != 2 || (ref != nullptr && std::any_of(group.members.begin(),
                                                                group.members.end(),
                                                                [&](const ObjectId& m) {
                                                                    return Same(m, wire::Object(*ref));
                                                                }));
            if (named && holds) chosen.push_back(&group);
        }
        if (!wire::Text(arg.Name).empty() && chosen.empty()) {
            res.status = status::kInvalidParameter;
            return;
        }
        RpcGroupConfig* records =
            wire::Allocate(res.Groups.Groups_len, res.Groups.Groups_val, chosen.size());
        res.Count = static_cast<uint32_t>(chosen.size());
        for (std::size_t i = 0; i < chosen.size(); ++i) WriteGroup(g.model(), *chosen[i], records[i]);
    });
}

using Transition = uint32_t (Protection::*)();

template <unsigned P>
void OnEveryMember(Registry& registry, const GroupContext& g, Transition transition) {
    g.On<P>(registry, [g, transition](const RpcGroupName& arg, RpcStatus& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        FirstRefusal refusal;
        for (Protection* p : Members(g.model(), *group)) refusal((p->*transition)());
        res.status = refusal.word;
        g.model().MarkChanged();
    });
}

// The progress and the cancel of the group's snapshots or rollbacks.
template <unsigned Progress, unsigned Cancel>
void RegisterFollowing(Registry& registry, const GroupContext& g, OperationOf of) {
    g.On<Progress>(registry, [g, of](const RpcGroupName& arg, RpcProgress& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        const auto ops = Operations(*g.c.book, Members(g.model(), *group), of);
        if (ops.empty()) {
            res.status = status::kNoTaskRunning;
            return;
        }
        SumProgress(ops, res);
    });
    g.On<Cancel>(registry, [g, of](const RpcGroupName& arg, RpcStatus& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        const auto ops = Operations(*g.c.book, Members(g.model(), *group), of);
        if (!AnyRunning(ops)) {
            res.status = status::kNoTaskRunning;
            return;
        }
        for (TimedOperation* t : ops) {
            if (!t->op.Running()) continue;
            t->op.state = OpState::kCancelled;
            t->op.result = status::kCancelled;
        }
    });
}

void RegisterOperations(Registry& registry, const GroupContext& g) {
    OnEveryMember<SUSPEND_GROUP>(registry, g, &Protection::Suspend);
    OnEveryMember<RESUME_GROUP>(registry, g, &Protection::Resume);
    OnEveryMember<STOP_GROUP>(registry, g, &Protection::Stop);
    OnEveryMember<SYNC_GROUP>(registry, g, &Protection::StartSync);
    OnEveryMember<CANCEL_SYNC_GROUP>(registry, g, &Protection::CancelSync);

    g.On<TAKE_GROUP_SNAPSHOT>(registry, [g](const RpcTakeSnapshot& arg, RpcStatus& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        const std::vector<Protection*> members = Members(g.model(), *group);
        if (members.empty()) {
            res.status = status::kProtectionNotFound;
            return;
        }
        GroupSnapshot taken;
        FirstRefusal refusal;
        for (const Protection* p : members) {
            const uint32_t word =
                g.c.book->StartSnapshot(*p, g.model().rates(), Clock::now());
            refusal(word);
            if (word == status::kOk) {
                taken.taken.emplace_back(p->primary, g.c.book->Taking(p->primary)->snapshot_id);
            }
        }
        if (!taken.taken.empty()) {
            taken.id = taken.taken.front().second;
            group->snapshots.push_back(std::move(taken));
        }
        res.status = refusal.word;
    });
    g.On<ROLLBACK_GROUP>(registry, [g](const RpcGroupSnapshot& arg, RpcStatus& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        const auto it = std::find_if(group->snapshots.begin(), group->snapshots.end(),
                                     [&](const GroupSnapshot& s) { return s.id == arg.SnapshotId; });
        if (it == group->snapshots.end()) {
            res.status = status::kSnapshotNotFound;
            return;
        }
        FirstRefusal refusal;
        for (const auto& [member, id] : it->taken) {
            if (const Protection* p = g.model().FindProtection(member)) {
                refusal(g.c.book->StartRollback(*p, id, g.model().rates(), Clock::now()));
            }
        }
        res.status = refusal.word;
    });
    RegisterFollowing<GET_GROUP_SNAPSHOT_PROGRESS, CANCEL_GROUP_SNAPSHOT>(registry, g,
                                                                         &SnapshotBook::Taking);
    RegisterFollowing<GET_GROUP_ROLLBACK_PROGRESS, CANCEL_GROUP_ROLLBACK>(
        registry, g, &SnapshotBook::RollingBack);
}

// One member's statistics; while the group snapshots or rolls back, the
// member's record carries that operation's progress.
void FillMember(const GroupContext& g, const Protection& p, uint32_t group_state,
                RpcGroupMemberStat& out) {
    wire::SetObject(*wire::Allocate(out.Objects.Objects_len, out.Objects.Objects_val, 1), p.primary);
    RpcMirrorStats& stats = *wire::Allocate(out.Stats.Stats_len, out.Stats.Stats_val, 1);
    FillMirrorStats(g.model(), p, stats);
    const auto progress = [&](auto& array, const TimedOperation* t) {
        stats.State = group_state;
        auto& [len, val] = array;
        if (t != nullptr) FillProgress(t->op, *wire::Allocate(len, val, 1));
    };
    if (group_state == kGroupSnapshotting) {
        progress(stats.SnapshotProgress, g.c.book->Taking(p.primary));
    } else if (group_state == kGroupRollingBack) {
        progress(stats.RollbackProgress, g.c.book->RollingBack(p.primary));
    }
}

void RegisterStatistics(Registry& registry, const GroupContext& g) {
    g.On<GET_GROUP_STAT>(registry, [g](const RpcGroupStatQuery& arg, RpcGroupStat& res) {
        Group* group = g.Find(arg.GroupName, res.status);
        if (group == nullptr) return;
        std::vector<Protection*> members = Members(g.model(), *group);
        if (arg.Kind == 2) {
            const RpcObjectRef* ref = wire::First(arg.Objects.Objects_len, arg.Objects.Objects_val);
            const ObjectId wanted = ref != nullptr ? wire::Object(*ref) : ObjectId{};
            std::erase_if(members, [&](const Protection* p) { return !Same(p->primary, wanted); });
            if (members.empty()) {
                res.status = status::kProtectionNotFound;
                return;
            }
        }
        const auto taking = Operations(*g.c.book, members, &SnapshotBook::Taking);
        const auto rolling = Operations(*g.c.book, members, &SnapshotBook::RollingBack);
        RpcProgress summed{};
        res.State = static_cast<uint32_t>(MirrorState::kMirrored);
        if (AnyRunning(taking)) {
            res.State = kGroupSnapshotting;
            SumProgress(taking, summed);
        } else if (AnyRunning(rolling)) {
            res.State = kGroupRollingBack;
            SumProgress(rolling, summed);
        } else {
            for (const Protection* p : members) {
                if (p->state != MirrorState::kMirrored) {
                    res.State = static_cast<uint32_t>(p->state);
                    break;
                }
            }
        }
        res.ProgressState = summed.State;
        res.DirtyData = summed.DirtyData;
        res.TotalDone = summed.TotalDone;
        res.Value1 = static_cast<uint32_t>(members.size());
        RpcGroupMemberStat* out =
            wire::Allocate(res.Members.Members_len, res.Members.Members_val, members.size());
        res.Count = static_cast<uint32_t>(members.size());
        for (std::size_t i = 0; i < members.size(); ++i) {
            FillMember(g, *members[i], res.State, out[i]);
            const RpcMirrorStats& stats = out[i].Stats.Stats_val[0];
            res.Value2 += members[i]->state == MirrorState::kMirrored ? 1 : 0;
            res.Value3 += stats.Value3;
            res.Value4 += stats.Value4;
        }
    });
}

}  // namespace

void RegisterGroupProcedures(Registry& registry, const BookContext& c) {
    const GroupContext g{c, std::make_shared<Groups>()};
    RegisterConfiguration(registry, g);
    RegisterOperations(registry, g);
    RegisterStatistics(registry, g);
}

}  // namespace qvsim
