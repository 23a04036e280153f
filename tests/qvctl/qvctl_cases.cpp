// qvctl against a real quarvane-sim, from tables of cases. Each row is one
// qvctl command line with what it must exit with, what its JSON output
// (the last line of stdout) must hold, and what stdout or stderr must say.
// The rows of a table run in order against one daemon, so a table is a
// scenario.
#include <gtest/gtest.h>
#include <qvcliapi.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "../sim/processes.h"

namespace qvctltest {
namespace {

using nlohmann::json;
using namespace qvtest;

// Runs the built qvctl (qvtest::Run).
RunResult RunQvctl(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env, const RunOptions& options = {}) {
    return Run(QVCTL_EXE, args, env, options);
}

struct Case {
    std::vector<std::string> args;
    int exit_code = 0;
    // JSON pointer into the last line of stdout, and the value it must hold.
    std::vector<std::pair<std::string, json>> expect = {};
    std::string out_has = {};  // text stdout must contain
    std::string err_has = {};  // text stderr must contain
    RunOptions run = {};
    std::string out_lacks = {};  // text stdout must not contain
};

constexpr uint64_t kMiB = 1048576;
// A row that restarts the daemon (Qvctl::Restart) between the rows around it.
const Case kRestart = {{"(restart the daemon)"}};

// The daemon's disks: a system disk, a disk with two partitions and a free
// disk; names and labels beyond ASCII travel through UTF-16 both ways.
constexpr const char* kInventory = R"({
  "disks": [
    { "number": 0, "name": "Disk0", "size_mib": 10000, "system": true,
      "partitions": [ { "number": 1, "letters": "C:", "label": "System", "size_mib": 4000,
                        "used_mib": 3000 } ] },
    { "number": 1, "name": "Disk1", "size_mib": 8000,
      "partitions": [ { "number": 1, "letters": "E:", "label": "Data", "size_mib": 1000,
                        "used_mib": 600 },
                      { "number": 2, "letters": "F:", "label": "Données", "size_mib": 3000 } ] },
    { "number": 2, "name": "Диск2", "size_mib": 8000 }
  ]
})";

class Qvctl : public ::testing::Test {
  protected:
    // Starts the daemon: slow enough that --wait sees an operation run, quick
    // enough that each one ends within a second or two.
    void StartDaemon(std::vector<std::string> login = {"--user", "operator", "--password",
                                                       "pässword"},
                     const char* disks = kInventory) {
        const auto inventory = dir_.Write("inventory.json", disks);
        login.insert(login.end(), {"--inventory", inventory, "--state-file",
                                   (dir_.path() / "state.json").string(), "--rate", "1000"});
        daemon_args_ = login;
        daemon_ = std::make_unique<Daemon>(login);
        env_["QVCTL_PORT"] = std::to_string(daemon_->port);
    }

    // Kills the daemon outright and starts it again on its state file: what
    // it answered must have been saved, and no temporary file left behind.
    void Restart() {
        daemon_->Stop(SIGKILL);
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.find("state") == std::string::npos || name == "state.json" ||
                        name == "state.json.lock")
                << name;
        }
        daemon_ = std::make_unique<Daemon>(daemon_args_);
        env_["QVCTL_PORT"] = std::to_string(daemon_->port);
    }

    void RunTable(const std::vector<Case>& table) {
        for (const Case& c : table) Run(c);
    }

    void Run(const Case& c) {
        if (c.args == kRestart.args) return Restart();
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        SCOPED_TRACE("qvctl " + line);
        const RunResult r = RunQvctl(c.args, env_, c.run);
        ASSERT_EQ(r.exit_code, c.exit_code) << "stdout:\n" << r.out << "stderr:\n" << r.err;
        EXPECT_NE(r.out.find(c.out_has), std::string::npos) << "no \"" << c.out_has << "\" in:\n"
                                                            << r.out;
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << "no \"" << c.err_has << "\" in:\n"
                                                            << r.err;
        if (!c.out_lacks.empty()) {
            EXPECT_EQ(r.out.find(c.out_lacks), std::string::npos) << r.out;
        }
        if (c.exit_code != 0 && c.expect.empty() && c.out_has.empty()) {
            EXPECT_EQ(r.out, "") << "a failure writes nothing on stdout";
        }
        if (c.expect.empty()) return;

        // Every line is a JSON document; the last one is checked.
        json last;
        std::istringstream lines(r.out);
        for (std::string l; std::getline(lines, l);) {
            last = json::parse(l, nullptr, false);
            ASSERT_FALSE(last.is_discarded()) << "not JSON: " << l;
        }
        for (const auto& [pointer, value] : c.expect) {
            const json::json_pointer p(pointer);
            ASSERT_TRUE(last.contains(p)) << pointer << " missing in " << last.dump();
            EXPECT_EQ(last.at(p), value) << pointer << " in " << last.dump();
        }
    }

    TempDir dir_;
    std::unique_ptr<Daemon> daemon_;
    std::vector<std::string> daemon_args_;
    std::map<std::string, std::string> env_ = {
        {"QVCTL_HOST", "127.0.0.1"},
        {"QVCTL_USER", "operator"},
        {"QVCTL_PASSWORD", "pässword"},
        // The library's trace file stays out of the machine's directories.
        {"QUARVANE_PARAMETERS", "/nonexistent/qvctl-test.ini"},
    };
};

const std::string kOk = "00000000";

