// Protection groups: create, change, members in and out, the list of groups
// with their members.
//
// A group's own fields travel in RpcGroupConfig; a listed group carries its
// members as one RpcMirrorConfigList, each member a mirror configuration
// read by the mirror family's conversion.
#include <algorithm>
#include <span>

#include "connection/shapes.h"
#include "connection/wire_list.h"
#include "mirrors/mirror_config_conversion.h"
#include "platform/alloc.h"
#include "snapshots/snapshot_schedule.h"

using namespace qv;

namespace {

// The group's own fields. The schedule carries the caller's mirror kind as
// it stands, while the record's own MirrorKind is reduced to what the
// service knows. False when the heap says no; what was taken goes back with
// the request.
bool FillRpcGroupConfig(RpcGroupConfig& wire, const QV_GROUP_CONFIG& config) noexcept {
    if (!FillWString(wire.GroupName, config.Name) || !FillOptionalWString(wire.Text, config.Text)) {
        return false;
    }
    wire.MirrorKind = ReduceMirrorKind(config.MirrorKind);
    wire.Setting8 = config.Setting8;
    wire.Setting3 = config.Setting3;
    wire.Setting2 = config.Setting2;
    wire.Setting4 = config.Setting4;
    wire.GroupSetting1 = config.GroupSetting1;
    wire.Switch2 = WireSwitch(config.Switch2);

    RpcSnapshotSchedule schedule = ToRpcSnapshotSchedule(config.Schedule);
    schedule.GroupParam = config.MirrorKind;
    return FillSchedules(wire.Schedules.Schedules_len, wire.Schedules.Schedules_val, schedule);
}

template <unsigned P>
uint32_t SendGroupConfig(const Row& row, QV_HANDLE handle, const QV_GROUP_CONFIG* config) noexcept {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (config == nullptr) return QV_STATUS_INVALID_PARAMETER;
    RemoteCall<P> call(handle);
    if (!FillRpcGroupConfig(call.arg, *config)) return NoMemory(row);
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(row);
}

template <unsigned P>
uint32_t SendGroupMember(const Row& row, QV_HANDLE handle, const char16_t* group,
                         const char16_t* name, uint32_t number) noexcept {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    RemoteCall<P> call(handle);
    if (!FillWString(call.arg.GroupName, group) ||
        !FillSingleObject(call.arg.Objects.Objects_len, call.arg.Objects.Objects_val, name,
                          number)) {
        return NoMemory(row);
    }
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(row);
}

// The one set of objects ADD_GROUP_MEMBERS carries: its count and its array
// both `members.size()`, each a reference with kind and token 0.
bool FillMemberSet(RpcGroupMembers& arg, std::span<const QV_OBJECT_ID* const> members) noexcept {
    auto* set = static_cast<RpcObjectSet*>(AllocZeroed(1, sizeof(RpcObjectSet)));
    if (set == nullptr) return false;
    arg.MemberSets.MemberSets_val = set;
    arg.MemberSets.MemberSets_len = 1;
    if (members.empty()) return true;
    auto* objects = static_cast<RpcObjectRef*>(AllocZeroed(members.size(), sizeof(RpcObjectRef)));
    if (objects == nullptr) return false;
    set->Objects.Objects_val = objects;
    set->Objects.Objects_len = static_cast<u_int>(members.size());
    set->Count = static_cast<u_int>(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (!FillObjectRef(objects[i], *members[i])) return false;
    }
    return true;
}

// ---- the list ----------------------------------------------------------------

// Kinds the group list does not serve.
constexpr bool IsRefusedGroupListKind(uint32_t kind) noexcept { return kind == 1 || kind == 4; }

// The members a listed group carries: the walked configurations of its first
// member list, none when it has no list. Nothing when a count asks for more
// than arrived or a member cannot be read.
std::optional<std::span<const RpcMirrorConfig>> MembersOf(const RpcGroupConfig& group) noexcept {
    const auto lists = Received(group.Members);
    if (lists.empty()) return std::span<const RpcMirrorConfig>{};
    const auto walked = Walk(Received(lists.front().Configs), lists.front().Count);
    if (!walked || !std::ranges::all_of(*walked, IsCompleteMirrorConfig)) return std::nullopt;
    return walked;
}

void ReleaseGroupEntry(QV_GROUP_CONFIG& entry) noexcept {
    for (QV_MIRROR_CONFIG& member : std::span(entry.Members, entry.Members ? entry.MemberCount : 0)) {
        ReleaseMirrorConfigStrings(member);
    }
    Free(entry.Members);
    entry.Members = nullptr;
    Free(const_cast<QV_WCHAR*>(entry.Text));
    Free(const_cast<QV_WCHAR*>(entry.Name));
}

// The members hold the group-wide settings, whatever their own records say.
void ApplyGroupSettings(QV_GROUP_CONFIG& entry) noexcept {
    for (QV_MIRROR_CONFIG& member : std::span(entry.Members, entry.Members ? entry.MemberCount : 0)) {
        member.Setting2 = entry.Setting2;
        member.Setting3 = entry.Setting3;
        member.Setting4 = entry.Setting4;
        member.Setting7 = entry.Setting7;
        member.Setting8 = entry.Setting8;
        member.Switch2 = entry.Switch2;
    }
}

uint32_t ConvertGroup(const RpcGroupConfig& wire, QV_GROUP_CONFIG& out) noexcept {
    char16_t* text = nullptr;
    out.Name = CopyWString(wire.GroupName);
    if (out.Name == nullptr || !CopyOptionalWString(wire.Text, text)) return QV_STATUS_NO_MEMORY;
    out.Text = text;
    out.MirrorKind = wire.MirrorKind;
    out.Setting2 = wire.Setting2;
    out.Setting3 = wire.Setting3;
    out.Switch2 = wire.Switch2;
    out.GroupSetting1 = wire.GroupSetting1;
    out.Setting4 = wire.Setting4;
    out.Setting7 = wire.Setting7;
    out.Setting8 = wire.Setting8;
    // The service always sends one schedule; a group without one keeps a
    // zero schedule rather than reading past its array.
    const auto schedules = Received(wire.Schedules);
    if (!schedules.empty()) {
        out.Schedule = FromRpcSnapshotSchedule(schedules.front(), ScheduleModeReadBack::kAsSent);
    }
    return ConvertEntries<ReleaseMirrorConfigStrings>(*MembersOf(wire), ConvertMirrorConfig,
                                                      out.Members, out.MemberCount);
}

// The groups are converted in order straight into the caller's list. When
// the heap says no part-way the call reports it, and the groups converted so
// far stay in the list (the one being converted as far as it got) for
// qvFreeGroupConfigList to give back; the group settings are handed to the
// members only once every group is in.
uint32_t FillGroupList(const RpcGroupConfigList& reply, QV_GROUP_CONFIG_LIST& list) noexcept {
    if (reply.Count == 0) return 0;  // whatever the array holds
    // Every count is checked against what arrived before anything is
    // allocated.
    const auto walked = Walk(Received(reply.Groups), reply.Count);
    if (!walked || !std::ranges::all_of(*walked, [](const RpcGroupConfig& g) {
            return MembersOf(g).has_value();
        })) {
        return QV_STATUS_RPC_FAILED;
    }
    auto* entries =
        static_cast<QV_GROUP_CONFIG*>(AllocZeroed(walked->size(), sizeof(QV_GROUP_CONFIG)));
    if (entries == nullptr) return QV_STATUS_NO_MEMORY;
    list.Entries = entries;
    list.Count = static_cast<uint32_t>(walked->size());
    for (const RpcGroupConfig& group : *walked) {
        const uint32_t status = ConvertGroup(group, *entries++);
        if (status != 0) return status;
    }
    for (QV_GROUP_CONFIG& entry : std::span(list.Entries, list.Count)) ApplyGroupSettings(entry);
    return 0;
}

}  // namespace

