// qvctl against a real quarvane-sim, from tables of cases. Each row is one
// qvctl command line with what it must exit with, what its JSON output
// (the last line of stdout) must hold, and what stdout or stderr must say.
// The rows of a table run in order against one daemon, so a table is a
// scenario.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "harness.h"

namespace qvctltest {
namespace {

using nlohmann::json;

struct Case {
    std::vector<std::string> args;
    int exit_code = 0;
    // JSON pointer into the last line of stdout, and the value it must hold.
    std::vector<std::pair<std::string, json>> expect = {};
    std::string out_has = {};  // text stdout must contain
    std::string err_has = {};  // text stderr must contain
};

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
    void StartDaemon() {
        const auto inventory = dir_.Write("inventory.json", kInventory);
        daemon_ = std::make_unique<Daemon>(
            std::vector<std::string>{"--inventory", inventory.string(), "--state-file",
                                     (dir_.path() / "state.json").string(), "--user", "operator",
                                     "--password", "pässword", "--rate", "1000"});
        env_["QVCTL_PORT"] = std::to_string(daemon_->port());
    }

    void RunTable(const std::vector<Case>& table) {
        for (const Case& c : table) Run(c);
    }

    void Run(const Case& c) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        SCOPED_TRACE("qvctl " + line);
        const RunResult r = RunQvctl(c.args, env_);
        ASSERT_EQ(r.exit_code, c.exit_code) << "stdout:\n" << r.out << "stderr:\n" << r.err;
        EXPECT_NE(r.out.find(c.out_has), std::string::npos) << "no \"" << c.out_has << "\" in:\n"
                                                            << r.out;
        EXPECT_NE(r.err.find(c.err_has), std::string::npos) << "no \"" << c.err_has << "\" in:\n"
                                                            << r.err;
        if (c.exit_code != 0) {
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
          {"/1/display_name", "Disk 0 Partition 1 - System (C:)"},
          {"/1/size", 4000},
          {"/1/measure", 1048576},
          {"/4/display_name", "Disk 1 Partition 2 - Données (F:)"},
          {"/5/object", "Диск2"}}},
        {{"disks"}, 0, {}, "Disk 1 Partition 2 - Données (F:)"},
        {{"mirror", "enable", "Disk1:1", "Диск2", "--limit", "1000", "--text1", "nota bene",
          "--json"},
         0,
         {{"/operation", "enable"}, {"/object", "Disk1:1"}, {"/status", kOk}}},
        {{"mirror", "list", "--json"},
         0,
         {{"/0/primary", "Disk1:1"},
          {"/0/mirror", "Диск2"},
          {"/0/limit_on", 1},
          {"/0/limit", 1000},
          {"/0/text1", "nota bene"},
          {"/0/text2", nullptr}}},
        // A new protection starts with its first synchronisation: follow it.
        {{"mirror", "sync", "Disk1:1", "--progress", "--wait", "--json"},
         0,
         {{"/operation", "sync"}, {"/state_name", "mirrored"}, {"/percent", 100}}},
        {{"mirror", "sync", "Disk1:1", "--wait", "--json"},
         0,
         {{"/state", 1}, {"/running", false}, {"/percent", 100}}},
        {{"mirror", "stat", "Disk1:1", "--json"},
         0,
         {{"/state_name", "mirrored"},
          {"/condition_name", "normal"},
          {"/amount1_kib", 1024000},
          {"/amount2_kib", 0},
          {"/progress", nullptr}}},
        {{"mirror", "verify", "Disk1:1", "--wait", "--json"},
         0,
         {{"/operation", "verify"}, {"/state_name", "completed"}, {"/percent", 100}}},
        {{"mirror", "verify", "Disk1:1", "--progress", "--json"}, 0, {{"/state", 2}}},
        {{"mirror", "restore", "Disk1:1", "--wait", "--json"},
         0,
         {{"/operation", "restore"}, {"/state_name", "completed"}, {"/total_done", 1000}}},
        // change keeps the fields it is not given.
        {{"mirror", "change", "Disk1:1", "--setting1", "-5", "--switch1", "on", "--json"},
         0,
         {{"/status", kOk}}},
        {{"mirror", "list", "Disk1:1", "--json"},
         0,
         {{"/0/setting1", -5}, {"/0/switch1", 1}, {"/0/limit", 1000}, {"/0/text1", "nota bene"}}},
        {{"trace-config", "set", "Disk1:1", "--text", "journal ✓", "--count", "3", "--json"},
         0,
         {{"/status", kOk}}},
        {{"trace-config", "set", "Disk1:1", "--option", "7", "--json"}, 0, {{"/status", kOk}}},
        {{"trace-config", "get", "Disk1:1", "--json"},
         0,
         {{"/option", 7}, {"/text", "journal ✓"}, {"/count", 3}}},
        {{"mirror", "suspend", "Disk1:1", "--json"}, 0, {{"/status", kOk}}},
        {{"mirror", "stat", "Disk1:1", "--json"}, 0, {{"/state_name", "suspended"}}},
        {{"mirror", "resume", "Disk1:1"}, 0, {}, "Protection of Disk1:1 resumed."},
        {{"mirror", "disable", "Disk1:1", "--json"}, 0, {{"/status", kOk}}},
        {{"mirror", "list", "--json"}, 0, {{"", json::array()}}},
    });
}