TEST_F(Qvctl, Walkthrough) {
    StartDaemon();
    RunTable({
        {{"disks", "--json"},
         0,
         {{"/0/object", "Disk0"},
          {"/1/object", "Disk0:1"},
          {"/1/name", "Disk 0 Partition 1 - System (C:)"},
          {"/1/size_bytes", 4000 * kMiB},
          {"/1/used_bytes", 3000 * kMiB},
          {"/4/name", "Disk 1 Partition 2 - Données (F:)"},
          {"/5/object", "Диск2"}}},
        {{"disks", "-H", "-p", "-o", "object,size"}, 0, {}, "Disk0:1\t4194304000\nDisk1\t"},
        {{"disks", "--kind", "disks", "-H", "-o", "object"}, 0, {}, "Disk0\nDisk1\nДиск2\n"},
        {{"disks", "--kind", "raw:5", "-o", "object"}, 0, {}, "OBJECT\nDisk0\nDisk1\nДиск2\n"},
        {{"disks", "-o", "object,nope"}, 2, {}, {}, "no field 'nope'"},
        {{"mirror", "enable", "Disk1:1", "Диск2", "--copy-limit", "1000", "--raw",
          "text1=nota bene", "--raw", "text3=", "--raw", "text4=quatre été", "--json"},
         0,
         {{"/operation", "enable"}, {"/object", "Disk1:1"}, {"/status", kOk}, {"/changed", true}}},
        // A new protection's data trace settings; none without one.
        {{"trace-config", "get", "Disk1:1", "--json"}, 0, {{"/count", 5}, {"/text", nullptr}}},
        {{"trace-config", "get", "Nope"}, 5, {}, {}, "6FFC0010"},
        {{"mirror", "list", "--json"},
         0,
         {{"/0/primary", "Disk1:1"},
          {"/0/mirror", "Диск2"},
          {"/0/copy_limit_bytes_per_second", 1000 * kMiB},
          {"/0/text1", "nota bene"},
          {"/0/text2", nullptr}}},
        // A new protection starts with its first synchronisation: follow it.
        {{"mirror", "sync", "Disk1:1", "--progress", "--wait", "--json"},
         0,
         {{"/operation", "sync"}, {"/state", "mirrored"}, {"/synced_percent", 100}}},
        {{"mirror", "sync", "Disk1:1", "--wait", "--json"}, 0, {{"/state", "mirrored"}}},
        {{"mirror", "stat", "Disk1:1", "--json"},
         0,
         {{"/mirror", "Диск2"},
          {"/condition", "normal"},
          {"/protected_bytes", 1000 * kMiB},
          {"/out_of_sync_bytes", 0},
          {"/syncs_completed", 2},
          {"/operation", nullptr}}},
        {{"mirror", "verify", "Disk1:1", "--wait", "--json"},
         0,
         {{"/operation", "verify"}, {"/state", "completed"}, {"/progress_percent", 100}}},
        {{"mirror", "verify", "Disk1:1", "--progress", "-o", "state,compared"},
         0,
         {},
         "State:     completed\nCompared:  1000.0 MiB\n"},
        {{"mirror", "restore", "Disk1:1"}, 2, {}, {}, "confirm with --yes"},
        {{"mirror", "restore", "Disk1:1", "--yes", "--wait", "--json"},
         0,
         {{"/operation", "restore"}, {"/state", "completed"}, {"/done_bytes", 1000 * kMiB}}},
        // change keeps the fields it is not given, and needs one.
        {{"mirror", "change", "Disk1:1"}, 2, {}, {}, "nothing to change"},
        {{"mirror", "change", "Disk1:1", "--raw", "setting1=-5", "--raw", "setting12=120", "--raw",
          "switch1=on"},
         0},
        {{"trace-config", "set", "Disk1:1"}, 2, {}, {}, "nothing to change"},
        {{"trace-config", "set", "Disk1:1", "--text", "journal ✓", "--count", "3"}, 0},
        {{"trace-config", "set", "Disk1:1", "--option", "7"}, 0},
        // All of it is kept in the state file (as UTF-8).
        kRestart,
        {{"trace-config", "get", "Disk1:1", "--json"},
         0,
         {{"/option", 7}, {"/text", "journal ✓"}, {"/count", 3}}},
        {{"mirror", "list", "Disk1:1", "--json"},
         0,
         {{"/0/setting1", -5},
          {"/0/setting12", 120},
          {"/0/switch1", true},
          {"/0/copy_limit_bytes_per_second", 1000 * kMiB},
          {"/0/text1", "nota bene"},
          {"/0/text3", ""},
          {"/0/text4", "quatre été"}}},
        // By object: the partition or its disk, nothing elsewhere.
        {{"mirror", "list", "Disk1", "-H", "-o", "primary"}, 0, {}, "Disk1:1\n"},
        {{"mirror", "list", "Disk1:2", "--json"}, 0, {{"", json::array()}}},
        {{"mirror", "list", "Nope"}, 5, {}, {}, "6FFC0010"},
        // Asking for the state a protection is in succeeds and says so.
        {{"mirror", "suspend", "Disk1:1"}, 0, {}, "Protection of Disk1:1 suspended."},
        {{"mirror", "suspend", "Disk1:1", "--json"}, 0, {{"/changed", false}}},
        {{"mirror", "resume", "Disk1:1"}, 0, {}, "resumed."},
        {{"mirror", "resume", "Disk1:1"}, 0, {}, "Protection of Disk1:1 is already mirroring."},
        {{"mirror", "stop", "Disk1:1"}, 0},
        kRestart,
        {{"mirror", "stop", "Disk1:1"}, 0, {}, "is already stopped."},
        {{"mirror", "disable", "Disk1:1"}, 2, {}, {}, "Remove the protection of Disk1:1?"},
        {{"mirror", "disable", "Disk1:1", "--yes", "--json"}, 0, {{"/status", kOk}}},
        // Its data trace settings went with it.
        {{"trace-config", "get", "Disk1:1"}, 5, {}, {}, "6FFC0040"},
        kRestart,
        {{"mirror", "list", "--json"}, 0, {{"", json::array()}}},
        {{"mirror", "enable", "Disk1:1", "Диск2"}, 0},
        {{"trace-config", "get", "Disk1:1", "--json"}, 0, {{"/count", 5}, {"/text", nullptr}}},
    });
}