extern "C" QV_STATUS qvCreateGroup(QV_HANDLE handle, const QV_GROUP_CONFIG* config) {
    return SendGroupConfig<CREATE_GROUP>(rows::qvCreateGroup, handle, config);
}

extern "C" QV_STATUS qvChangeGroupConfig(QV_HANDLE handle, const QV_GROUP_CONFIG* config) {
    return SendGroupConfig<CHANGE_GROUP_CONFIG>(rows::qvChangeGroupConfig, handle, config);
}

extern "C" QV_STATUS qvAddGroupMember(QV_HANDLE handle, const QV_WCHAR* group, const QV_WCHAR* name,
                                      uint32_t number) {
    return SendGroupMember<ADD_GROUP_MEMBER>(rows::qvAddGroupMember, handle, group, name, number);
}

extern "C" QV_STATUS qvRemoveGroupMember(QV_HANDLE handle, const QV_WCHAR* group,
                                         const QV_WCHAR* name, uint32_t number) {
    return SendGroupMember<REMOVE_GROUP_MEMBER>(rows::qvRemoveGroupMember, handle, group, name,
                                                number);
}

extern "C" QV_STATUS qvAddGroupMembers(QV_HANDLE handle, const QV_WCHAR* group, uint32_t count,
                                       const QV_OBJECT_ID* const* members) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (count != 0 && members == nullptr) return QV_STATUS_INVALID_PARAMETER;
    const std::span<const QV_OBJECT_ID* const> each(members, count);
    if (std::ranges::find(each, nullptr) != each.end()) return QV_STATUS_INVALID_PARAMETER;

    RemoteCall<ADD_GROUP_MEMBERS> call(handle);
    if (!FillMemberSet(call.arg, each) || !FillWString(call.arg.GroupName, group)) {
        return NoMemory(rows::qvAddGroupMembers);
    }
    call.arg.token = GetLoginToken(handle);
    call.Invoke();
    return call.Finish(rows::qvAddGroupMembers);
}

