// qvctl mirror disable | suspend | resume | stop | sync | cancel-sync | stat
// | verify | restore: the state of protections and their long operations.
//
// The long operations run in the service; qvctl starts them and, with
// --wait, follows them through their progress reader until they end:
// synchronisation through the protection's statistics, verify and restore
// through their own progress records.
#include <algorithm>
#include <array>
#include <chrono>
#include <iostream>
#include <thread>

#include "qvctl.h"

namespace qvctl {
namespace {

using namespace std::chrono_literals;
constexpr auto kPollInterval = 250ms;

// The protection states as the service numbers them.
constexpr uint32_t kStateMirrored = 1;
constexpr uint32_t kStateSynchronizing = 2;

std::string StateName(uint32_t state) {
    switch (state) {
        case 1:
            return "mirrored";
        case 2:
            return "synchronizing";
        case 3:
            return "suspended";
        case 4:
            return "stopped";
        case 5:
            return "out-of-sync";
        case 9:
            return "restoring";
        case 10:
            return "verifying";
        case 11:
            return "rolling-back";
        case 12:
            return "snapshot";
        default:
            return "unknown";
    }
}

std::string ConditionName(uint32_t condition) {
    switch (condition) {
        case 1:
            return "normal";
        case 2:
            return "synchronizing";
        case 3:
            return "dirty";
        case 4:
            return "primary-unavailable";
        case 5:
            return "mirror-unavailable";
        case 6:
            return "suspended";
        case 7:
            return "stopped";
        case 8:
            return "sync-cancelled";
        case 9:
            return "maintenance";
        default:
            return "unknown";
    }
}

// The state of a verify (1 to 3) or of a restore (1 to 4).
std::string OperationStateName(uint32_t state, bool verify) {
    switch (state) {
        case 1:
            return "running";
        case 2:
            return "completed";
        case 3:
            return verify ? "error" : "cancelled";
        case 4:
            return verify ? "unknown" : "failed";
        default:
            return "unknown";
    }
}

constexpr uint32_t kOpRunning = 1;
constexpr uint32_t kOpCompleted = 2;

unsigned Percent(uint64_t done, uint64_t total, bool finished) {
    if (total == 0) return finished ? 100 : 0;
    return static_cast<unsigned>(std::min<uint64_t>(done, total) * 100 / total);
}

json VerifyJson(const QV_VERIFY_PROGRESS& p) {
    return {{"state", p.State},
            {"state_name", OperationStateName(p.State, true)},
            {"amount1_kib", p.Amount1KiB},
            {"amount2_kib", p.Amount2KiB},
            {"amount3_kib", p.Amount3KiB},
            {"value1", p.Value1},
            {"value2", p.Value2},
            {"value3", p.Value3},
            {"value4", p.Value4},
            {"value5", p.Value5},
            {"value6_kib", p.Value6KiB},
            {"count", p.Count}};
}

json ProgressJson(const QV_PROGRESS& p, bool restore) {
    json out = {{"state", p.State}};
    if (restore) out["state_name"] = OperationStateName(p.State, false);
    out["result"] = Hex8(p.Result);
    out["dirty_data"] = p.DirtyData;
    out["total_done"] = p.TotalDone;
    return out;
}

json IoJson(const QV_IO_COUNTERS& io) {
    return {{"kib1", io.KiB1},     {"kib2", io.KiB2},     {"rate1", io.Rate1},  {"rate2", io.Rate2},
            {"count1", io.Count1}, {"count2", io.Count2}, {"count3", io.Count3}};
}

json StatJson(const std::string& object, const QV_MIRROR_STAT& s) {
    json progress = nullptr;
    switch (s.ProgressKind) {
        case QV_PROGRESS_KIND_VERIFY:
            progress = VerifyJson(s.Progress.Verify);
            break;
        case QV_PROGRESS_KIND_RESTORE:
        case QV_PROGRESS_KIND_ROLLBACK:
        case QV_PROGRESS_KIND_SNAPSHOT:
            progress =
                ProgressJson(s.Progress.Operation, s.ProgressKind == QV_PROGRESS_KIND_RESTORE);
            break;
        default:
            break;
    }
    return {{"object", object},
            {"state", s.State},
            {"state_name", StateName(s.State)},
            {"condition", s.Condition},
            {"condition_name", ConditionName(s.Condition)},
            {"amount1_kib", s.Amount1KiB},
            {"amount2_kib", s.Amount2KiB},
            {"value1", s.Value1},
            {"value2", s.Value2},
            {"value3", s.Value3},
            {"value4", s.Value4},
            {"value5", s.Value5},
            {"value6", s.Value6},
            {"progress_kind", s.ProgressKind},
            {"progress", progress},
            {"io1", IoJson(s.Io1)},
            {"io2", IoJson(s.Io2)},
            {"io3", IoJson(s.Io3)},
            {"io4", IoJson(s.Io4)}};
}

std::string IoText(const QV_IO_COUNTERS& io) {
    return SizeText(io.KiB1, 1024) + " / " + SizeText(io.KiB2, 1024) + ", rates " +
           std::to_string(io.Rate1) + " / " + std::to_string(io.Rate2) + ", counts " +
           std::to_string(io.Count1) + " / " + std::to_string(io.Count2) + " / " +
           std::to_string(io.Count3);
}

// One reading of a long operation's progress.
struct Sample {
    bool running = false;
    bool completed = false;
    unsigned percent = 0;
    std::string state;
    json data;
};

// The verb of an operation in messages, and its name in JSON.
struct Operation {
    std::string name;  // "sync"
    std::string noun;  // "Synchronisation"
};

// Prints one sample: its JSON, or its fields.
void PrintSample(const Globals& globals, const Sample& sample) {
    if (globals.json) {
        PrintJson(sample.data);
        return;
    }
    std::vector<std::pair<std::string, std::string>> fields;
    for (const auto& [key, value] : sample.data.items()) {
        fields.emplace_back(key, value.is_string() ? value.get<std::string>() : value.dump());
    }
    PrintFields(fields);
}

// Reads the progress until the operation ends; Unfinished unless it
// completed.
void Follow(const Globals& globals, const Operation& op, const Object& object,
            const std::function<Sample()>& read) {
    ProgressView view(globals.json, op.name + " " + object.text);
    for (;;) {
        const Sample sample = read();
        view.Update(sample.percent, sample.state, sample.data);
        if (!sample.running) {
            view.Finish();
            if (!sample.completed) {
                throw Unfinished(op.noun + " of " + object.text +
                                 " did not complete: " + sample.state);
            }
            if (!globals.json) std::cout << op.noun << " of " << object.text << " completed.\n";
            return;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

Sample SyncSample(QV_HANDLE handle, const Object& object) {
    QV_MIRROR_STAT stat{};
    Check(qvGetMirrorStat(handle, object.name.c_str(), object.number, &stat),
          "read the statistics of " + object.text);
    Sample s;
    s.running = stat.State == kStateSynchronizing;
    s.completed = stat.State == kStateMirrored;
    // Amount1 is what the protection holds, Amount2 what has not reached
    // the mirror yet.
    s.percent = Percent(stat.Amount1KiB - std::min(stat.Amount1KiB, stat.Amount2KiB),
                        stat.Amount1KiB, !s.running);
    s.state = StateName(stat.State);
    s.data = {{"operation", "sync"},
              {"object", object.text},
              {"state", stat.State},
              {"state_name", s.state},
              {"percent", s.percent},
              {"running", s.running},
              {"amount1_kib", stat.Amount1KiB},
              {"amount2_kib", stat.Amount2KiB}};
    return s;
}

Sample VerifySample(QV_HANDLE handle, const Object& object) {
    QV_VERIFY_PROGRESS p{};
    Check(qvGetVerifyProgress(handle, object.name.c_str(), object.number, &p),
          "read the verify progress of " + object.text);
    Sample s;
    s.running = p.State == kOpRunning;
    s.completed = p.State == kOpCompleted;
    // Amount1 has been compared of Amount2 in all.
    s.percent = Percent(p.Amount1KiB, p.Amount2KiB, s.completed);
    s.state = OperationStateName(p.State, true);
    s.data = {{"operation", "verify"},
              {"object", object.text},
              {"percent", s.percent},
              {"running", s.running}};
    s.data.update(VerifyJson(p));
    return s;
}

Sample RestoreSample(QV_HANDLE handle, const Object& object) {
    QV_PROGRESS p{};
    Check(qvGetRestorePrimaryProgress(handle, object.name.c_str(), object.number, &p),
          "read the restore progress of " + object.text);
    Sample s;
    s.running = p.State == kOpRunning;
    s.completed = p.State == kOpCompleted;
    // TotalDone has been copied, DirtyData is left.
    s.percent = Percent(p.TotalDone, uint64_t{p.TotalDone} + p.DirtyData, s.completed);
    s.state = OperationStateName(p.State, false);
    s.data = {{"operation", "restore"},
              {"object", object.text},
              {"percent", s.percent},
              {"running", s.running}};
    s.data.update(ProgressJson(p, true));
    return s;
}

void Stat(const Globals& globals, const Object& object) {
    Session session(globals);
    QV_MIRROR_STAT s{};
    Check(qvGetMirrorStat(session.handle(), object.name.c_str(), object.number, &s),
          "read the statistics of " + object.text);
    if (globals.json) {
        PrintJson(StatJson(object.text, s));
        return;
    }
    std::vector<std::pair<std::string, std::string>> fields = {
        {"Protection", object.text},
        {"State", StateName(s.State) + " (" + std::to_string(s.State) + ")"},
        {"Condition", ConditionName(s.Condition) + " (" + std::to_string(s.Condition) + ")"},
        {"Amount1", SizeText(s.Amount1KiB, 1024)},
        {"Amount2", SizeText(s.Amount2KiB, 1024)},
    };
    const std::array<uint32_t, 6> values{s.Value1, s.Value2, s.Value3,
                                         s.Value4, s.Value5, s.Value6};
    for (std::size_t i = 0; i < values.size(); ++i) {
        fields.emplace_back("Value" + std::to_string(i + 1), std::to_string(values[i]));
    }
    if (s.ProgressKind == QV_PROGRESS_KIND_VERIFY) {
        const QV_VERIFY_PROGRESS& p = s.Progress.Verify;
        fields.emplace_back(
            "Verify",
            OperationStateName(p.State, true) + ", " +
                std::to_string(Percent(p.Amount1KiB, p.Amount2KiB, p.State == kOpCompleted)) + "%");
    } else if (s.ProgressKind != QV_PROGRESS_KIND_NONE) {
        const QV_PROGRESS& p = s.Progress.Operation;
        static constexpr std::array<const char*, 5> kKinds{"", "", "Restore", "Rollback",
                                                           "Snapshot"};
        const char* kind = s.ProgressKind < kKinds.size() ? kKinds[s.ProgressKind] : "Progress";
        fields.emplace_back(kind, "state " + std::to_string(p.State) + ", " +
                                      std::to_string(p.TotalDone) + " done, " +
                                      std::to_string(p.DirtyData) + " left");
    }
    fields.emplace_back("Io1", IoText(s.Io1));
    fields.emplace_back("Io2", IoText(s.Io2));
    fields.emplace_back("Io3", IoText(s.Io3));
    fields.emplace_back("Io4", IoText(s.Io4));
    PrintFields(fields);
}

using StateOp = QV_STATUS (*)(QV_HANDLE, const QV_WCHAR*, uint32_t);

struct StateCommand {
    const char* name;
    const char* help;
    StateOp call;
    const char* doing;  // "suspend the protection of"
    const char* done;   // "Protection of %s suspended."
    const char* done_tail;
};

constexpr std::array<StateCommand, 5> kStateCommands{{
    {"disable", "Remove the protection of a disk or partition", qvDisableMirror,
     "disable the protection of ", "Protection of ", " disabled."},
    {"suspend", "Suspend mirroring", qvSuspendMirror, "suspend the protection of ",
     "Protection of ", " suspended."},
    {"resume", "Resume mirroring", qvResumeMirror, "resume the protection of ", "Protection of ",
     " resumed."},
    {"stop", "Stop mirroring", qvStopMirror, "stop the protection of ", "Protection of ",
     " stopped."},
    {"cancel-sync", "Cancel a running synchronisation", qvCancelSyncMirror,
     "cancel the synchronisation of ", "Synchronisation of ", " cancelled."},
}};

// The arguments of sync, verify and restore.
struct LongArgs {
    std::string object;
    bool wait = false;
    bool progress = false;
    bool cancel = false;
    uint32_t verify_mode = 0;
    bool verify_option1 = false;
    bool verify_option2 = false;
    int32_t restore_mode = 0;
    std::string restore_from;
    uint32_t restore_option1 = 0;
    uint32_t restore_option2 = 0;
    int32_t restore_option3 = 0;
};

CLI::App* AddLongCommand(CLI::App& mirror, const char* name, const char* help, LongArgs& args,
                         bool cancellable) {
    CLI::App* sub = mirror.add_subcommand(name, help);
    AddObjectArg(sub, "PRIMARY", args.object, "The protected disk or partition")->required();
    sub->add_flag("--wait", args.wait, "Follow the operation until it ends");
    sub->add_flag("--progress", args.progress,
                  "Show the progress of the running (or last) operation instead of starting one");
    if (cancellable) {
        sub->add_flag("--cancel", args.cancel, "Cancel the running operation")
            ->excludes("--wait")
            ->excludes("--progress");
    }
    return sub;
}

void RunLong(const Globals& globals, const LongArgs& args, const Operation& op,
             const std::function<void(QV_HANDLE, const Object&)>& start,
             const std::function<void(QV_HANDLE, const Object&)>& cancel,
             const std::function<Sample(QV_HANDLE, const Object&)>& read) {
    const Object object = ObjectArg(args.object);
    Session session(globals);
    const QV_HANDLE h = session.handle();
    if (args.cancel) {
        cancel(h, object);
        Done(globals, "cancel-" + op.name, object.text,
             op.noun + " of " + object.text + " cancelled.");
        return;
    }
    if (!args.progress) {
        start(h, object);
        if (!args.wait) {
            Done(globals, op.name, object.text, op.noun + " of " + object.text + " started.");
            return;
        }
    }
    if (args.wait) {
        Follow(globals, op, object, [&] { return read(h, object); });
    } else {
        PrintSample(globals, read(h, object));
    }
}

}  // namespace

void AddMirrorCommands(CLI::App& mirror, Commands& commands) {
    for (const StateCommand& sc : kStateCommands) {
        auto object = std::make_shared<std::string>();
        CLI::App* sub = mirror.add_subcommand(sc.name, sc.help);
        AddObjectArg(sub, "PRIMARY", *object, "The protected disk or partition")->required();
        commands.Add(sub, [object, &sc](const Globals& g) {
            const Object o = ObjectArg(*object);
            Session session(g);
            Check(sc.call(session.handle(), o.name.c_str(), o.number), sc.doing + o.text);
            Done(g, sc.name, o.text, sc.done + o.text + sc.done_tail);
        });
    }

    auto stat = std::make_shared<std::string>();
    CLI::App* st = mirror.add_subcommand("stat", "Show the state and statistics of a protection");
    AddObjectArg(st, "PRIMARY", *stat, "The protected disk or partition")->required();
    commands.Add(st, [stat](const Globals& g) { Stat(g, ObjectArg(*stat)); });

    auto sync = std::make_shared<LongArgs>();
    CLI::App* sy =
        AddLongCommand(mirror, "sync", "Synchronise the mirror with its primary", *sync, false);
    commands.Add(sy, [sync](const Globals& g) {
        RunLong(
            g, *sync, {"sync", "Synchronisation"},
            [](QV_HANDLE h, const Object& o) {
                Check(qvSyncMirror(h, o.name.c_str(), o.number),
                      "start the synchronisation of " + o.text);
            },
            nullptr, SyncSample);
    });

    auto verify = std::make_shared<LongArgs>();
    CLI::App* ve = AddLongCommand(mirror, "verify", "Verify that the mirror matches its primary",
                                  *verify, true);
    const std::string how = "Operation";
    auto* mode = ve->add_option("--mode", verify->verify_mode, "Verify mode")->group(how);
    auto* o1 = ve->add_flag("--option1", verify->verify_option1, "Verify option 1")->group(how);
    auto* o2 = ve->add_flag("--option2", verify->verify_option2, "Verify option 2")->group(how);
    for (CLI::Option* o : {mode, o1, o2}) o->excludes("--progress")->excludes("--cancel");
    commands.Add(ve, [verify](const Globals& g) {
        RunLong(
            g, *verify, {"verify", "Verify"},
            [verify](QV_HANDLE h, const Object& o) {
                const QV_VERIFY_REQUEST request{QV_OBJECT_ID{o.name.c_str(), o.number},
                                                verify->verify_mode, verify->verify_option1 ? 1 : 0,
                                                verify->verify_option2 ? 1 : 0};
                Check(qvVerifyData(h, &request), "start the verify of " + o.text);
            },
            [](QV_HANDLE h, const Object& o) {
                Check(qvCancelVeridyData(h, o.name.c_str(), o.number),
                      "cancel the verify of " + o.text);
            },
            VerifySample);
    });

    auto restore = std::make_shared<LongArgs>();
    CLI::App* re =
        AddLongCommand(mirror, "restore", "Restore the primary from its mirror", *restore, true);
    std::vector<CLI::Option*> restore_options = {
        AddObjectArg(re, "--from", restore->restore_from,
                     "The disk or partition to restore from (the service's choice when not given)"),
        re->add_option("--mode", restore->restore_mode, "Restore mode"),
        re->add_option("--option1", restore->restore_option1, "Restore option 1"),
        re->add_option("--option2", restore->restore_option2, "Restore option 2"),
        re->add_option("--option3", restore->restore_option3, "Restore option 3"),
    };
    for (CLI::Option* o : restore_options) {
        o->group(how)->excludes("--progress")->excludes("--cancel");
    }
    commands.Add(re, [restore](const Globals& g) {
        RunLong(
            g, *restore, {"restore", "Restore"},
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
            [](QV_HANDLE h, const Object& o) {
                Check(qvCancelRestorePrimary(h, o.name.c_str(), o.number),
                      "cancel the restore of " + o.text);
            },
            RestoreSample);
    });
}

}  // namespace qvctl