// Take a snapshot, mount it as a view, list the view disks, unmount, roll
// back, read the notifications; status counts snapshots and views.
TEST_F(Qvctl, SnapshotWalkthrough) {
    StartDaemon();
    RunTable({
        {{"snapshot", "take", "Диск2"}, 5, {}, {}, "6FFC0040"},
        {{"mirror", "enable", "Disk1:1", "Диск2"}, 0, {}, "enabled"},
        {{"mirror", "sync", "Disk1:1", "--progress", "--wait", "--json"},
         0,
         {{"/state", "mirrored"}}},
        {{"snapshot", "take", "Disk1:1", "--wait", "--json"},
         0,
         {{"/state", "completed"}, {"/progress_percent", 100}, {"/done_bytes", 1000 * 1048576}}},
        // What happened so far is in the service's event log.
        {{"events", "list", "-H", "-o", "number,type,code,subject,text"},
         0,
         {},
         "1\tinformation\t400003E8\tDisk1:1\tProtection of Disk1:1 on Диск2 enabled.\n"
         "2\tinformation\t40010001\tDisk1:1\tSynchronization of Disk1:1 finished.\n"
         "3\tinformation\t40020001\tDisk1:1\tSnapshot of Disk1:1 taken.\n"},
        {{"snapshot", "list", "Disk1:1", "--json"},
         0,
         {{"/0/id", 1}, {"/0/name", "Snapshot 1"}, {"/0/view", nullptr}}},
        {{"view", "mount", "Disk1:1", "1", "--name", "Matin", "--json"}, 0, {{"/status", kOk}}},
        {{"view", "mount", "Disk1:1", "1", "--name", "Matin"}, 5, {}, {}, "6FFC0506"},
        {{"notifications", "--json"},
         0,
         {{"/0/text", "Disk1:1: synchronisation finished"},
          {"/1/sequence", 2},
          {"/1/text", "Disk1:1: snapshot 1 taken"}}},
        // Snapshots and their views are kept in the state file; notifications
        // live in the daemon's memory only, and what was raised before is not
        // raised again.
        kRestart,
        {.args = {"notifications", "-H", "-o", "text"}, .out_lacks = "finished"},
        {{"snapshot", "list", "Disk1:1", "--json"},
         0,
         {{"/0/name", "Snapshot 1"}, {"/0/view", "Matin"}}},
        {{"view", "list", "Disk1:1", "--json"}, 0, {{"/0/view", "Matin"}}},
        {{"view", "list", "Disk1:1", "1", "--json"},
         0,
         {{"/0/object", "Backlook100"},
          {"/1/object", "Backlook100:1"},
          {"/1/name", "Disk 100 Partition 1 - Matin (E:)"}}},
        {{"status", "--json"},
         0,
         {{"/0/primary", "Disk1:1"}, {"/0/snapshots", 1}, {"/0/views", 1}}},
        {{"rollback", "Disk1:1", "1", "--yes"}, 5, {}, {}, "6FFC0401"},
        {{"view", "unmount", "Disk1:1", "1"}, 0, {}, "unmounted"},
        {{"view", "unmount", "Disk1:1", "1"}, 5, {}, {}, "6FFC0507"},
        {{"view", "list", "Disk1:1", "1"}, 5, {}, {}, "6FFC0507"},
        // Rolling back asks first; without a terminal only --yes answers.
        {{"rollback", "Disk1:1", "1"}, 2, {}, {}, "--yes"},
        {{"rollback", "Disk1:1", "1", "--yes", "--wait", "--json"},
         0,
         {{"/state", "completed"}, {"/done_bytes", 1000 * 1048576}}},
        {{"rollback", "Disk1:1", "8", "--yes"}, 5, {}, {}, "6FFC0400"},
        {{"schedule", "set", "Disk1:1", "--mode", "2", "--param1", "30", "--json"},
         0,
         {{"/status", kOk}}},
        {{"schedule", "show", "Disk1:1", "--json"},
         0,
         {{"/in_force", true}, {"/mode", 2}, {"/param1", 30}}},
        {{"schedule", "remove", "Disk1:1"}, 0, {}, "removed"},
        {{"schedule", "show", "Disk1:1", "--json"}, 0, {{"/in_force", false}, {"/mode", 2}}},
        {{"schedule", "remove", "Диск2"}, 5, {}, {}, "6FFC0040"},
        {{"snapshot", "delete", "Disk1:1", "1", "--yes", "--json"}, 0, {{"/status", kOk}}},
        {{"snapshot", "delete", "Disk1:1", "1", "--yes"}, 5, {}, {}, "6FFC0400"},
        {{"snapshot", "list", "Disk1:1", "--json"}, 0, {{"", json::array()}}},
        {{"snapshot", "cancel", "Disk1:1"}, 5, {}, {}, "6FFC0067"},
        // No number is given twice, also after a restart.
        kRestart,
        {{"snapshot", "take", "Disk1:1", "--wait"}, 0},
        {{"snapshot", "list", "Disk1:1", "--json"}, 0, {{"/0/id", 2}}},
    });
}

TEST_F(Qvctl, PartitionsAndDiskMaintenance) {
    StartDaemon();
    RunTable({
        {{"partition", "alloc", "Диск2", "--size", "1000", "--fs", "1"}, 0, {}, "allocated"},
        {{"partition", "expand", "Диск2:1", "500", "--json"}, 0, {{"/status", kOk}}},
        // The rest of the disk, then nothing is free.
        {{"partition", "alloc", "Диск2", "--size", "0", "--fs", "1"}, 0, {}, "allocated"},
        {{"partition", "expand", "Диск2:1", "1"}, 5, {}, {}, "6FFC0503"},
        {{"partition", "alloc", "Диск2", "--size", "1000", "--fs", "1"}, 5, {}, {}, "6FFC0503"},
        {{"partition", "relocate", "Диск2:1", "7000"}, 5, {}, {}, "6FFC0503"},
        {{"disks", "--kind", "object", "--object", "Диск2:1", "--json"},
         0,
         {{"/0/size_bytes", 1500 * 1048576}}},
        {{"partition", "relocate", "Disk1:2", "4500"}, 0},
        {{"disk", "throughput", "Disk1", "--json"},  // the speed of the default bus
         0,
         {{"/object", "Disk1"}, {"/throughput_bytes_per_second", 1100 * kMiB}}},
        {{"disk", "bench", "Disk1"}, 0, {}, "done"},
        {{"disk", "bench", "Nope"}, 5, {}, {}, "6FFC0010"},
        {{"cluster", "info"}, 5, {}, {}, "6FFC0701"},
        {{"cluster", "failover", "SQL", "--yes"}, 5, {}, {}, "6FFC0701"},
        {{"disk", "conflicts", "Disk1:1", "Диск2", "--json"}, 0, {{"", json::array()}}},
    });
}