TEST_F(Qvctl, ServiceRefusalsPrintStatusAndText) {
    StartDaemon();
    RunTable({
        {{"mirror", "enable", "Disk1:1", "Диск2"}, 0, {}, "enabled"},
        {{"mirror", "enable", "Disk1:1", "Диск2", "--json"},
         1,
         {},
         {},
         "error 6FFC0041: The specified protected disk already exists."},
        {{"mirror", "enable", "Disk1:2", "Disk0"},
         1,
         {},
         {},
         "error 6FFC0016: You cannot use the system disk as a mirror disk."},
        {{"mirror", "stat", "Disk1:2"},
         1,
         {},
         {},
         "error 6FFC0040: Unable to find the specified protected disk."},
        {{"mirror", "change", "Disk1:2", "--limit", "5"}, 1, {}, {}, "error 6FFC0040"},
        {{"mirror", "restore", "Disk1:1", "--progress"},
         1,
         {},
         {},
         "error 6FFC0067: No task is running."},
        {{"disks", "--kind", "8", "--object", "Disk1:9"},
         1,
         {},
         {},
         "error 6FFC0011: Unable to find the specified partition."},
    });
}

TEST_F(Qvctl, SnapshotWalkthrough) {
    StartDaemon();
    RunTable({
        {{"snapshot", "take", "Диск2"}, 1, {}, {}, "error 6FFC0040"},
        {{"mirror", "enable", "Disk1:1", "Диск2"}, 0, {}, "enabled"},
        {{"mirror", "sync", "Disk1:1", "--progress", "--wait", "--json"}, 0, {{"/state", 1}}},
        // Take a snapshot, mount it as a view, list the view's disk, unmount.
        {{"snapshot", "take", "Disk1:1", "--wait", "--json"},
         0,
         {{"/operation", "snapshot"}, {"/state_name", "completed"}, {"/percent", 100}}},
        {{"snapshot", "list", "Disk1:1", "--json"},
         0,
         {{"/snapshots/0/id", 1},
          {"/snapshots/0/name", "Snapshot 1"},
          {"/snapshots/0/view", nullptr}}},
        {{"view", "mount", "Disk1:1", "1", "--name", "Matin", "--json"}, 0, {{"/status", kOk}}},
        {{"view", "mount", "Disk1:1", "1", "--name", "Matin"}, 1, {}, {}, "error 6FFC0506"},
        {{"view", "list", "Disk1:1", "--json"}, 0, {{"/views/0/view", "Matin"}}},
        {{"view", "list", "Disk1:1", "1", "--json"},
         0,
         {{"/disks/0/object", "Backlook100"},
          {"/disks/1/object", "Backlook100:1"},
          {"/disks/1/display_name", "Disk 100 Partition 1 - Matin (E:)"}}},
        {{"rollback", "Disk1:1", "1", "--yes"}, 1, {}, {}, "error 6FFC0401"},
        {{"view", "unmount", "Disk1:1", "1"}, 0, {}, "unmounted"},
        // Roll back: asked first, and nobody can answer without a terminal.
        {{"rollback", "Disk1:1", "1"}, 2, {}, {}, "--yes"},
        {{"rollback", "Disk1:1", "1", "--yes", "--wait", "--json"},
         0,
         {{"/operation", "rollback"}, {"/state_name", "completed"}, {"/total_done", 1000}}},
        {{"notifications", "--json"},
         0,
         {{"/0/text", "Disk1:1: synchronisation finished"},
          {"/1/sequence", 2},
          {"/1/text", "Disk1:1: snapshot 1 taken"}}},
        {{"schedule", "set", "Disk1:1", "--mode", "2", "--param1", "30", "--json"},
         0,
         {{"/status", kOk}}},
        {{"schedule", "show", "Disk1:1", "--json"},
         0,
         {{"/in_force", true}, {"/mode", 2}, {"/params/0", 30}}},
        {{"schedule", "remove", "Disk1:1"}, 0, {}, "removed"},
        {{"snapshot", "delete", "Disk1:1", "1", "--json"}, 0, {{"/status", kOk}}},
        {{"snapshot", "list", "Disk1:1", "--json"}, 0, {{"/snapshots", json::array()}}},
        {{"snapshot", "cancel", "Disk1:1"}, 1, {}, {}, "error 6FFC0067"},
    });
}

