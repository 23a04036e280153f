// qvctl mirror disable | suspend | resume | stop | cancel-sync | stat | sync
// | verify | restore | wait: the state of protections and their long
// operations.
//
// The long operations run in the service; qvctl starts them and, with
// --wait, follows them until they end. --wait attaches to an operation of
// the same kind that already runs, and `mirror wait` to whichever runs.
#include <iostream>

#include "protection.h"

namespace qvctl {
namespace {

// True when the protection of `object` is in one of `States`.
template <uint32_t... States>
bool ProtectionIn(QV_HANDLE handle, const Object& object) {
    QV_MIRROR_STAT s{};
    if (qvGetMirrorStat(handle, object.name.c_str(), object.number, &s) != QV_STATUS_SUCCESS) {
        return false;
    }
    return ((s.State == States) || ...);
}

const ObjectCommand kStateCommands[] = {
    {"disable", "Remove the protection of a disk or partition", qvDisableMirror,
     "disable the protection of {}", "Protection of {} disabled.",
     "Remove the protection of {}? Its mirror stops receiving its writes."},
    {"suspend", "Suspend mirroring; writes are remembered and copied on resume", qvSuspendMirror,
     "suspend the protection of {}", "Protection of {} suspended.", nullptr,
     ProtectionIn<kStateSuspended>, "Protection of {} is already suspended."},
    {"resume", "Resume mirroring after suspend or stop", qvResumeMirror,
     "resume the protection of {}", "Protection of {} resumed.", nullptr,
     ProtectionIn<kStateMirrored, kStateSynchronizing>, "Protection of {} is already mirroring."},
    {"stop", "Stop mirroring; resuming copies the whole primary again", qvStopMirror,
     "stop the protection of {}", "Protection of {} stopped.", nullptr, ProtectionIn<kStateStopped>,
     "Protection of {} is already stopped."},
    {"cancel-sync", "Cancel a running synchronisation", qvCancelSyncMirror,
     "cancel the synchronisation of {}", "Synchronisation of {} cancelled."},
};

// The arguments of sync, verify and restore.
struct LongArgs {
    std::string object;
    bool wait = false;
    bool progress = false;
    bool cancel = false;
    bool yes = false;
    uint32_t verify_mode = 0;
    bool verify_option1 = false;
    bool verify_option2 = false;
    int32_t restore_mode = 0;
    std::string restore_from;
    uint32_t restore_option1 = 0;
    uint32_t restore_option2 = 0;
    int32_t restore_option3 = 0;
};

using Start = std::function<void(QV_HANDLE, const Object&)>;
using Cancel = QV_STATUS (*)(QV_HANDLE, const QV_WCHAR*, uint32_t);

CLI::App* AddLongCommand(CLI::App& mirror, const LongOperation& op, const char* help,
                         LongArgs& args, Cancel cancel) {
    CLI::App* sub = mirror.add_subcommand(op.name, help);
    AddObjectArg(sub, "PRIMARY", args.object, "The protected disk or partition")->required();
    sub->add_flag("--wait", args.wait,
                  "Follow the operation until it ends (progress on stderr, on a terminal); "
                  "attaches to one that already runs");
    sub->add_flag("--progress", args.progress,
                  "Show the progress of the running (or last) operation instead of starting one");
    if (cancel != nullptr) {
        sub->add_flag("--cancel", args.cancel, "Cancel the running operation")
            ->excludes("--wait")
            ->excludes("--progress");
    }
    return sub;
}

// Asks the statistics, not the operation's own progress: a progress reader
// asked before any operation ran is refused, and the library traces that.
bool Running(QV_HANDLE h, const LongOperation& op, const Object& o) {
    QV_MIRROR_STAT s{};
    return qvGetMirrorStat(h, o.name.c_str(), o.number, &s) == QV_STATUS_SUCCESS &&
           RunningOperation(s.State) == &op;
}

void RunLong(const Globals& g, const LongArgs& args, const LongOperation& op, const Start& start,
             Cancel cancel, const std::string& confirm = {}) {
    const Object o = ObjectArg(args.object);
    Session session(g);
    const QV_HANDLE h = session.handle();
    const std::string what = std::string(op.noun) + " of " + o.text;
    if (args.cancel) {
        Check(cancel(h, o.name.c_str(), o.number),
              "cancel the " + std::string(op.name) + " of " + o.text);
        Done(g, "cancel-" + std::string(op.name), o.text, what + " cancelled.");
        return;
    }
    if (args.progress && !args.wait) {
        op.show(g, h, o);
        return;
    }
    if (args.progress) {
        // Follows what runs or ran last.
    } else if (args.wait && Running(h, op, o)) {
        std::cerr << "qvctl: " << what << " is already running; following it.\n";
    } else {
        if (!confirm.empty()) Confirm(args.yes, confirm);
        start(h, o);
        if (!args.wait) {
            Done(g, op.name, o.text, what + " started.");
            return;
        }
    }
    Follow(g, h, op, o);
}

void Stat(const Globals& g, const Object& o) {
    Session session(g);
    StatRecord r = ReadStat(session.handle(), o);
    ConfigList configs;
    ReadConfigs(session.handle(), &o, configs);
    if (const QV_MIRROR_CONFIG* c = FindConfig(configs, o)) {
        r.mirror = ObjectText(c->Mirror.name, c->Mirror.number);
    }
    PrintOne(g, StatFields(), r);
}

void Wait(const Globals& g, const Object& o) {
    Session session(g);
    const StatRecord r = ReadStat(session.handle(), o);
    if (const LongOperation* op = RunningOperation(r.stat.State)) {
        Follow(g, session.handle(), *op, o);
        return;
    }
    if (g.json) {
        PrintJson({{"object", o.text}, {"operation", nullptr}, {"state", StateName(r.stat.State)}});
    } else {
        std::cout << "No operation is running on " << o.text << "; it is "
                  << StateName(r.stat.State) << ".\n";
    }
}

}  // namespace

void AddMirrorCommands(CLI::App& mirror, Commands& commands) {
    AddObjectCommands(mirror, commands, kStateCommands);

    auto stat = std::make_shared<std::string>();
    CLI::App* st = mirror.add_subcommand("stat", "Show the state and statistics of a protection");
    AddObjectArg(st, "PRIMARY", *stat, "The protected disk or partition")->required();
    commands.Add(st, [stat](const Globals& g) { Stat(g, ObjectArg(*stat)); });

    auto wait = std::make_shared<std::string>();
    CLI::App* wa = mirror.add_subcommand(
        "wait", "Follow the synchronisation, verify or restore that runs on a protection");
    AddObjectArg(wa, "PRIMARY", *wait, "The protected disk or partition")->required();
    commands.Add(wa, [wait](const Globals& g) { Wait(g, ObjectArg(*wait)); });

    auto sync = std::make_shared<LongArgs>();
    CLI::App* sy =
        AddLongCommand(mirror, kSync, "Synchronise the mirror with its primary", *sync, nullptr);
    commands.Add(sy, [sync](const Globals& g) {
        RunLong(
            g, *sync, kSync,
            [](QV_HANDLE h, const Object& o) {
                Check(qvSyncMirror(h, o.name.c_str(), o.number),
                      "start the synchronisation of " + o.text);
            },
            nullptr);
    });

    const std::string expert = "Request fields, passed to the service as given";
    auto verify = std::make_shared<LongArgs>();
    CLI::App* ve = AddLongCommand(mirror, kVerify, "Verify that the mirror matches its primary",
                                  *verify, qvCancelVeridyData);
    auto* mode = ve->add_option("--mode", verify->verify_mode, "Verify mode")->group(expert);
    auto* o1 = ve->add_flag("--option1", verify->verify_option1, "Verify option 1")->group(expert);
    auto* o2 = ve->add_flag("--option2", verify->verify_option2, "Verify option 2")->group(expert);
    for (CLI::Option* o : {mode, o1, o2}) o->excludes("--progress")->excludes("--cancel");
    commands.Add(ve, [verify](const Globals& g) {
        RunLong(
            g, *verify, kVerify,
            [verify](QV_HANDLE h, const Object& o) {
                const QV_VERIFY_REQUEST request{QV_OBJECT_ID{o.name.c_str(), o.number},
                                                verify->verify_mode, verify->verify_option1 ? 1 : 0,
                                                verify->verify_option2 ? 1 : 0};
                Check(qvVerifyData(h, &request), "start the verify of " + o.text);
            },
            qvCancelVeridyData);
    });

    auto restore = std::make_shared<LongArgs>();
    CLI::App* re = AddLongCommand(mirror, kRestore,
                                  "Overwrite the primary with its mirror's data (asks first)",
                                  *restore, qvCancelRestorePrimary);
    AddYes(re, restore->yes);
    std::vector<CLI::Option*> restore_options = {
        AddObjectArg(re, "--from", restore->restore_from,
                     "The disk or partition to restore from (the service's choice when not given)"),
        re->add_option("--mode", restore->restore_mode, "Restore mode")->group(expert),
        re->add_option("--option1", restore->restore_option1, "Restore option 1")->group(expert),
        re->add_option("--option2", restore->restore_option2, "Restore option 2")->group(expert),
        re->add_option("--option3", restore->restore_option3, "Restore option 3")->group(expert),
    };
    for (CLI::Option* o : restore_options) o->excludes("--progress")->excludes("--cancel");
    commands.Add(re, [restore](const Globals& g) {
        const std::string from =
            restore->restore_from.empty() ? "its mirror" : restore->restore_from;
        RunLong(
            g, *restore, kRestore,
            [restore](QV_HANDLE h, const Object& o) {
                std::optional<Object> from;
                if (!restore->restore_from.empty()) from = ObjectArg(restore->restore_from);
                QV_RESTORE_REQUEST request{};
                request.Primary = QV_OBJECT_ID{o.name.c_str(), o.number};
                request.Mode = restore->restore_mode;
                if (from) request.Counterpart = QV_OBJECT_ID{from->name.c_str(), from->number};
                request.Option1 = restore->restore_option1;
                request.Option2 = restore->restore_option2;
                request.Option3 = restore->restore_option3;
                Check(qvRestorePrimary(h, &request), "start the restore of " + o.text);
            },
            qvCancelRestorePrimary,
            "Overwrite everything on " + restore->object + " with the data of " + from + "?");
    });
}

}  // namespace qvctl