TEST_F(Qvctl, ServiceRefusalsAndConnectionFailures) {
    StartDaemon();
    const LoopbackSocket closed(false);
    RunTable({
        // Names are kept as the inventory spells them.
        {{"mirror", "enable", "disk1:1", "Диск2"}, 0, {}, "enabled"},
        {{"mirror", "list", "-H", "-o", "primary"}, 0, {}, "Disk1:1\n"},
        {{"mirror", "enable", "Disk1:1", "Диск2", "--json"},
         5,
         {},
         {},
         "The specified protected disk already exists. (error 6FFC0041)"},
        {{"partition", "relocate", "Disk1:1", "5000"}, 5, {}, {}, "(error 6FFC0506)"},
        // A restore from the mirror's disk would disturb the protection using it.
        {{"disk", "conflicts", "Disk0:1", "Диск2", "-H", "-o", "object,value"},
         0,
         {},
         "Disk1:1\t0\n"},
        {{"mirror", "change", "Disk1:2", "--copy-limit", "5"}, 5, {}, {}, "(error 6FFC0040)"},
        {{"mirror", "restore", "Disk1:1", "--progress"}, 5, {}, {}, "No task is running."},
        {{"disks", "--kind", "object", "--object", "Disk1:9"}, 5, {}, {}, "(error 6FFC0011)"},
        {{"--password", "wrong", "disks"}, 4, {}, {}, "login refused for user 'operator'"},
        {{"--password", "pässword ", "disks"}, 4, {}, {}, "login refused"},
        {{"--user", "OPERATOR", "disks"}, 4, {}, {}, "login refused"},
        {{"--port", std::to_string(closed.port), "mirror", "list"},
         3,
         {},
         {},
         "the service is unreachable (nothing accepts connections; is it running?) (error "
         "6FFC8001)"},
        {{"--host", "no-such-host.invalid", "disks"},
         3,
         {},
         {},
         "cannot resolve host 'no-such-host.invalid' (error 6FFC8002)"},
        {{"--host", "::1", "disks"}, 3, {}, {}, "'::1' is an IPv6 address"},
        {{"disks"},
         1,
         {},
         {},
         "cannot write the output: No space left",
         RunOptions{.full_stdout = true}},
    });
}

TEST_F(Qvctl, FirstMinutesWithTheSampleLogin) {
    StartDaemon({});
    const auto password = dir_.Write("password", "secret\n");
    env_["QVCTL_USER"] = "";  // unset: empty variables count as not given
    env_["QVCTL_PASSWORD"] = "";
    RunTable({
        {{"status"}, 0, {}, "PRIMARY", "no protections yet"},
        {{"--user", "admin", "disks"}, 2, {}, {}, "no password for admin"},
        {{"--user", "admin", "--password-file", password, "disks", "-H", "-o", "object"},
         0,
         {},
         "Disk1:1\n"},
        {{"--user", "admin", "disks"},
         0,
         {},
         "Disk1:1",
         "Password for admin at 127.0.0.1: ",
         RunOptions{.input = "secret\n", .terminal = true},
         "secret"},
        {{"--version"}, 0, {}, std::string("qvctl ") + QV_VERSION_STRING + "\n"},
        {{"disks-list"},
         2,
         {},
         {},
         "unknown command 'disks-list' for 'qvctl', did you mean 'disks'?"},
        {{"-j", "mirror", "stats", "Disk1:1"}, 2, {}, {}, "did you mean 'stat'?"},
        {{"message", "6FFC8004"}, 0, {}, "lost the connection to the service\n"},
        {{"message", "0x6FFC0010", "--json"},
         0,
         {{"/status", "6FFC0010"}, {"/message", "Unable to find the specified disk."}}},
    });
}

