// qvctl snapshot take | list | delete | cancel | cancel-rollback, rollback, view mount |
// unmount | list, schedule set | remove | show: the snapshots of a
// protection, its rollback to one of them, the views mounted from them and
// its snapshot schedule.
//
// Taking a snapshot and rolling back run in the service; with --wait qvctl
// follows them through their progress readers until they end. A rollback
// replaces what the disk holds, so it asks first (--yes for scripts).
#include <iostream>

#include "protection.h"

namespace qvctl {
namespace {

// A snapshot list of the service, given back when it goes.
struct SnapshotList : Held<QV_SNAPSHOT_LIST, qvFreeSnapshotList> {
    QV_SNAPSHOT_LIST* get() { return &value; }
    const QV_SNAPSHOT_INFO* begin() const { return value.Entries; }
    const QV_SNAPSHOT_INFO* end() const {
        return value.Entries == nullptr ? value.Entries : value.Entries + value.Count;
    }
};

QV_STATUS ReadSnapshots(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number,
                        SnapshotList& out) {
    const QV_OBJECT_ID id{name, number};
    const QV_SNAPSHOT_SELECTOR selector{QV_SNAPSHOTS_OF_OBJECT, &id, 0, 0, 0};
    return qvGetSnapshotList(handle, &selector, out.get());
}

const Fields<QV_SNAPSHOT_INFO>& SnapshotFields() {
    using S = QV_SNAPSHOT_INFO;
    static const Fields<S> fields = {
        {"id", "ID", Unit::kCount, [](const S& s) -> Value { return uint64_t{s.SnapshotId}; }},
        {"name", "NAME", Unit::kText, [](const S& s) { return Text(s.Text1); }},
        {"view", "VIEW", Unit::kText,
         [](const S& s) -> Value { return s.View != nullptr ? Text(s.View->ViewName) : Value{}; }},
        {"taken", "TAKEN", Unit::kCount, [](const S& s) -> Value { return int64_t{s.Value64}; },
         kDetail},
        {"note", "NOTE", Unit::kText, [](const S& s) { return Text(s.Text3); }, kDetail},
    };
    return fields;
}

template <QV_STATUS (*Read)(QV_HANDLE, const QV_WCHAR*, uint32_t, QV_PROGRESS*)>
Sample ProgressSample(const Globals& g, QV_HANDLE handle, const Object& object) {
    return TaskSample(g, handle, object, Read);
}

template <QV_STATUS (*Read)(QV_HANDLE, const QV_WCHAR*, uint32_t, QV_PROGRESS*)>
void ShowProgress(const Globals& g, QV_HANDLE handle, const Object& object) {
    PrintOne(g, RestoreFields(), ReadTask(handle, object, Read));
}

const LongOperation kSnapshot{"snapshot", "Snapshot", ProgressSample<qvGetSnapshotProgress>,
                              ShowProgress<qvGetSnapshotProgress>,
                              [](const Object& o) {
                                  return "See how far it is with: qvctl snapshot take " + o.text +
                                         " --progress";
                              }};
const LongOperation kRollback{"rollback", "Rollback", ProgressSample<qvGetRollbackProgress>,
                              ShowProgress<qvGetRollbackProgress>,
                              [](const Object& o) {
                                  return "Cancel it with: qvctl snapshot cancel-rollback " + o.text;
                              }};

struct Args {
    std::string object;
    uint32_t id = 0;
    bool wait = false;
    bool progress = false;
    bool yes = false;
    std::string name;
    CLI::Option* name_given = nullptr;
    QV_SNAPSHOT_SCHEDULE schedule{};
};

CLI::App* AddWithId(CLI::App* parent, const char* name, const char* help, Args& args) {
    CLI::App* sub = parent->add_subcommand(name, help);
    AddObjectArg(sub, "OBJECT", args.object, "The protected disk or partition")->required();
    sub->add_option("ID", args.id, "The snapshot's number")->required();
    return sub;
}

std::string Numbered(const char* what, uint32_t id, const Object& object) {
    return std::string(what) + " " + std::to_string(id) + " of " + object.text;
}

const ObjectCommand kObjectCommands[] = {
    {"cancel", "Cancel the snapshot being taken", qvCancelSnapshot, "cancel the snapshot of {}",
     "Snapshot of {} cancelled."},
    {"cancel-rollback", "Cancel a running rollback", qvCancelRollback,
     "cancel the rollback of {}", "Rollback of {} cancelled."},
};

void AddSnapshot(CLI::App& app, Commands& commands) {
    CLI::App* snapshot =
        app.add_subcommand("snapshot", "Take, list, delete and cancel snapshots, cancel rollbacks");
    snapshot->require_subcommand(1);

    auto take = std::make_shared<Args>();
    CLI::App* t = snapshot->add_subcommand("take", "Take a snapshot of a protection");
    AddObjectArg(t, "OBJECT", take->object, "The protected disk or partition")->required();
    t->add_flag("--wait", take->wait, "Follow the snapshot until it is taken");
    t->add_flag("--progress", take->progress, "Show the progress of the last snapshot instead");
    commands.Add(t, [take](const Globals& g) {
        const Object object = ObjectArg(take->object);
        Session session(g);
        if (take->progress) return kSnapshot.show(g, session.handle(), object);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        const QV_SNAPSHOT_REQUEST request{&id, 1};
        Check(qvTakeSnapshot(session.handle(), &request), "take a snapshot of " + object.text);
        if (!take->wait)
            return Done(g, "snapshot take", object.text,
                        "Snapshot of " + object.text + " started.");
        Follow(g, session.handle(), kSnapshot, object);
    });

    auto list = std::make_shared<std::string>();
    CLI::App* l = snapshot->add_subcommand("list", "List the snapshots of a protection");
    AddObjectArg(l, "OBJECT", *list, "The protected disk or partition")->required();
    commands.Add(l, [list](const Globals& g) {
        const Object object = ObjectArg(*list);
        Session session(g);
        SnapshotList snapshots;
        Check(ReadSnapshots(session.handle(), object.name.c_str(), object.number, snapshots),
              "list the snapshots of " + object.text);
        PrintList(g, SnapshotFields(), snapshots.begin(), snapshots.end());
    });

    auto del = std::make_shared<Args>();
    CLI::App* d = AddWithId(snapshot, "delete", "Delete one snapshot of a protection", *del);
    AddYes(d, del->yes);
    commands.Add(d, [del](const Globals& g) {
        const Object object = ObjectArg(del->object);
        Confirm(del->yes, "Delete " + Numbered("snapshot", del->id, object) + "?");
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        const QV_SNAPSHOT_KEY key{0, &id, del->id};
        const QV_SNAPSHOT_SELECTOR selector{QV_SNAPSHOT_OF_OBJECT, &key, 0, 0, 0};
        Check(qvDeleteSnapshots(session.handle(), &selector),
              "delete " + Numbered("snapshot", del->id, object));
        Done(g, "snapshot delete", object.text,
             "Snapshot " + std::to_string(del->id) + " of " + object.text + " deleted.");
    });
    AddObjectCommands(*snapshot, commands, kObjectCommands);
}

void AddRollback(CLI::App& app, Commands& commands) {
    auto args = std::make_shared<Args>();
    CLI::App* r =
        AddWithId(&app, "rollback", "Roll a protection back to one of its snapshots", *args);
    r->add_flag("--wait", args->wait, "Follow the rollback until it ends");
    AddYes(r, args->yes);
    commands.Add(r, [args](const Globals& g) {
        const Object object = ObjectArg(args->object);
        Confirm(args->yes, "Roll " + object.text + " back to snapshot " + std::to_string(args->id) +
                               "? What it holds now is lost.");
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        Check(qvRollback(session.handle(), 0, &id, args->id, 0),
              "roll " + object.text + " back to snapshot " + std::to_string(args->id));
        if (!args->wait) {
            return Done(g, "rollback", object.text, "Rollback of " + object.text + " started.");
        }
        Follow(g, session.handle(), kRollback, object);
    });
}

void AddView(CLI::App& app, Commands& commands) {
    CLI::App* view = app.add_subcommand("view", "Mount snapshots as view disks and list them");
    view->require_subcommand(1);

    auto mount = std::make_shared<Args>();
    CLI::App* m = AddWithId(view, "mount", "Mount a snapshot as a view disk", *mount);
    mount->name_given = m->add_option("--name", mount->name, "The view's name");
    commands.Add(m, [mount](const Globals& g) {
        const Object object = ObjectArg(mount->object);
        const std::u16string name = ToUtf16(mount->name);
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        const QV_BACKLOOK_MOUNT record{0, &id, mount->id,
                                       mount->name_given->count() > 0 ? name.c_str() : nullptr};
        Check(qvMountBacklook(session.handle(), &record),
              "mount " + Numbered("snapshot", mount->id, object));
        Done(g, "view mount", object.text,
             "Snapshot " + std::to_string(mount->id) + " of " + object.text + " mounted.");
    });

    auto unmount = std::make_shared<Args>();
    CLI::App* u = AddWithId(view, "unmount", "Unmount the view of a snapshot", *unmount);
    commands.Add(u, [unmount](const Globals& g) {
        const Object object = ObjectArg(unmount->object);
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        Check(qvUnmountBacklook(session.handle(), 0, &id, unmount->id),
              "unmount " + Numbered("snapshot", unmount->id, object));
        Done(g, "view unmount", object.text,
             "Snapshot " + std::to_string(unmount->id) + " of " + object.text + " unmounted.");
    });

    // Without a snapshot: the mounted ones; with one: its view disk.
    auto list = std::make_shared<Args>();
    CLI::App* l = view->add_subcommand("list", "List the mounted views, or one view's disks");
    AddObjectArg(l, "OBJECT", list->object, "The protected disk or partition")->required();
    l->add_option("ID", list->id, "A mounted snapshot: list its view disk and partitions");
    commands.Add(l, [list](const Globals& g) {
        const Object object = ObjectArg(list->object);
        Session session(g);
        if (list->id == 0) {
            SnapshotList snapshots;
            Check(ReadSnapshots(session.handle(), object.name.c_str(), object.number, snapshots),
                  "list the snapshots of " + object.text);
            std::vector<QV_SNAPSHOT_INFO> mounted;
            for (const QV_SNAPSHOT_INFO& s : snapshots) {
                if (s.View != nullptr) mounted.push_back(s);
            }
            return PrintList(g, SnapshotFields(), mounted.begin(), mounted.end());
        }
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        const QV_SNAPSHOT_KEY key{0, &id, list->id};
        QV_DISK_LIST disks{};
        const QV_STATUS status = qvGetBacklookDisk(session.handle(), &key, &disks, 0);
        std::vector<QV_DISK_INFO> entries;  // counted entries the service left empty are left out
        for (uint32_t i = 0; i < disks.Count; ++i) {
            if (disks.Entries[i].DiskName != nullptr) entries.push_back(disks.Entries[i]);
        }
        if (status == 0) PrintList(g, DiskFields(), entries.begin(), entries.end());
        QV_DISK_LIST* p = &disks;
        qvFreeDiskList(&p, 1);
        Check(status, "list the view disk of " + Numbered("snapshot", list->id, object));
    });
}

struct ScheduleRecord {
    std::string object;
    QV_MIRROR_CONFIG config;
};

const Fields<ScheduleRecord>& ScheduleFields() {
    using R = ScheduleRecord;
    const auto param = [](uint32_t QV_SNAPSHOT_SCHEDULE::*p) {
        return [p](const R& r) -> Value { return uint64_t{r.config.Schedule.*p}; };
    };
    static const Fields<R> fields = {
        {"object", "OBJECT", Unit::kText, [](const R& r) -> Value { return r.object; }},
        {"in_force", "IN FORCE", Unit::kFlag,
         [](const R& r) -> Value { return r.config.Setting2 != 0; }},
        {"mode", "MODE", Unit::kCount, param(&QV_SNAPSHOT_SCHEDULE::Mode)},
        {"param1", "PARAM1", Unit::kCount, param(&QV_SNAPSHOT_SCHEDULE::Param1)},
        {"param2", "PARAM2", Unit::kCount, param(&QV_SNAPSHOT_SCHEDULE::Param2)},
        {"param3", "PARAM3", Unit::kCount, param(&QV_SNAPSHOT_SCHEDULE::Param3)},
        {"param4", "PARAM4", Unit::kCount, param(&QV_SNAPSHOT_SCHEDULE::Param4)},
        {"param5", "PARAM5", Unit::kCount, param(&QV_SNAPSHOT_SCHEDULE::Param5), kDetail},
        {"param6", "PARAM6", Unit::kCount, param(&QV_SNAPSHOT_SCHEDULE::Param6), kDetail},
    };
    return fields;
}

const ObjectCommand kScheduleCommands[] = {
    {"remove", "Take the snapshot schedule out of force (it is kept)", qvRemoveSnapshotSchedule,
     "remove the snapshot schedule of {}", "Snapshot schedule of {} removed."},
};

void AddSchedule(CLI::App& app, Commands& commands) {
    CLI::App* schedule = app.add_subcommand("schedule", "Set, remove or show a snapshot schedule");
    schedule->require_subcommand(1);

    auto set = std::make_shared<Args>();
    CLI::App* s = schedule->add_subcommand("set", "Put a snapshot schedule in force");
    AddObjectArg(s, "OBJECT", set->object, "The protected disk or partition")->required();
    s->add_option("--mode", set->schedule.Mode, "The schedule's mode")
        ->required()
        ->check(CLI::IsMember({1, 2, 3}));
    s->add_option("--param1", set->schedule.Param1, "The first parameter of the mode");
    s->add_option("--param2", set->schedule.Param2, "The second parameter");
    s->add_option("--param3", set->schedule.Param3, "The third parameter");
    s->add_option("--param4", set->schedule.Param4, "The fourth parameter");
    commands.Add(s, [set](const Globals& g) {
        const Object object = ObjectArg(set->object);
        Session session(g);
        Check(qvScheduleSnapshot(session.handle(), object.name.c_str(), object.number,
                                 &set->schedule),
              "set the snapshot schedule of " + object.text);
        Done(g, "schedule set", object.text, "Snapshot schedule of " + object.text + " set.");
    });
    AddObjectCommands(*schedule, commands, kScheduleCommands);

    auto show = std::make_shared<std::string>();
    CLI::App* sh = schedule->add_subcommand("show", "Show a protection's snapshot schedule");
    AddObjectArg(sh, "OBJECT", *show, "The protected disk or partition")->required();
    commands.Add(sh, [show](const Globals& g) {
        const Object object = ObjectArg(*show);
        Session session(g);
        ConfigList configs;
        ReadConfigs(session.handle(), &object, configs);
        const QV_MIRROR_CONFIG* c = FindConfig(configs, object);
        if (c == nullptr) throw Unfinished(object.text + " is not protected.");
        PrintOne(g, ScheduleFields(), ScheduleRecord{object.text, *c});
    });
}

}  // namespace

// A snapshot's and a rollback's progress are records of the restore's
// shape (QV_PROGRESS, in the service's MiB), shown by the restore's table.
RestoreRecord ReadTask(QV_HANDLE handle, const Object& object, TaskReader read) {
    RestoreRecord r{object.text, {}};
    Check(read(handle, object.name.c_str(), object.number, &r.progress),
          "read the progress of " + object.text);
    return r;
}

Sample TaskSample(const Globals& g, QV_HANDLE handle, const Object& object, TaskReader read) {
    const RestoreRecord r = ReadTask(handle, object, read);
    Sample s;
    s.running = r.progress.State == kOpRunning;
    s.completed = r.progress.State == kOpCompleted;
    s.done = r.progress.TotalDone * kMiB;
    s.total = s.done + r.progress.DirtyData * kMiB;
    s.percent =
        s.total == 0 ? (s.completed ? 100 : 0) : static_cast<unsigned>(s.done * 100 / s.total);
    s.data = JsonOf(g, RestoreFields(), r);
    s.state = s.data["state"].get<std::string>();
    return s;
}

void CountSnapshots(QV_HANDLE handle, const QV_WCHAR* name, uint32_t number, StatRecord& r) {
    SnapshotList snapshots;
    if (ReadSnapshots(handle, name, number, snapshots) != QV_STATUS_SUCCESS) return;
    uint32_t all = 0;
    uint32_t mounted = 0;
    for (const QV_SNAPSHOT_INFO& s : snapshots) {
        ++all;
        if (s.View != nullptr) ++mounted;
    }
    r.snapshots = all;
    r.views = mounted;
}

void AddSnapshotCommands(CLI::App& app, Commands& commands) {
    AddSnapshot(app, commands);
    AddRollback(app, commands);
    AddView(app, commands);
    AddSchedule(app, commands);
}

}  // namespace qvctl
