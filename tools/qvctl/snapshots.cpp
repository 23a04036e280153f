// qvctl snapshot take | list | delete | cancel, rollback, view mount |
// unmount | list, schedule set | remove | show: the snapshots of a
// protection, its rollback to one of them, the views mounted from them and
// its snapshot schedule.
//
// Taking a snapshot and rolling back run in the service; with --wait qvctl
// follows them through their progress readers until they end. A rollback
// replaces what the disk holds, so it asks first (--yes answers for a
// script; without a terminal and without --yes it refuses).
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <thread>

#include "qvctl.h"

namespace qvctl {
namespace {

using namespace std::chrono_literals;
constexpr auto kPollInterval = 250ms;

// Progress states of a snapshot (1 to 4) and of a rollback (1 to 5).
constexpr uint32_t kOpRunning = 1;
constexpr uint32_t kOpCompleted = 2;

std::string OpStateName(uint32_t state) {
    switch (state) {
        case 1:
            return "running";
        case 2:
            return "completed";
        case 3:
            return "cancelled";
        case 4:
            return "failed";
        case 5:
            return "stopped";
        default:
            return "unknown";
    }
}

// A snapshot list of the service, given back when it goes.
struct SnapshotList {
    QV_SNAPSHOT_LIST list{};
    SnapshotList() = default;
    ~SnapshotList() {
        QV_SNAPSHOT_LIST* p = &list;
        qvFreeSnapshotList(&p, 1);
    }
    SnapshotList(const SnapshotList&) = delete;
    SnapshotList& operator=(const SnapshotList&) = delete;
};

struct DiskList {
    QV_DISK_LIST list{};
    DiskList() = default;
    ~DiskList() {
        QV_DISK_LIST* p = &list;
        qvFreeDiskList(&p, 1);
    }
    DiskList(const DiskList&) = delete;
    DiskList& operator=(const DiskList&) = delete;
};

using ProgressRead = QV_STATUS (*)(QV_HANDLE, const QV_WCHAR*, uint32_t, QV_PROGRESS*);

// Reads the progress until the operation ends; Unfinished unless it
// completed. TotalDone counts what is done, DirtyData what is left.
void Follow(const Globals& globals, QV_HANDLE handle, const std::string& operation,
            const Object& object, ProgressRead read) {
    ProgressView view(globals.json, operation + " " + object.text);
    for (;;) {
        QV_PROGRESS p{};
        Check(read(handle, object.name.c_str(), object.number, &p),
              "read the " + operation + " progress of " + object.text);
        const uint64_t total = uint64_t{p.TotalDone} + p.DirtyData;
        const unsigned percent = total == 0
                                     ? (p.State == kOpCompleted ? 100 : 0)
                                     : static_cast<unsigned>(uint64_t{p.TotalDone} * 100 / total);
        const std::string state = OpStateName(p.State);
        view.Update(percent, state,
                    {{"operation", operation},
                     {"object", object.text},
                     {"state", p.State},
                     {"state_name", state},
                     {"percent", percent},
                     {"result", p.Result},
                     {"dirty_data", p.DirtyData},
                     {"total_done", p.TotalDone}});
        if (p.State != kOpRunning) {
            view.Finish();
            if (p.State != kOpCompleted) {
                throw Unfinished(operation + " of " + object.text + " did not complete: " + state);
            }
            if (!globals.json) std::cout << operation << " of " << object.text << " completed.\n";
            return;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

json SnapshotJson(const QV_SNAPSHOT_INFO& s) {
    json out = {{"id", s.SnapshotId},
                {"taken", s.Value64},
                {"name", JsonText(s.Text1)},
                {"note", JsonText(s.Text3)},
                {"view", nullptr}};
    if (s.View != nullptr) out["view"] = JsonText(s.View->ViewName);
    return out;
}

void ListSnapshots(const Globals& globals, const Object& object, bool views_only) {
    Session session(globals);
    const QV_OBJECT_ID id{object.name.c_str(), object.number};
    const QV_SNAPSHOT_SELECTOR selector{QV_SNAPSHOTS_OF_OBJECT, &id, 0, 0, 0};
    SnapshotList snapshots;
    Check(qvGetSnapshotList(session.handle(), &selector, &snapshots.list),
          "list the snapshots of " + object.text);
    json all = json::array();
    Table table({"ID", "NAME", "VIEW"});
    table.AlignRight(0);
    for (uint32_t i = 0; i < snapshots.list.Count; ++i) {
        const QV_SNAPSHOT_INFO& s = snapshots.list.Entries[i];
        if (views_only && s.View == nullptr) continue;
        all.push_back(SnapshotJson(s));
        table.Add({std::to_string(s.SnapshotId), ToUtf8(s.Text1).value_or("-"),
                   s.View != nullptr ? ToUtf8(s.View->ViewName).value_or("") : "-"});
    }
    if (globals.json) {
        PrintJson({{"object", object.text}, {views_only ? "views" : "snapshots", all}});
    } else {
        table.Print();
    }
}

// Asks before a rollback; UsageError when no one can answer.
void Confirm(bool yes, const std::string& question) {
    if (yes) return;
    if (isatty(STDIN_FILENO) == 0) {
        throw UsageError(question + " Give --yes to confirm without a terminal.");
    }
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer != "y" && answer != "yes") throw UsageError("Not confirmed; nothing was done.");
}

struct ObjectArgs {
    std::string object;
    uint32_t id = 0;
    bool wait = false;
    bool yes = false;
    std::string name;
    CLI::Option* name_given = nullptr;
    QV_SNAPSHOT_SCHEDULE schedule{};
};

void AddSnapshot(CLI::App& app, Commands& commands) {
    CLI::App* snapshot = app.add_subcommand("snapshot", "Take, list, delete and cancel snapshots");
    snapshot->require_subcommand(1);

    auto take = std::make_shared<ObjectArgs>();
    CLI::App* t = snapshot->add_subcommand("take", "Take a snapshot of a protection");
    AddObjectArg(t, "OBJECT", take->object, "The protected disk or partition")->required();
    t->add_flag("--wait", take->wait, "Follow the snapshot until it is taken");
    commands.Add(t, [take](const Globals& g) {
        const Object object = ObjectArg(take->object);
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        const QV_SNAPSHOT_REQUEST request{&id, 1};
        Check(qvTakeSnapshot(session.handle(), &request), "take a snapshot of " + object.text);
        if (take->wait) {
            Follow(g, session.handle(), "snapshot", object, qvGetSnapshotProgress);
        } else {
            Done(g, "snapshot take", object.text, "Snapshot of " + object.text + " started.");
        }
    });

    auto list = std::make_shared<std::string>();
    CLI::App* l = snapshot->add_subcommand("list", "List the snapshots of a protection");
    AddObjectArg(l, "OBJECT", *list, "The protected disk or partition")->required();
    commands.Add(l, [list](const Globals& g) { ListSnapshots(g, ObjectArg(*list), false); });

    auto del = std::make_shared<ObjectArgs>();
    CLI::App* d = snapshot->add_subcommand("delete", "Delete one snapshot of a protection");
    AddObjectArg(d, "OBJECT", del->object, "The protected disk or partition")->required();
    d->add_option("ID", del->id, "The snapshot's number")->required();
    commands.Add(d, [del](const Globals& g) {
        const Object object = ObjectArg(del->object);
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        const QV_SNAPSHOT_KEY key{0, &id, del->id};
        const QV_SNAPSHOT_SELECTOR selector{QV_SNAPSHOT_OF_OBJECT, &key, 0, 0, 0};
        Check(qvDeleteSnapshots(session.handle(), &selector),
              "delete snapshot " + std::to_string(del->id) + " of " + object.text);
        Done(g, "snapshot delete", object.text,
             "Snapshot " + std::to_string(del->id) + " of " + object.text + " deleted.");
    });

    auto cancel = std::make_shared<std::string>();
    CLI::App* c = snapshot->add_subcommand("cancel", "Cancel the snapshot being taken");
    AddObjectArg(c, "OBJECT", *cancel, "The protected disk or partition")->required();
    commands.Add(c, [cancel](const Globals& g) {
        const Object object = ObjectArg(*cancel);
        Session session(g);
        Check(qvCancelSnapshot(session.handle(), object.name.c_str(), object.number),
              "cancel the snapshot of " + object.text);
        Done(g, "snapshot cancel", object.text, "Snapshot of " + object.text + " cancelled.");
    });
}

void AddRollback(CLI::App& app, Commands& commands) {
    auto args = std::make_shared<ObjectArgs>();
    CLI::App* r = app.add_subcommand("rollback", "Roll a protection back to one of its snapshots");
    AddObjectArg(r, "OBJECT", args->object, "The protected disk or partition")->required();
    r->add_option("ID", args->id, "The snapshot's number")->required();
    r->add_flag("--wait", args->wait, "Follow the rollback until it ends");
    r->add_flag("--yes,-y", args->yes, "Do not ask for confirmation");
    commands.Add(r, [args](const Globals& g) {
        const Object object = ObjectArg(args->object);
        Confirm(args->yes, "Roll " + object.text + " back to snapshot " + std::to_string(args->id) +
                               "? What it holds now is lost.");
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        Check(qvRollback(session.handle(), 0, &id, args->id, 0),
              "roll " + object.text + " back to snapshot " + std::to_string(args->id));
        if (args->wait) {
            Follow(g, session.handle(), "rollback", object, qvGetRollbackProgress);
        } else {
            Done(g, "rollback", object.text, "Rollback of " + object.text + " started.");
        }
    });
}

void AddView(CLI::App& app, Commands& commands) {
    CLI::App* view = app.add_subcommand("view", "Mount snapshots as view disks and list them");
    view->require_subcommand(1);

    auto mount = std::make_shared<ObjectArgs>();
    CLI::App* m = view->add_subcommand("mount", "Mount a snapshot as a view disk");
    AddObjectArg(m, "OBJECT", mount->object, "The protected disk or partition")->required();
    m->add_option("ID", mount->id, "The snapshot's number")->required();
    mount->name_given = m->add_option("--name", mount->name, "The view's name");
    commands.Add(m, [mount](const Globals& g) {
        const Object object = ObjectArg(mount->object);
        const std::u16string name = ToUtf16(mount->name);
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        const QV_BACKLOOK_MOUNT record{0, &id, mount->id,
                                       mount->name_given->count() > 0 ? name.c_str() : nullptr};
        Check(qvMountBacklook(session.handle(), &record),
              "mount snapshot " + std::to_string(mount->id) + " of " + object.text);
        Done(g, "view mount", object.text,
             "Snapshot " + std::to_string(mount->id) + " of " + object.text + " mounted.");
    });

    auto unmount = std::make_shared<ObjectArgs>();
    CLI::App* u = view->add_subcommand("unmount", "Unmount the view of a snapshot");
    AddObjectArg(u, "OBJECT", unmount->object, "The protected disk or partition")->required();
    u->add_option("ID", unmount->id, "The snapshot's number")->required();
    commands.Add(u, [unmount](const Globals& g) {
        const Object object = ObjectArg(unmount->object);
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        Check(qvUnmountBacklook(session.handle(), 0, &id, unmount->id),
              "unmount snapshot " + std::to_string(unmount->id) + " of " + object.text);
        Done(g, "view unmount", object.text,
             "Snapshot " + std::to_string(unmount->id) + " of " + object.text + " unmounted.");
    });

    // Without a snapshot: the mounted views; with one: its view disk.
    auto list = std::make_shared<ObjectArgs>();
    CLI::App* l = view->add_subcommand("list", "List the mounted views, or one view's disks");
    AddObjectArg(l, "OBJECT", list->object, "The protected disk or partition")->required();
    l->add_option("ID", list->id, "A mounted snapshot: list its view disk and partitions");
    commands.Add(l, [list](const Globals& g) {
        const Object object = ObjectArg(list->object);
        if (list->id == 0) return ListSnapshots(g, object, true);
        Session session(g);
        const QV_OBJECT_ID id{object.name.c_str(), object.number};
        const QV_SNAPSHOT_KEY key{0, &id, list->id};
        DiskList disks;
        Check(qvGetBacklookDisk(session.handle(), &key, &disks.list, 0),
              "list the view disk of snapshot " + std::to_string(list->id));
        json all = json::array();
        Table table({"OBJECT", "NAME", "SIZE"});
        table.AlignRight(2);
        for (uint32_t i = 0; i < disks.list.Count; ++i) {
            const QV_DISK_INFO& d = disks.list.Entries[i];
            if (d.DiskName == nullptr) continue;  // counted, not described
            const std::string name = ObjectText(d.DiskName, d.PartitionNumber);
            all.push_back({{"object", name},
                           {"display_name", JsonText(d.DisplayName)},
                           {"size", d.Size},
                           {"measure", d.Measure}});
            table.Add({name, ToUtf8(d.DisplayName).value_or("-"), SizeText(d.Size, d.Measure)});
        }
        if (g.json) {
            PrintJson({{"object", object.text}, {"snapshot", list->id}, {"disks", all}});
        } else {
            table.Print();
        }
    });
}

void AddSchedule(CLI::App& app, Commands& commands) {
    CLI::App* schedule = app.add_subcommand("schedule", "Set, remove or show a snapshot schedule");
    schedule->require_subcommand(1);

    auto set = std::make_shared<ObjectArgs>();
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

    auto remove = std::make_shared<std::string>();
    CLI::App* r = schedule->add_subcommand("remove", "Take the snapshot schedule out of force");
    AddObjectArg(r, "OBJECT", *remove, "The protected disk or partition")->required();
    commands.Add(r, [remove](const Globals& g) {
        const Object object = ObjectArg(*remove);
        Session session(g);
        Check(qvRemoveSnapshotSchedule(session.handle(), object.name.c_str(), object.number),
              "remove the snapshot schedule of " + object.text);
        Done(g, "schedule remove", object.text,
             "Snapshot schedule of " + object.text + " removed.");
    });

    auto show = std::make_shared<std::string>();
    CLI::App* sh = schedule->add_subcommand("show", "Show a protection's snapshot schedule");
    AddObjectArg(sh, "OBJECT", *show, "The protected disk or partition")->required();
    commands.Add(sh, [show](const Globals& g) {
        const Object object = ObjectArg(*show);
        Session session(g);
        const QV_CONFIG_FILTER filter{1, nullptr, {object.name.c_str(), object.number}};
        QV_MIRROR_CONFIG_LIST configs{};
        QV_MIRROR_CONFIG_LIST* p = &configs;
        const QV_STATUS status = qvGetMirConfigList(session.handle(), &filter, &configs);
        Check(status, "read the configuration of " + object.text);
        if (configs.Count == 0) throw Unfinished(object.text + " is not protected.");
        const QV_MIRROR_CONFIG c = configs.Entries[0];
        qvFreeMirConfigList(&p, 1);
        const QV_SNAPSHOT_SCHEDULE& s = c.Schedule;
        const bool in_force = c.Setting2 != 0;
        if (g.json) {
            PrintJson({{"object", object.text},
                       {"in_force", in_force},
                       {"mode", s.Mode},
                       {"params", {s.Param1, s.Param2, s.Param3, s.Param4, s.Param5, s.Param6}}});
            return;
        }
        PrintFields(
            {{"Object", object.text},
             {"In force", in_force ? "yes" : "no"},
             {"Mode", std::to_string(s.Mode)},
             {"Parameters", std::to_string(s.Param1) + " " + std::to_string(s.Param2) + " " +
                                std::to_string(s.Param3) + " " + std::to_string(s.Param4)}});
    });
}

}  // namespace

void AddSnapshotCommands(CLI::App& app, Commands& commands) {
    AddSnapshot(app, commands);
    AddRollback(app, commands);
    AddView(app, commands);
    AddSchedule(app, commands);
}

}  // namespace qvctl