TEST_F(Qvctl, LongOperationsOnTerminalsAndFromOtherShells) {
    StartDaemon();
    const auto cancel_verify = [this](pid_t) {
        EXPECT_EQ(RunQvctl({"mirror", "verify", "Disk1:1", "--cancel"}, env_).exit_code, 0);
    };
    RunTable({
        // A first synchronisation capped at 1 MiB/s goes on after a restart,
        // and once uncapped ends, counted once.
        {{"mirror", "enable", "Disk1:1", "Диск2", "--copy-limit", "1"}, 0},
        kRestart,
        {{"status", "-H", "-o", "state,operation"}, 0, {}, "synchronizing\tsync\n"},
        {{"mirror", "change", "Disk1:1", "--copy-limit", "1000"}, 0},
        {{"mirror", "wait", "Disk1:1"}, 0, {}, "Synchronisation of Disk1:1 completed.\n"},
        {{"mirror", "stat", "Disk1:1", "--json"}, 0, {{"/syncs_completed", 1}}},
        // On a terminal the bar goes to stderr; stdout gets the outcome only.
        {{"mirror", "verify", "Disk1:1", "--wait"},
         0,
         {},
         "Verify of Disk1:1 completed.\n",
         "verify Disk1:1 [",
         RunOptions{.terminal = true},
         "["},
        {{"mirror", "restore", "Disk1:1"},
         1,
         {},
         {},
         "not confirmed",
         RunOptions{.input = "n\n", .terminal = true}},
        {{"mirror", "restore", "Disk1:1"},
         0,
         {},
         "Restore of Disk1:1 started.",
         "with the data of its mirror? [y/N]",
         RunOptions{.input = "y\n", .terminal = true}},
        {{"mirror", "wait", "Disk1:1", "--json"},
         0,
         {{"/operation", "restore"}, {"/state", "completed"}}},
        {{"snapshot", "take", "Disk1:1", "--wait"}, 0},
        // Slow enough to watch: 20 MiB/s.
        {{"mirror", "change", "Disk1:1", "--copy-limit", "20"}, 0},
        // A snapshot cancelled on its way leaves none.
        {{"snapshot", "take", "Disk1:1"}, 0},
        {{"snapshot", "cancel", "Disk1:1"}, 0},
        {{"snapshot", "take", "Disk1:1", "--progress", "--json"}, 0, {{"/state", "cancelled"}}},
        {.args = {"snapshot", "list", "Disk1:1", "-H", "-o", "id"},
         .out_has = "1\n",
         .out_lacks = "2"},
        // A rollback is left running when following it stops; it is cancelled apart.
        {{"rollback", "Disk1:1", "1", "--yes", "--wait", "--json"},
         130,
         {{"/state", "running"}},
         {},
         "keeps running in the service.\nCancel it with: qvctl snapshot cancel-rollback Disk1:1",
         RunOptions{.steps = {{"running", Interrupt}}}},
        {{"snapshot", "cancel-rollback", "Disk1:1"}, 0, {}, "Rollback of Disk1:1 cancelled."},
        {{"mirror", "verify", "Disk1:1", "--mode", "2", "--wait", "--json"},
         130,
         {{"/state", "running"}},
         {},
         "keeps running in the service.\nFollow it again with: qvctl mirror wait Disk1:1",
         RunOptions{.steps = {{"running", Interrupt}}}},
        {{"status", "-H", "-o", "primary,state,operation,rate"},
         0,
         {},
         "Disk1:1\tverifying\tverify\t20.0 MiB/s\n"},
        {{"mirror", "verify", "Disk1:1", "--progress", "--json"},
         0,
         {{"/state", "running"}, {"/total_bytes", 1000 * kMiB}, {"/mode", 2}}},
        {{"status", "--watch", "1", "-H", "-o", "primary"},
         0,
         {},
         "Disk1:1\n\nDisk1:1\n",
         {},
         RunOptions{.steps = {{"\n\nDisk1:1", Interrupt}}}},
        {{"mirror", "verify", "Disk1:1", "--wait", "--json"},
         1,
         {{"/state", "cancelled"}},
         {},
         "Verify of Disk1:1 was cancelled before it completed.",
         RunOptions{.steps = {{"running", cancel_verify}}}},
        {{"mirror", "verify", "Disk1:1", "--cancel"}, 5, {}, {}, "6FFC0067"},
        // A restore only from the protection's mirror; cancelled, it leaves the protection
        // suspended.
        {{"mirror", "restore", "Disk1:1", "--from", "Disk1:2", "--yes"}, 5, {}, {}, "6FFC0300"},
        {{"mirror", "restore", "Disk1:1", "--yes"}, 0},
        {{"status", "-H", "-o", "state,operation"}, 0, {}, "restoring\trestore\n"},
        {{"mirror", "restore", "Disk1:1", "--cancel"}, 0},
        {{"mirror", "restore", "Disk1:1", "--progress", "--json"},
         0,
         {{"/state", "cancelled"}, {"/result", "6FFC0065"}}},
        {{"mirror", "stat", "Disk1:1", "--json"}, 0, {{"/state", "suspended"}}},
        {{"mirror", "restore", "Disk1:1", "--cancel"}, 5, {}, {}, "6FFC0067"},
        {{"mirror", "restore", "Disk1:1", "--yes"}, 0},
        // The service goes away while qvctl follows.
        {{"mirror", "wait", "Disk1:1", "--json"},
         3,
         {{"/state", "running"}},
         {},
         "cannot read the restore progress of Disk1:1: lost the connection to the service at "
         "127.0.0.1:",
         RunOptions{.steps = {{"running", [this](pid_t) { daemon_.reset(); }}}}},
    });
}

// A trace entry as the library writes it: UTF-16LE, CR LF.
std::string Entry(const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii + "\r\n") bytes += {c, '\0'};
    return bytes;
}

TEST_F(Qvctl, LogPrintsAndFollowsTheTraceFiles) {
    const auto log = dir_.path() / "log";
    std::filesystem::create_directory(log);
    env_["QUARVANE_PARAMETERS"] =
        dir_.Write("parameters.ini", "[Parameters]\nPath=" + dir_.path().string() + "/\n");
    env_["QVCTL_PORT"] = std::to_string(LoopbackSocket(false).port);
    const std::string bom = "\xFF\xFE";
    dir_.Write("log/qvapi2.log", bom + Entry("2002-02-02 00:00:00 older"));
    dir_.Write("log/qvapi1.log", bom + Entry("2001-01-01 00:00:00 oldest"));
    const auto append = [&log](const std::string& name, const std::string& bytes) {
        std::ofstream(log / name, std::ios::binary | std::ios::app) << bytes;
    };
    const auto rotate = [&](pid_t) {
        std::filesystem::rename(log / "qvapi.log", log / "qvapi3.log");
        append("qvapi.log", bom + Entry("2003-03-03 00:00:00 rotated"));
    };
    RunTable({
        // The failed connect is the library's first entry in qvapi.log.
        {{"disks"}, 3, {}, {}, "unreachable"},
        {{"log"}, 0, {}, "2001-01-01 00:00:00 oldest\n2002-02-02 00:00:00 older\n20", {}, {}, "\r"},
        {{"log"}, 0, {}, " qvConnect, Create socket from RPC library error\n"},
        {{"log", "--since", "2002-01-01"}, 0, {}, "older\n", {}, {}, "oldest"},
        {{"log", "-f"},
         0,
         {},
         "error\n2003-03-03 00:00:00 appended\n2003-03-03 00:00:00 rotated\n",
         {},
         RunOptions{
             .steps = {{"error\n",
                        [&](pid_t) { append("qvapi.log", Entry("2003-03-03 00:00:00 appended")); }},
                       {"appended\n", rotate},
                       {"rotated\n", Interrupt}}}},
        {{"log", "--dir", (dir_.path() / "none").string()}, 1, {}, {}, "the trace is off"},
    });
}