TEST_F(Qvctl, PartitionsAndDiskMaintenance) {
    StartDaemon();
    RunTable({
        {{"partition", "alloc", "Диск2", "--size", "1000", "--fs", "1"}, 0, {}, "allocated"},
        {{"partition", "expand", "Диск2:1", "500", "--json"}, 0, {{"/status", kOk}}},
        {{"partition", "relocate", "Диск2:1", "7000"}, 1, {}, {}, "error 6FFC0503"},
        {{"disks", "--kind", "8", "--object", "Диск2:1", "--json"}, 0, {{"/0/size", 1500}}},
        {{"disk", "throughput", "Disk1", "--json"}, 0, {{"/object", "Disk1"}}},
        {{"disk", "bench", "Disk1"}, 0, {}, "done"},
        {{"disk", "conflicts", "Disk1:1", "Диск2", "--json"}, 0, {{"", json::array()}}},
    });
}

TEST_F(Qvctl, ConnectionFailures) {
    StartDaemon();
    const ClosedPort closed;
    RunTable({
        {{"--password", "wrong", "disks"}, 1, {}, {}, "error 6FFC0300"},
        {{"disks", "--user", "nobody"}, 1, {}, {}, "error 6FFC0300"},
        {{"--port", std::to_string(closed.port()), "mirror", "list"},
         1,
         {},
         {},
         "error 6FFC8001: There is no connection to the Quarvane service."},
    });
}

TEST_F(Qvctl, MessagesNeedNoConnection) {
    env_["QVCTL_PORT"] = std::to_string(ClosedPort().port());
    RunTable({
        {{"message", "0x6FFC0010"}, 0, {}, "Unable to find the specified disk.\n"},
        {{"message", "0x6FFC0010", "--json"},
         0,
         {{"/status", "6FFC0010"}, {"/message", "Unable to find the specified disk."}}},
        {{"message", "6ffc0041", "--json"}, 0, {{"/status", "6FFC0041"}}},
        {{"message", "1878786064", "--json"}, 0, {{"/status", "6FFC0010"}}},
        {{"message", "0x6FFC8004", "--json"}, 0, {{"/message", "6FFC8004"}}},
    });
}

TEST_F(Qvctl, UsageErrorsExitTwo) {
    env_["QVCTL_PORT"] = std::to_string(ClosedPort().port());
    RunTable({
        {{}, 2, {}, {}, "A subcommand is required"},
        {{"mirror"}, 2, {}, {}, "A subcommand is required"},
        {{"mirror", "stat", "Disk1:x"}, 2, {}, {}, "is not a disk or partition"},
        {{"mirror", "stat", ":1"}, 2, {}, {}, "is not a disk or partition"},
        {{"mirror", "enable", "Disk1:1"}, 2, {}, {}, "MIRROR is required"},
        {{"mirror", "verify", "Disk1:1", "--cancel", "--wait"}, 2, {}, {}, "excludes"},
        {{"mirror", "enable", "Disk1:1", "Disk2", "--mirror-kind", "3"}, 2, {}, {}, "not in"},
        {{"mirror", "change", "Disk1:1", "--text4", "x"}, 2, {}, {}, "not expected"},
        {{"disks", "--kind", "7"}, 2, {}, {}, "--kind 7 needs --object"},
        {{"disks", "--kind", "2"}, 2, {}, {}, "not in"},
        {{"--port", "0", "disks"}, 2, {}, {}, "not in range"},
        {{"message", "0xZZ"}, 2, {}, {}, "is not a status"},
        {{"message", "4294967296"}, 2, {}, {}, "is not a status"},
        {{"mirror", "--help"}, 0, {}, "cancel-sync"},
    });
}

}  // namespace
}  // namespace qvctltest