extern "C" QV_STATUS qvGetGroupConfigList(QV_HANDLE handle, const QV_CONFIG_FILTER* filter,
                                          QV_GROUP_CONFIG_LIST* list) {
    if (!IsValidHandle(handle)) return QV_STATUS_NO_HANDLE;
    if (list == nullptr) return QV_STATUS_INVALID_PARAMETER;
    Clear(*list);
    if (filter == nullptr || IsRefusedGroupListKind(filter->Kind)) {
        return QV_STATUS_INVALID_PARAMETER;
    }

    RemoteCall<GET_GROUP_CONFIG_LIST> call(handle);
    call.arg.Kind = filter->Kind;
    call.arg.token = GetLoginToken(handle);
    if ((filter->Kind == 2 && !FillSingleObject(call.arg.Objects.Objects_len,
                                                call.arg.Objects.Objects_val, filter->Object)) ||
        !FillOptionalWString(call.arg.Name, filter->GroupName)) {
        return NoMemory(rows::qvGetGroupConfigList);
    }
    call.Invoke();
    const uint32_t status = call.Finish(rows::qvGetGroupConfigList);
    if (status != 0) return status;
    return FillGroupList(call.res, *list);
}

extern "C" QV_STATUS qvFreeGroupConfigList(QV_GROUP_CONFIG_LIST** list, uint32_t keepHeader) {
    // A kept header is left empty, not pointing at what was released.
    if (list != nullptr && *list != nullptr) {
        ReleaseEntries<&QV_GROUP_CONFIG_LIST::Count, &QV_GROUP_CONFIG_LIST::Entries>(
            **list, ReleaseGroupEntry);
        Clear(**list);
    }
    return ReleaseList<&QV_GROUP_CONFIG_LIST::Count, &QV_GROUP_CONFIG_LIST::Entries>(
        list, keepHeader, ReleaseGroupEntry);
}