// Usage errors exit with 2. The local service through systemd: with no
// system bus to reach, it is not active (3, as systemctl is-active says)
// and cannot be started.
TEST_F(Qvctl, UsageErrorsAndTheServiceWithoutASystemBus) {
    env_["QVCTL_PORT"] = std::to_string(LoopbackSocket(false).port);
    env_["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=/nonexistent/system_bus_socket";
    RunTable({
        {{}, 2, {}, {}, "A subcommand is required"},
        {{"mirror"}, 2, {}, {}, "A subcommand is required"},
        {{"mirror", "stat", "Disk1:x"}, 2, {}, {}, "is not a disk or partition"},
        {{"mirror", "stat", ":1"}, 2, {}, {}, "is not a disk or partition"},
        {{"mirror", "enable", "Disk1:1"}, 2, {}, {}, "MIRROR is required"},
        {{"mirror", "verify", "Disk1:1", "--cancel", "--wait"}, 2, {}, {}, "excludes"},
        {{"mirror", "enable", "Disk1:1", "Disk2", "--raw", "setting99=1"}, 2, {}, {}, "NAME=VALUE"},
        {{"mirror", "change", "Disk1:1", "--raw", "text4=x"}, 2, {}, {}, "enabled only"},
        {{"disks", "--kind", "candidates"}, 2, {}, {}, "--kind candidates needs --object"},
        {{"disks", "--kind", "some"}, 2, {}, {}, "is none of all, primaries"},
        {{"--port", "0", "disks"}, 2, {}, {}, "not in range"},
        {{"message", "0xZZ"}, 2, {}, {}, "is not a status"},
        {{"log", "--since", "yesterday"}, 2, {}, {}, "--since 'yesterday'"},
        {{"service", "status"}, 3, {}, "inactive\n"},
        {{"service", "status", "--json"}, 3, {{"/active", false}}},
        {{"service", "start"}, 1, {}, {}, "error EFFC0000"},
        {{"service", "stop"}, 1, {}, {}, "error EFFC0000"},
    });
}

// The disks, and a two-node cluster of which this machine is the first node.
constexpr const char* kClusterInventory = R"({
  "disks": [
    { "number": 1, "name": "Disk1", "size_mib": 8000,
      "partitions": [ { "number": 1, "letters": "E:", "size_mib": 1000 } ] } ],
  "cluster": { "name": "CL", "nodes": ["NODE-A", "NODE-B"], "local_node": "NODE-A",
    "groups": [
      { "name": "SQL", "tag": "T1", "owner": "NODE-A",
        "disks": [ { "name": "CD1", "id": 101, "text1": "Disk1", "text2": "E:" },
                   { "name": "CD2", "id": 102 } ] },
      { "name": "Files", "owner": "NODE-B", "disks": [ { "name": "CD3", "id": 103 } ] } ] },
  "system": { "computer": "NODE-A", "os": "Sim OS", "version": "9.9", "path": "/opt/qv",
              "processors": 8, "memory_mib": 2048, "os_major": 6, "os_minor": 3, "os_build": 9600 }
})";

