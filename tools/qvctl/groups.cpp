// qvctl group create | change | delete | list | add | remove | suspend |
// resume | stop | sync | cancel-sync | snapshot | rollback | stat: protection
// groups, named sets of protections the service handles together.
//
// A group's snapshot and rollback run in the service on every member; with
// --wait qvctl follows them through the group's progress readers. Deleting
// a group and rolling one back ask first (--yes for scripts).
#include <iostream>
#include <memory>

#include "protection.h"

namespace qvctl {
namespace {

using GroupList = Held<QV_GROUP_CONFIG_LIST, qvFreeGroupConfigList>;
using GroupStat = Held<QV_GROUP_STAT, qvFreeGroupStat>;

constexpr uint64_t kMiB = 1024 * 1024;

// A group named on the command line, as the long operations name objects
// ("Snapshot of group G1 completed.").
Object GroupObject(const std::string& name) { return {"group " + name, ToUtf16(name), 0}; }

std::span<const QV_GROUP_CONFIG> Entries(const QV_GROUP_CONFIG_LIST& list) {
    return {list.Entries, list.Entries == nullptr ? 0 : list.Count};
}

// The groups the service holds, or only the one named.
void ReadGroups(QV_HANDLE handle, const std::u16string* name, GroupList& out) {
    const QV_CONFIG_FILTER filter{0, name != nullptr ? name->c_str() : nullptr, {}};
    Check(qvGetGroupConfigList(handle, &filter, &out.value),
          name != nullptr ? "read group " + ToUtf8(*name) : "list groups");
}

std::string MemberList(const QV_GROUP_CONFIG& g) {
    std::string out;
    for (const QV_MIRROR_CONFIG& m : std::span(g.Members, g.Members ? g.MemberCount : 0)) {
        out += (out.empty() ? "" : ",") + ObjectText(m.Primary.name, m.Primary.number);
    }
    return out;
}

const Fields<QV_GROUP_CONFIG>& GroupFields() {
    using G = QV_GROUP_CONFIG;
    static const Fields<G> fields = {
        {"group", "GROUP", Unit::kText, [](const G& g) { return Text(g.Name); }},
        {"members", "MEMBERS", Unit::kText, [](const G& g) -> Value { return MemberList(g); }},
        {"text", "TEXT", Unit::kText, [](const G& g) { return Text(g.Text); }},
        {"mirror_kind", "MIRROR KIND", Unit::kCount,
         [](const G& g) -> Value { return uint64_t{g.MirrorKind}; }},
        {"schedule_mode", "SCHEDULE", Unit::kCount,
         [](const G& g) -> Value { return uint64_t{g.Schedule.Mode}; }, kDetail},
        {"switch2", "SWITCH2", Unit::kFlag, [](const G& g) -> Value { return g.Switch2 != 0; },
         kDetail},
        {"setting7", "SETTING7", Unit::kCount,
         [](const G& g) -> Value { return uint64_t{g.Setting7}; }, kDetail},
        {"setting8", "SETTING8", Unit::kCount,
         [](const G& g) -> Value { return uint64_t{g.Setting8}; }, kDetail},
    };
    return fields;
}

// A group's statistics with its name, for the table.
struct GroupStatRecord {
    std::string group;
    const QV_GROUP_STAT* stat;
};

const char* ProgressKindName(uint32_t kind) {
    switch (kind) {
        case QV_PROGRESS_KIND_VERIFY:
            return "verify";
        case QV_PROGRESS_KIND_RESTORE:
            return "restore";
        case QV_PROGRESS_KIND_ROLLBACK:
            return "rollback";
        case QV_PROGRESS_KIND_SNAPSHOT:
            return "snapshot";
    }
    return nullptr;
}

// The summed progress of a rollback or a snapshot, in the service's MiB.
Value Amount(const GroupStatRecord& r, uint32_t QV_PROGRESS::*field) {
    const uint32_t kind = r.stat->ProgressKind;
    if (kind != QV_PROGRESS_KIND_ROLLBACK && kind != QV_PROGRESS_KIND_SNAPSHOT) return {};
    return uint64_t{r.stat->Progress.Operation.*field} * kMiB;
}

const Fields<GroupStatRecord>& GroupStatFields() {
    using R = GroupStatRecord;
    static const Fields<R> fields = {
        {"group", "GROUP", Unit::kText, [](const R& r) -> Value { return r.group; }},
        {"state", "STATE", Unit::kText, [](const R& r) -> Value { return StateName(r.stat->State); }},
        {"condition", "CONDITION", Unit::kCount,
         [](const R& r) -> Value { return uint64_t{r.stat->Condition}; }},
        {"members", "MEMBERS", Unit::kCount,
         [](const R& r) -> Value { return uint64_t{r.stat->MemberCount}; }},
        {"operation", "OPERATION", Unit::kText,
         [](const R& r) -> Value {
             const char* name = ProgressKindName(r.stat->ProgressKind);
             return name != nullptr ? Value{std::string(name)} : Value{};
         }},
        {"done", "DONE", Unit::kBytes, [](const R& r) { return Amount(r, &QV_PROGRESS::TotalDone); }},
        {"left", "LEFT", Unit::kBytes, [](const R& r) { return Amount(r, &QV_PROGRESS::DirtyData); }},
        {"value1", "VALUE1", Unit::kCount, [](const R& r) -> Value { return uint64_t{r.stat->Value1}; },
         kDetail},
        {"value2", "VALUE2", Unit::kCount, [](const R& r) -> Value { return uint64_t{r.stat->Value2}; },
         kDetail},
        {"value3", "VALUE3", Unit::kCount, [](const R& r) -> Value { return uint64_t{r.stat->Value3}; },
         kDetail},
        {"value4", "VALUE4", Unit::kCount, [](const R& r) -> Value { return uint64_t{r.stat->Value4}; },
         kDetail},
    };
    return fields;
}

// The group's progress readers take the group's name where an object's take
// a name and number.
template <QV_STATUS (*Read)(QV_HANDLE, const QV_WCHAR*, QV_PROGRESS*)>
QV_STATUS ByGroup(QV_HANDLE handle, const QV_WCHAR* group, uint32_t, QV_PROGRESS* progress) {
    return Read(handle, group, progress);
}

template <QV_STATUS (*Read)(QV_HANDLE, const QV_WCHAR*, QV_PROGRESS*)>
Sample GroupSample(const Globals& g, QV_HANDLE handle, const Object& group) {
    return TaskSample(g, handle, group, ByGroup<Read>);
}

template <QV_STATUS (*Read)(QV_HANDLE, const QV_WCHAR*, QV_PROGRESS*)>
void ShowGroupProgress(const Globals& g, QV_HANDLE handle, const Object& group) {
    PrintOne(g, RestoreFields(), ReadTask(handle, group, ByGroup<Read>));
}

const LongOperation kGroupSnapshot{"snapshot", "Snapshot",
                                   GroupSample<qvGetGroupSnapshotProgress>,
                                   ShowGroupProgress<qvGetGroupSnapshotProgress>,
                                   [](const Object& group) {
                                       return "See how far it is with: qvctl group snapshot " +
                                              ToUtf8(group.name) + " --progress";
                                   }};
const LongOperation kGroupRollback{"rollback", "Rollback",
                                   GroupSample<qvGetGroupRollbackProgress>,
                                   ShowGroupProgress<qvGetGroupRollbackProgress>,
                                   [](const Object& group) {
                                       return "Cancel it with: qvctl group rollback " +
                                              ToUtf8(group.name) + " ID --cancel";
                                   }};

// A command that acts on the whole group with one call.
struct GroupCommand {
    const char* name;
    const char* help;
    QV_STATUS (*call)(QV_HANDLE, const QV_WCHAR*);
    const char* doing;  // "suspend group {}"
    const char* done;   // "Group {} suspended."
    const char* confirm = nullptr;
};

const GroupCommand kGroupCommands[] = {
    {"delete", "Delete a group; its protections stay", qvDeleteGroup, "delete group {}",
     "Group {} deleted.", "Delete group {}? Its protections stay as they are."},
    {"suspend", "Suspend mirroring on every member", qvSuspendGroup, "suspend group {}",
     "Group {} suspended."},
    {"resume", "Resume mirroring on every member", qvResumeGroup, "resume group {}",
     "Group {} resumed."},
    {"stop", "Stop mirroring on every member", qvStopGroup, "stop group {}", "Group {} stopped."},
    {"sync", "Synchronise every member", qvSyncGroup, "synchronise group {}",
     "Synchronisation of group {} started."},
    {"cancel-sync", "Cancel the members' synchronisations", qvCancelSyncGroup,
     "cancel the synchronisation of group {}", "Synchronisation of group {} cancelled."},
};

struct Args {
    std::string group;
    std::vector<std::string> objects;
    std::string text;
    CLI::Option* text_given = nullptr;
    uint32_t kind = 0;
    CLI::Option* kind_given = nullptr;
    uint32_t id = 0;
    bool wait = false;
    bool progress = false;
    bool cancel = false;
    bool yes = false;
};

CLI::App* AddGroupArg(CLI::App* parent, const char* name, const char* help, Args& args) {
    CLI::App* sub = parent->add_subcommand(name, help);
    sub->add_option("GROUP", args.group, "The group's name")->required();
    return sub;
}

void AddConfigOptions(CLI::App* sub, Args& args) {
    args.text_given = sub->add_option("--text", args.text, "The group's text");
    args.kind_given =
        sub->add_option("--mirror-kind", args.kind, "The members' mirror kind (1 or 2)");
}

void SendConfig(const Globals& g, const Args& args, bool create) {
    Session session(g);
    const std::u16string name = ToUtf16(args.group);
    GroupList current;
    QV_GROUP_CONFIG config{};
    if (!create) {
        ReadGroups(session.handle(), &name, current);
        if (Entries(current.value).empty()) throw Unfinished("no group " + args.group + ".");
        config = current.value.Entries[0];
    }
    config.Name = name.c_str();
    const std::u16string text = ToUtf16(args.text);
    if (*args.text_given) config.Text = text.c_str();
    if (*args.kind_given) config.MirrorKind = args.kind;
    const char* verb = create ? "create" : "change";
    Check(create ? qvCreateGroup(session.handle(), &config)
                 : qvChangeGroupConfig(session.handle(), &config),
          std::string(verb) + " group " + args.group);
    Done(g, std::string("group ") + verb, args.group,
         "Group " + args.group + (create ? " created." : " changed."));
}

void AddConfigCommands(CLI::App& group, Commands& commands) {
    for (const bool create : {true, false}) {
        auto args = std::make_shared<Args>();
        CLI::App* sub = AddGroupArg(&group, create ? "create" : "change",
                                    create ? "Create a group" : "Change a group's settings", *args);
        AddConfigOptions(sub, *args);
        commands.Add(sub, [args, create](const Globals& g) { SendConfig(g, *args, create); });
    }

    auto list = std::make_shared<Args>();
    CLI::App* l = group.add_subcommand("list", "List the groups with their members");
    l->add_option("GROUP", list->group, "Only this group");
    commands.Add(l, [list](const Globals& g) {
        Session session(g);
        const std::u16string name = ToUtf16(list->group);
        GroupList groups;
        ReadGroups(session.handle(), list->group.empty() ? nullptr : &name, groups);
        const auto entries = Entries(groups.value);
        PrintList(g, GroupFields(), entries.begin(), entries.end());
    });

    for (const bool add : {true, false}) {
        auto args = std::make_shared<Args>();
        CLI::App* sub = AddGroupArg(&group, add ? "add" : "remove",
                                    add ? "Add protections to a group"
                                        : "Remove a protection from a group",
                                    *args);
        auto* objects = sub->add_option("PRIMARY", args->objects,
                                        "The protected disks or partitions, by their primary");
        objects->required();
        if (!add) objects->expected(1);
        commands.Add(sub, [args, add](const Globals& g) {
            std::vector<Object> objects;
            for (const std::string& text : args->objects) {
                const auto o = ParseObject(text);
                if (!o) throw UsageError("not a disk or partition: " + text);
                objects.push_back(*o);
            }
            Session session(g);
            const std::u16string name = ToUtf16(args->group);
            std::string what = objects.front().text;
            for (std::size_t i = 1; i < objects.size(); ++i) what += ", " + objects[i].text;
            if (!add) {
                Check(qvRemoveGroupMember(session.handle(), name.c_str(),
                                          objects.front().name.c_str(), objects.front().number),
                      "remove " + what + " from group " + args->group);
                return Done(g, "group remove", args->group,
                            what + " removed from group " + args->group + ".");
            }
            std::vector<QV_OBJECT_ID> ids;
            for (const Object& o : objects) ids.push_back({o.name.c_str(), o.number});
            std::vector<const QV_OBJECT_ID*> members;
            for (const QV_OBJECT_ID& id : ids) members.push_back(&id);
            const QV_STATUS status =
                members.size() == 1
                    ? qvAddGroupMember(session.handle(), name.c_str(), ids[0].name, ids[0].number)
                    : qvAddGroupMembers(session.handle(), name.c_str(),
                                        static_cast<uint32_t>(members.size()), members.data());
            Check(status, "add " + what + " to group " + args->group);
            Done(g, "group add", args->group, what + " added to group " + args->group + ".");
        });
    }
}

void AddOperationCommands(CLI::App& group, Commands& commands) {
    for (const GroupCommand& row : kGroupCommands) {
        auto args = std::make_shared<Args>();
        CLI::App* sub = AddGroupArg(&group, row.name, row.help, *args);
        if (row.confirm != nullptr) AddYes(sub, args->yes);
        commands.Add(sub, [args, &row](const Globals& g) {
            if (row.confirm != nullptr) Confirm(args->yes, Fill(row.confirm, args->group));
            Session session(g);
            const std::u16string name = ToUtf16(args->group);
            Check(row.call(session.handle(), name.c_str()), Fill(row.doing, args->group));
            Done(g, std::string("group ") + row.name, args->group, Fill(row.done, args->group));
        });
    }

    auto snap = std::make_shared<Args>();
    CLI::App* s = AddGroupArg(&group, "snapshot", "Take a snapshot of every member", *snap);
    s->add_flag("--wait", snap->wait, "Follow the snapshot until it is taken");
    s->add_flag("--progress", snap->progress, "Show the progress of the last snapshot instead");
    s->add_flag("--cancel", snap->cancel, "Cancel the running snapshot")->excludes("--wait");
    commands.Add(s, [snap](const Globals& g) {
        const Object group = GroupObject(snap->group);
        Session session(g);
        if (snap->progress) return kGroupSnapshot.show(g, session.handle(), group);
        if (snap->cancel) {
            Check(qvCancelGroupSnapshot(session.handle(), group.name.c_str()),
                  "cancel the snapshot of " + group.text);
            return Done(g, "group snapshot cancel", snap->group,
                        "Snapshot of " + group.text + " cancelled.");
        }
        const QV_GROUP_REF ref{group.name.c_str()};
        const QV_SNAPSHOT_REQUEST request{&ref, 1};
        Check(qvTakeGroupSnapshot(session.handle(), &request),
              "take a snapshot of " + group.text);
        if (!snap->wait) {
            return Done(g, "group snapshot", snap->group,
                        "Snapshot of " + group.text + " started.");
        }
        Follow(g, session.handle(), kGroupSnapshot, group);
    });

    auto roll = std::make_shared<Args>();
    CLI::App* r = AddGroupArg(&group, "rollback", "Roll every member back to a group snapshot",
                              *roll);
    r->add_option("ID", roll->id, "The group snapshot's number (its first member's)")->required();
    r->add_flag("--wait", roll->wait, "Follow the rollback until it ends");
    r->add_flag("--cancel", roll->cancel, "Cancel the running rollback")->excludes("--wait");
    AddYes(r, roll->yes);
    commands.Add(r, [roll](const Globals& g) {
        const Object group = GroupObject(roll->group);
        if (roll->cancel) {
            Session session(g);
            Check(qvCancelGroupRollback(session.handle(), group.name.c_str()),
                  "cancel the rollback of " + group.text);
            return Done(g, "group rollback cancel", roll->group,
                        "Rollback of " + group.text + " cancelled.");
        }
        const std::string id = std::to_string(roll->id);
        Confirm(roll->yes, "Roll every member of " + group.text + " back to snapshot " + id +
                               "? What they hold now is lost.");
        Session session(g);
        const QV_GROUP_REF ref{group.name.c_str()};
        Check(qvRollbackGroup(session.handle(), 1, &ref, roll->id),
              "roll " + group.text + " back to snapshot " + id);
        if (!roll->wait) {
            return Done(g, "group rollback", roll->group,
                        "Rollback of " + group.text + " started.");
        }
        Follow(g, session.handle(), kGroupRollback, group);
    });

    auto stat = std::make_shared<Args>();
    CLI::App* st = AddGroupArg(&group, "stat", "Show a group's state and its members'", *stat);
    commands.Add(st, [stat](const Globals& g) {
        Session session(g);
        const std::u16string name = ToUtf16(stat->group);
        const QV_CONFIG_FILTER filter{0, name.c_str(), {}};
        GroupStat held;
        Check(qvGetGroupStat(session.handle(), &filter, &held.value),
              "read the statistics of group " + stat->group);
        PrintOne(g, GroupStatFields(), GroupStatRecord{stat->group, &held.value});
    });
}

}  // namespace

std::vector<std::pair<std::string, std::string>> GroupsByMember(QV_HANDLE handle) {
    std::vector<std::pair<std::string, std::string>> out;
    const QV_CONFIG_FILTER all{};
    GroupList groups;
    if (qvGetGroupConfigList(handle, &all, &groups.value) != QV_STATUS_SUCCESS) return out;
    for (const QV_GROUP_CONFIG& g : Entries(groups.value)) {
        for (const QV_MIRROR_CONFIG& m : std::span(g.Members, g.Members ? g.MemberCount : 0)) {
            out.emplace_back(ObjectText(m.Primary.name, m.Primary.number), *ToUtf8(g.Name));
        }
    }
    return out;
}

void AddGroupCommands(CLI::App& app, Commands& commands) {
    CLI::App* group =
        app.add_subcommand("group", "Protection groups: configure them, act on every member");
    group->require_subcommand(1);
    AddConfigCommands(*group, commands);
    AddOperationCommands(*group, commands);
}

}  // namespace qvctl