// Cluster information, a failover, the events it raised, the trace level
// and a probe capture that tar lists.
TEST_F(Qvctl, ClusterFailoverEventsAndProbe) {
    StartDaemon({"--user", "operator", "--password", "pässword"}, kClusterInventory);
    const std::string probe = (dir_.path() / "probe.tar").string();
    const auto write_x = [this](pid_t) { RunQvctl({"events", "write", "x"}, env_); };
    RunTable({
        {{"cluster", "info", "--json"},
         0,
         {{"/0/group", "SQL"},
          {"/0/node", 1},
          {"/0/here", true},
          {"/0/partner_node", "NODE-B"},
          {"/1/group", "Files"},
          {"/1/here", false}}},
        {{"cluster", "info"}, 0, {}, "Cluster CL, this node NODE-A, partner NODE-B\nGROUP"},
        {{"cluster", "disks", "SQL", "-H", "-o", "disk,id,text2"}, 0, {}, "CD1\t101\tE:\nCD2\t102\t\n"},
        {{"cluster", "set-group", "SQL", "--disk", "CD2", "--json"},
         0,
         {{"/operation", "cluster set-group"}, {"/object", "SQL"}}},
        {{"cluster", "failover", "SQL"}, 2, {}, {}, "--yes"},
        {{"cluster", "failover", "SQL", "--yes"}, 0, {}, "Group SQL failed over (to-partner)."},
        {{"cluster", "failover", "Nope", "--yes"}, 5, {}, {}, "cluster group was not found"},
        {{"service", "trace-level", "get", "--json"}, 0, {{"/level", "2"}}},
        {{"service", "trace-level", "set", "detail-3"}, 0, {}, "Trace level set to detail-3."},
        {{"service", "trace-level", "set", "7"}, 2, {}, {}, "7"},
        // The cluster, the event log and the trace level are kept in the state file.
        kRestart,
        {{"service", "trace-level", "get", "--json"}, 0, {{"/level", "detail-3"}}},
        {{"cluster", "info", "--json"},
         0,
         {{"/0/node", 2}, {"/0/here", false}, {"/0/configured", true}, {"/0/failovers", 1},
          {"/0/disk", "CD2"}}},
        {{"events", "list", "--name", "SQL", "--json"},
         0,
         {{"/0/type", "information"},
          {"/1/number", 2},
          {"/1/type", "warning"},
          {"/1/subject", "SQL"},
          {"/1/text", "Cluster group SQL moved from NODE-A to NODE-B."}}},
        {{"events", "write", "--type", "error", "--message", "3", "--object", "Disk1:1", "bad"},
         0, {}, "Event written."},
        {{"events", "list", "--object", "Disk1:1", "-H", "-o", "number,type,code,text"},
         0, {}, "3\terror\tC00003EA\tbad\n"},
        {{"events", "list", "--type", "warning", "--last", "1", "-H", "-o", "text"},
         0, {}, "Cluster group SQL moved from NODE-A to NODE-B.\n"},
        // --follow lists what comes after the first listing until Ctrl-C.
        {{"events", "list", "--follow", "--interval", "0.1", "-H", "-o", "text"},
         0,
         {},
         "bad\nx\n",
         {},
         RunOptions{.steps = {{"bad\n", write_x}, {"x\n", Interrupt}}}},
        {{"cluster", "message", "ready"}, 0, {}, "Message sent."},
        {{"cluster", "pull", "--kind", "messages"}, 0, {}, "ready\n"},
        {{"cluster", "pull"}, 0, {}, "group SQL on NODE-B configured on CD2\n"},
        {{"cluster", "set-group", "Files", "--disk", "CD1"}, 5, {}, {}, "6FFC0705"},
        {{"cluster", "failover", "SQL", "--tag", "T2", "--yes"}, 5, {}, {}, "6FFC0704"},
        {{"cluster", "failover", "Files", "--action", "here", "--yes"}, 0},
        {{"cluster", "remove-group", "SQL", "--yes"}, 0, {}, "Configuration of group SQL removed."},
        {{"cluster", "remove-group", "SQL", "--yes"}, 5, {}, {}, "6FFC0705"},
        {{"cluster", "info", "--json"},
         0,
         {{"/0/configured", false}, {"/0/disk", "CD1"}, {"/1/here", true}, {"/1/node", 1}}},
        {{"sysinfo", "--json"},
         0,
         {{"/computer", "NODE-A"}, {"/system", "Sim OS"}, {"/version", "9.9"}, {"/path", "/opt/qv"},
          {"/processors", 8}, {"/memory_bytes", 2048 * kMiB}, {"/system_version", "6.3.9600"},
          {"/disks", 1}, {"/protections", 0}}},
        {{"probe", probe}, 0, {}, "Probe capture written to " + probe},
        {{"probe", probe}, 0, {}, {}, "Taking a probe capture from 127.0.0.1:", RunOptions{.terminal = true}},
        {{"probe", (dir_.path() / "no" / "probe.tar").string()}, 1, {}, {},
         "cannot take a probe capture"},
    });
    const std::unique_ptr<FILE, int (*)(FILE*)> tar(popen(("tar -tf '" + probe + "'").c_str(), "r"),
                                                     pclose);
    ASSERT_TRUE(tar);
    std::string listed;
    for (char line[256]; std::fgets(line, sizeof line, tar.get()) != nullptr;) listed += line;
    EXPECT_EQ(listed,
              "quarvane-probe/state.json\nquarvane-probe/events.log\nquarvane-probe/system.txt\n");
}

// Network boot end to end: the adapters of the inventory, this machine's
// drivers through the network-boot module (its state under the parameters
// file's Path), the service's own settings, and the environment that
// changes with the adapters.
TEST_F(Qvctl, NetworkBoot) {
    const std::string adapters = R"(,
  "adapters": [
    { "mac": "00-1b-21-ab-cd-ef", "name": "eth0", "speed_mbps": 1000, "flags": 1, "index": 2 }
  ])";
    std::string inventory = kInventory;
    inventory.insert(inventory.rfind('}'), adapters);
    dir_.Write("parameters.ini", "[Parameters]\nPath=" + dir_.path().string() + "\n");
    std::filesystem::create_directory(dir_.path() / "log");
    env_["QUARVANE_PARAMETERS"] = (dir_.path() / "parameters.ini").string();
    StartDaemon({"--user", "operator", "--password", "pässword"}, inventory.c_str());
    RunTable({
        {{"netboot", "adapters", "--json"},
         0,
         {{"/0/address", "00-1b-21-ab-cd-ef"}, {"/0/name", "eth0"}, {"/0/word1", 1000}}},
        {{"netboot", "status", "--json"}, 0, {{"/can_enable", true}, {"/enabled", false}}},
        {{"netboot", "enable", "00:1B:21:AB:CD:EF", "--json"}, 0, {{"/status", kOk}}},
        {{"netboot", "status", "--json"}, 0, {{"/enabled", true}, {"/net_env_changed", false}}},
        {{"netboot", "enable", "00-00-00-00-00-01"}, 5, {}, {}, "error 6FFC0300"},
        {{"netboot", "reconfig", "00-1b-21-ab-cd-ef"}, 0, {}, "re-configured"},
        {{"netboot", "disable"}, 2, {}, {}, "confirm with --yes"},
        {{"netboot", "disable", "--yes", "--json"}, 0, {{"/status", kOk}}},
        {{"netboot", "reconfig", "00-1b-21-ab-cd-ef"}, 5, {}, {}, "error E0D00003"},
        {{"netboot", "enable", "00-1b-21-ab-cd-zz"}, 2, {}, {}, "not a hardware address"},
        {{"boot-server", "properties"}, 5, {}, {}, "error 6FFC0042"},
        {{"boot-server", "enable", "--text", "pxelinux.0", "--word1", "5"}, 0, {}, "enabled"},
        {{"boot-server", "config", "--text", "grub", "--word4", "9"}, 0, {}, "set"},
        {{"boot-server", "properties", "--json"},
         0,
         {{"/path1", "/srv/tftp/grub"}, {"/word4", 9}, {"/word1", 0}}},
        {{"boot-server", "config", "--text", "sixteen-letters!"}, 2, {}, {}, "longer than 15"},
        {{"boot-server", "disable", "-y"}, 0, {}, "disabled"},
        {{"netboot", "status", "--json"}, 0, {{"/enabled", false}, {"/remote_boot_mode", 0}}},
    });
    // The drivers the module installed are gone again.
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "pxe" / "drivers"));

    // A rescan of a broken inventory fails and keeps the one read last.
    dir_.Write("inventory.json", "{ \"disks\": [ ");
    RunTable({
        {{"disks", "refresh"}, 5, {}, {}, "EFFC0031"},
        {{"netboot", "adapters", "-H", "-o", "name"}, 0, {}, "eth0\n"},
    });
    // Another adapter appears: once the service has rescanned, the network
    // environment has changed, until network boot is set up for it again.
    inventory.insert(inventory.rfind(']'),
                     R"(, { "mac": "00-1b-21-ab-cd-f0", "name": "eth1", "index": 3 })");
    dir_.Write("inventory.json", inventory);
    RunTable({
        {{"netboot", "status", "--json"}, 0, {{"/net_env_changed", false}}},  // not read unasked
        {{"disks", "refresh"}, 0},
        {{"netboot", "status", "--json"}, 0, {{"/net_env_changed", true}}},
        {{"netboot", "enable", "00-1b-21-ab-cd-f0"}, 0},
        {{"netboot", "status", "--json"}, 0, {{"/net_env_changed", false}, {"/enabled", true}}},
    });
}

// Two protections in a group: members added and shown by status, a group
// snapshot and a rollback to it followed to the end, operations on every
// member, a member removed, the group changed and deleted. Then a verify
// that --fail-verify makes meet a disk error halfway: it ends unfinished,
// and the failure is notified and logged.
TEST_F(Qvctl, GroupWalkthrough) {
    StartDaemon({"--user", "operator", "--password", "pässword", "--fail-verify", "Disk1:2"}, R"({
      "disks": [
        { "number": 0, "name": "Disk0", "size_mib": 10000, "system": true,
          "partitions": [ { "number": 1, "letters": "C:", "size_mib": 4000 } ] },
        { "number": 1, "name": "Disk1", "size_mib": 8000,
          "partitions": [ { "number": 1, "letters": "E:", "size_mib": 1000 },
                          { "number": 2, "letters": "F:", "size_mib": 1000 } ] },
        { "number": 2, "name": "Disk2", "size_mib": 8000 },
        { "number": 3, "name": "Disk3", "size_mib": 8000 }
      ]
    })");
    RunTable({
        {{"mirror", "enable", "Disk1:1", "Disk2"}, 0, {}, "enabled"},
        {{"mirror", "enable", "Disk1:2", "Disk3"}, 0, {}, "enabled"},
        {{"mirror", "sync", "Disk1:1", "--progress", "--wait", "--json"}, 0, {{"/state", "mirrored"}}},
        {{"mirror", "sync", "Disk1:2", "--progress", "--wait", "--json"}, 0, {{"/state", "mirrored"}}},
        {{"group", "create", "G1", "--text", "nightly", "--json"}, 0, {{"/status", kOk}}},
        {{"group", "create", "G1"}, 5, {}, {}, "6FFC0041"},
        {{"group", "add", "G1", "Disk1:1", "Disk1:2", "--json"}, 0, {{"/status", kOk}}},
        {{"group", "add", "G1", "Disk1:1"}, 5, {}, {}, "6FFC0506"},
        {{"group", "create", "Empty", "--mirror-kind", "2"}, 0},
        // Groups, empty or not, are kept in the state file with their members.
        kRestart,
        {{"group", "list", "--json"},
         0,
         {{"/0/group", "G1"}, {"/0/members", "Disk1:1,Disk1:2"}, {"/0/text", "nightly"},
          {"/1/group", "Empty"}, {"/1/mirror_kind", 2}}},
        {{"status", "--json"}, 0, {{"/0/group", "G1"}, {"/1/group", "G1"}}},
        {{"group", "snapshot", "G1", "--wait", "--json"},
         0,
         {{"/state", "completed"}, {"/done_bytes", 2000 * kMiB}}},
        {{"group", "stat", "G1", "--json"}, 0, {{"/members", 2}, {"/state", "mirrored"}}},
        {{"group", "rollback", "G1", "1"}, 2, {}, {}, "--yes"},
        {{"group", "rollback", "G1", "7", "--yes"}, 5, {}, {}, "6FFC0400"},
        {{"group", "rollback", "G1", "1", "--yes", "--wait", "--json"},
         0,
         {{"/state", "completed"}, {"/done_bytes", 2000 * kMiB}}},
        {{"group", "suspend", "G1"}, 0, {}, "Group G1 suspended."},
        {{"group", "stat", "G1", "--json"}, 0, {{"/state", "suspended"}}},
        {{"group", "resume", "G1", "--json"}, 0, {{"/status", kOk}}},
        {{"group", "remove", "G1", "Disk1:2", "--json"}, 0, {{"/status", kOk}}},
        {{"group", "change", "G1", "--mirror-kind", "2", "--json"}, 0, {{"/status", kOk}}},
        {{"group", "list", "G1", "--json"},
         0,
         {{"/0/members", "Disk1:1"}, {"/0/mirror_kind", 2}, {"/0/text", "nightly"}}},
        {{"group", "delete", "G1"}, 2, {}, {}, "Delete group G1?"},
        {{"group", "delete", "G1", "--yes", "--json"}, 0, {{"/status", kOk}}},
        {{"group", "list", "-H", "-o", "group"}, 0, {}, "Empty\n", {}, {}, "G1"},
        {{"group", "stat", "G1"}, 5, {}, {}, "6FFC0300"},
        {{"mirror", "wait", "Disk1:2"}, 0},
        {{"mirror", "verify", "Disk1:2", "--wait", "--json"},
         1,
         {{"/state", "cancelled"}, {"/compared_bytes", 500 * kMiB}, {"/total_bytes", 1000 * kMiB}}},
        {{"mirror", "stat", "Disk1:2", "--json"}, 0, {{"/state", "mirrored"}}},
        {{"notifications", "-H", "-o", "text"}, 0, {}, "Disk1:2: verify failed\n"},
        {{"events", "list", "--type", "error", "-H", "-o", "text"},
         0,
         {},
         "Verify of Disk1:2 failed with EFFC0031.\n"},
    });
}

}  // namespace
}  // namespace qvctltest
